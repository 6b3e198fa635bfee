#include "sacd/layout.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "audio/plain_source.h"
#include "sacd/area_toc.h"
#include "sacd/genre.h"
#include "sacd/text_encoding.h"

namespace varn {

uint64_t plain_frame_bytes(const InputTrack& t) { return uint64_t(t.sample_rate / 600) * t.channels; }

uint64_t plain_stream_bytes(const InputTrack& t) {
  const uint64_t frame = plain_frame_bytes(t);
  const uint64_t len = plain_payload_bytes(t);
  if (frame == 0 || len % frame == 0) return len;
  return len + (frame - len % frame);
}

static uint32_t clamp32(uint64_t v) {
  return v > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                   : uint32_t(v);
}

uint32_t track_frame_count(const InputTrack& t) {
  if (t.is_dst) return clamp32(dst_frame_count(t.dst_frames));
  const uint64_t frame = plain_frame_bytes(t);
  if (frame == 0) return 0;
  return clamp32(plain_stream_bytes(t) / frame);
}

uint64_t plain_pause_bytes(const InputTrack& t) { return uint64_t(t.pause_frames) * plain_frame_bytes(t); }

DstFrameSpan dst_frame_span(uint32_t length, uint32_t carry) {
  DstFrameSpan span;
  if (carry >= length) return span;
  const uint32_t rest = length - carry;
  span.sectors = 1;
  if (rest <= kDstFirstRoom) return span;
  uint32_t r = rest - kDstFirstRoom;
  while (r > kDstLastRoom) {
    ++span.sectors;
    r -= r < kDstMiddleRoom ? r : kDstMiddleRoom;
  }
  if (r > 0) {
    ++span.sectors;
    span.last_bytes = r;
  }
  return span;
}

std::vector<DstFramePack> dst_packing_table(const std::vector<uint32_t>& lengths,
                                            const std::vector<bool>& track_ends) {
  std::vector<DstFramePack> table(lengths.size());
  uint32_t carry = 0;
  for (size_t i = 0; i < lengths.size(); ++i) {
    const DstFrameSpan span = dst_frame_span(lengths[i], carry);
    const bool ends_track = i < track_ends.size() && track_ends[i];
    table[i].sectors = span.sectors;
    table[i].head = i + 1 < lengths.size() && !ends_track ? dst_next_carry(span, lengths[i + 1]) : 0;
    carry = table[i].head;
  }
  return table;
}

AreaPlan plan_area(const std::vector<InputTrack>& tracks, const std::vector<uint64_t>& area) {
  AreaPlan plan;
  const size_t n = area.size();
  plan.track_start.assign(n, 0);
  plan.track_frames.assign(n, 0);
  plan.track_sectors.assign(n, 0);
  plan.track_time.assign(n, 0);

  // The DST frames of the area form one sequence whose frames may share
  // sectors across track boundaries.
  std::vector<uint32_t> lengths;
  std::vector<bool> ends;
  std::vector<size_t> owner;
  for (size_t i = 0; i < n; ++i) {
    const InputTrack& t = tracks[area[i]];
    if (!t.is_dst) continue;
    for (const DstFrameRef& f : t.dst_frames.frames) {
      lengths.push_back(f.length);
      ends.push_back(false);
      owner.push_back(i);
    }
    if (!t.dst_frames.frames.empty()) ends.back() = true;
  }
  const std::vector<DstFramePack> table = dst_packing_table(lengths, ends);
  std::vector<uint64_t> dst_sectors(n, 0);
  for (size_t k = 0; k < table.size(); ++k) dst_sectors[owner[k]] += table[k].sectors;

  // Time codes: the DST frames run from 0 in sequence, the plain tracks from
  // 0 with the pauses between them (an area holds one coding only).
  uint64_t s = 0;
  uint64_t dst_frames = 0;
  uint64_t plain_frames = 0;
  for (size_t i = 0; i < n; ++i) {
    const InputTrack& t = tracks[area[i]];
    plan.track_frames[i] = track_frame_count(t);
    uint64_t own;
    if (t.is_dst) {
      own = dst_sectors[i];
      plan.track_time[i] = clamp32(dst_frames);
      dst_frames += plan.track_frames[i];
    } else {
      if (plain_frames != 0 && t.pause_frames != 0) {
        s += plain_stream_sectors(plain_pause_bytes(t));
        plain_frames += t.pause_frames;
      }
      own = plain_stream_sectors(plain_stream_bytes(t));
      plan.track_time[i] = clamp32(plain_frames);
      plain_frames += plan.track_frames[i];
    }
    plan.track_start[i] = clamp32(s);
    plan.track_sectors[i] = clamp32(own);
    s += own;
  }
  plan.total_sectors = s;
  plan.total_frames = clamp32(dst_frames + plain_frames);
  return plan;
}

namespace {

std::string track_name(size_t pos, const std::vector<std::string>& paths) {
  std::string s = "track " + std::to_string(pos + 1);
  if (pos < paths.size() && !paths[pos].empty()) s += " (" + paths[pos] + ")";
  return s;
}

// "track 1 (a.dsf), track 3 (c.dsf)", at most eight names.
std::string name_list(const std::vector<uint64_t>& positions, const std::vector<std::string>& paths) {
  std::string s;
  const size_t shown = positions.size() < 8 ? positions.size() : 8;
  for (size_t i = 0; i < shown; ++i) {
    if (i) s += ", ";
    s += track_name(positions[i], paths);
  }
  if (positions.size() > shown) s += " and " + std::to_string(positions.size() - shown) + " more";
  return s;
}

bool rate_has_code(const InputTrack& t) {
  const uint32_t base = base_rate_of(t.sample_rate);
  if (t.sample_rate % base != 0) return false;
  const uint32_t m = t.sample_rate / base;
  return m == 64 || m == 128 || m == 256;
}

}  // namespace

Status area_refusal(const std::vector<InputTrack>& tracks, const std::vector<uint64_t>& area,
                    const std::vector<std::string>& paths, const AreaCoding& coding, bool multichannel) {
  const char* name = multichannel ? "multichannel" : "2ch (stereo)";
  char head[160];
  if (area.size() > kMaxAreaTracks) {
    std::snprintf(head, sizeof head, "Error: the %s area has %zu tracks, but one area holds at most %zu",
                  name, area.size(), kMaxAreaTracks);
    return Error{std::string(head) + " -- split the album over several discs\n"};
  }
  for (uint64_t pos : area) {
    if (pos >= tracks.size()) return Error{"Error: internal: area track position out of range\n"};
    const InputTrack& t = tracks[pos];
    if (track_frame_count(t) == 0)
      return Error{"Error: " + track_name(pos, paths) + " of the " + name +
                   " area holds no audio frames -- remove it from the job\n"};
    if (!rate_has_code(t))
      return Error{"Error: " + track_name(pos, paths) + " of the " + name + " area is at " +
                   std::to_string(t.sample_rate) +
                   " Hz; an SACD area carries DSD64, DSD128 or DSD256 of the 44.1 or 48 kHz family "
                   "-- convert the track to one of these rates\n"};
  }
  if (area.empty()) return std::nullopt;

  std::vector<uint64_t> dst, plain;
  for (uint64_t pos : area) (tracks[pos].is_dst ? dst : plain).push_back(pos);
  if (!dst.empty() && !plain.empty()) {
    std::string fix;
    if (!multichannel && !coding.dst_stereo)
      fix = "add --dst-stereo so that the stereo tracks are DST-coded as well";
    else if (multichannel && coding.no_encode)
      fix = "drop --no-encode so that the plain multichannel tracks are DST-coded as well";
    else
      fix = "the plain tracks could not be DST-coded (see the [DST] messages above); replace or "
            "remove them";
    return Error{std::string("Error: the ") + name +
                 " area mixes DST-coded and plain DSD tracks, which one Area TOC cannot describe (DST: " +
                 name_list(dst, paths) + "; plain DSD: " + name_list(plain, paths) + ") -- " + fix + "\n"};
  }

  const InputTrack& first = tracks[area[0]];
  std::vector<uint64_t> other_rate;
  for (uint64_t pos : area)
    if (tracks[pos].sample_rate != first.sample_rate) other_rate.push_back(pos);
  if (!other_rate.empty())
    return Error{std::string("Error: the ") + name +
                 " area mixes sample rates, which one Area TOC cannot describe (" + track_name(area[0], paths) +
                 ": " + std::to_string(first.sample_rate) + " Hz; other rates: " + name_list(other_rate, paths) +
                 ") -- convert the tracks to one rate, or put them on separate discs\n"};

  if (multichannel) {
    std::vector<uint64_t> other_ch;
    for (uint64_t pos : area)
      if (tracks[pos].channels != first.channels) other_ch.push_back(pos);
    if (!other_ch.empty())
      return Error{std::string("Error: the multichannel area mixes channel counts, which one Area TOC cannot "
                               "describe (") +
                   track_name(area[0], paths) + ": " + std::to_string(first.channels) +
                   " channels; other counts: " + name_list(other_ch, paths) +
                   ") -- give all multichannel tracks the same channel count, or put them on separate discs\n"};
  }
  return std::nullopt;
}

Status plan_disc_layout(std::vector<InputTrack>& tracks, const Album& album, DiscLayout& l) {
  l.tracks = &tracks;
  l.album = &album;
  std::vector<uint64_t> area[2];
  for (bool mch : {false, true})
    for (size_t pos : area_track_positions(tracks, mch)) area[mch].push_back(pos);
  l.stereo = plan_area(tracks, area[0]);
  l.multi = plan_area(tracks, area[1]);
  // The Area TOC blocks grow with their track text, which depends on the
  // disc's character set.
  l.charset = disc_charset(album.title, album.artist, tracks, album.label);
  uint32_t reserved[2] = {0, 0};
  for (bool mch : {false, true}) {
    if (area[mch].empty()) continue;
    const std::vector<size_t> positions(area[mch].begin(), area[mch].end());
    const AreaTocShape shape = area_toc_shape(tracks, positions, album.isrcs, l.charset, sacd_genre_code(album.genre));
    if (shape.text_sectors > kMaxTrackTextSectors)
      return make_error("Error: the track titles and artists of the %s area need %u text sectors, but an "
                        "Area TOC holds at most %u -- shorten the track texts\n",
                        mch ? "multichannel" : "2ch (stereo)", shape.text_sectors, kMaxTrackTextSectors);
    reserved[mch] = shape.reserved;
  }
  place_fixed_positions(l, reserved[0], reserved[1]);
  return fits_largest_disc(l);
}

void place_fixed_positions(DiscLayout& l, uint32_t stereo_toc_sectors, uint32_t multi_toc_sectors) {
  l.master_toc_lsn = 510;
  l.master_text_lsn = 511;
  l.master_text_copies = 8;
  l.manufacturer_lsn = 519;
  const bool two = l.stereo.total_sectors > 0;
  const bool mch = l.multi.total_sectors > 0;
  l.area1_toc_lsn = l.area1_toc_sectors = l.area2_toc_lsn = l.area2_toc_sectors = 0;
  l.audio_start_lsn = kAreaTocFirstLsn;
  if (two || mch) {
    l.area1_toc_lsn = kAreaTocFirstLsn;
    l.area1_toc_sectors = two ? stereo_toc_sectors : multi_toc_sectors;
    l.audio_start_lsn = l.area1_toc_lsn + l.area1_toc_sectors;
  }
  if (two && mch) {
    l.area2_toc_lsn = l.audio_start_lsn;
    l.area2_toc_sectors = multi_toc_sectors;
    l.audio_start_lsn = l.area2_toc_lsn + l.area2_toc_sectors;
  }
}

std::string layout_plan_text(const DiscLayout& l) {
  std::string s;
  char line[160];
  std::snprintf(line, sizeof line, "\nISO Layout:\n  Master TOC  LSN %u\n", l.master_toc_lsn);
  s += line;
  const bool two = l.stereo.total_sectors > 0;
  const bool mch = l.multi.total_sectors > 0;
  if (two) {
    std::snprintf(line, sizeof line, "  Area 1(2ch) LSN %u (%u blocks)\n", l.area1_toc_lsn, l.area1_toc_sectors);
    s += line;
  }
  if (mch && two) {
    std::snprintf(line, sizeof line, "  Area 2(Mch) LSN %u (%u blocks)\n", l.area2_toc_lsn, l.area2_toc_sectors);
    s += line;
  } else if (mch) {
    std::snprintf(line, sizeof line, "  Area 1(Mch) LSN %u (%u blocks)\n", l.area1_toc_lsn, l.area1_toc_sectors);
    s += line;
  }
  std::snprintf(line, sizeof line, "  SACD Text   LSN %u\n  SACD_Man    LSN %u\n  Audio Start LSN %u\n",
                l.master_text_lsn, l.manufacturer_lsn, l.audio_start_lsn);
  s += line;
  std::snprintf(line, sizeof line, "  Stereo: %llu LSNs  Multi: %llu LSNs\n",
                static_cast<unsigned long long>(l.stereo.total_sectors),
                static_cast<unsigned long long>(l.multi.total_sectors));
  s += line;
  return s;
}

std::vector<size_t> area_track_positions(const std::vector<InputTrack>& tracks, bool multichannel) {
  std::vector<size_t> out;
  for (size_t i = 0; i < tracks.size(); ++i)
    if (in_stereo_area(tracks[i]) != multichannel) out.push_back(i);
  return out;
}

uint32_t area_toc_lsn(const DiscLayout& l, bool multichannel) {
  if (!area_exists(l, multichannel)) return 0;
  if (multichannel && area_exists(l, false)) return l.area2_toc_lsn;
  return l.area1_toc_lsn;
}

uint32_t area_toc_sectors(const DiscLayout& l, bool multichannel) {
  if (!area_exists(l, multichannel)) return 0;
  if (multichannel && area_exists(l, false)) return l.area2_toc_sectors;
  return l.area1_toc_sectors;
}

uint32_t area_start_lsn(const DiscLayout& l, bool multichannel) {
  return multichannel ? uint32_t(l.audio_start_lsn + l.stereo.total_sectors) : l.audio_start_lsn;
}

uint64_t sacd_end_lsn(const DiscLayout& l) {
  return uint64_t(l.audio_start_lsn) + l.stereo.total_sectors + l.multi.total_sectors + 2;
}

Status fits_largest_disc(const DiscLayout& l) {
  const uint64_t bytes = (sacd_end_lsn(l) + kVolumeTailSectors) * kSectorSize;
  if (bytes <= kLargestDiscBytes) return std::nullopt;
  uint32_t pause = 0;
  if (l.tracks)
    for (const InputTrack& t : *l.tracks) pause = std::max(pause, t.pause_frames);
  if (pause != 0)
    return make_error("Error: with a pause of %u frames between tracks the image would take %llu bytes, more than "
                      "the largest disc it could be burnt to holds (BD-R XL, %llu bytes); choose a shorter --pause\n",
                      pause, static_cast<unsigned long long>(bytes),
                      static_cast<unsigned long long>(kLargestDiscBytes));
  return make_error("Error: the image would take %llu bytes, more than the largest disc it could be burnt to holds "
                    "(BD-R XL, %llu bytes)\n",
                    static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(kLargestDiscBytes));
}

}  // namespace varn
