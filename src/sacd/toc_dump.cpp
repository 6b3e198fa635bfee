#include "sacd/toc_dump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "audio/plain_source.h"
#include "platform/small_file.h"
#include "platform/text_format.h"
#include "sacd/layout.h"
#include "sacd/sector.h"

namespace varn {

namespace {

const std::vector<InputTrack>& tracks_of(const DiscLayout& l) {
  static const std::vector<InputTrack> kNone;
  return l.tracks ? *l.tracks : kNone;
}

void area_block(std::string& out, const PlannedArea& a, bool first) {
  append_format(out, "%-22s LSN %u (%u sector%s)\n",
                !a.multichannel ? "Area 1 (2ch)" : first ? "Area 1 (Mch)" : "Area 2 (Mch)", a.toc_lsn,
                a.toc_sectors, a.toc_sectors == 1 ? "" : "s");
  append_format(out, "  Audio sectors: %u  Tracks: %zu\n", a.total_sectors, a.tracks.size());
  for (size_t i = 0; i < a.tracks.size(); ++i)
    append_format(out, "  Track %-3zu    offset %u, %u frames\n", i + 1, a.tracks[i].lsn - a.start_lsn,
                  a.tracks[i].frames);
}

// The first `n` bytes of the planned structure at `lsn` (zeros when there
// is none).
std::vector<uint8_t> structure_bytes(const ImagePlan& plan, uint32_t lsn, size_t n) {
  std::vector<uint8_t> out(n, 0);
  if (const SectorRun* run = planned_structure(plan, lsn))
    std::copy_n(run->bytes.begin(), std::min(n, run->bytes.size()), out.begin());
  return out;
}

// Byte readers that see zeros beyond the end of a short buffer.
uint32_t byte_at(const std::vector<uint8_t>& b, size_t i) { return i < b.size() ? b[i] : 0; }
uint32_t be16_at(const std::vector<uint8_t>& b, size_t i) { return (byte_at(b, i) << 8) | byte_at(b, i + 1); }
uint32_t be32_at(const std::vector<uint8_t>& b, size_t i) {
  return (be16_at(b, i) << 16) | be16_at(b, i + 2);
}
std::string chars_at(const std::vector<uint8_t>& b, size_t i, size_t n) {
  std::string s;
  for (size_t k = 0; k < n; ++k) {
    const uint32_t c = byte_at(b, i + k);
    if (c == 0) break;
    s += char(c);
  }
  return s;
}
// Zero-terminated text at a position, bounded by the buffer.
std::string text_at(const std::vector<uint8_t>& b, size_t pos) {
  std::string s;
  for (size_t i = pos; i < b.size() && b[i]; ++i) s += char(b[i]);
  return s;
}

const char* frequency_name(uint32_t code) {
  switch (code) {
    case 4: return "64x44.1kHz (DSD64)";
    case 5: return "128x44.1kHz (DSD128)";
    case 6: return "256x44.1kHz (DSD256)";
    case 7: return "512x44.1kHz (DSD512)";
    case 8: return "64x44.1kHz (DST64)";
    case 9: return "128x44.1kHz (DST128)";
    case 10: return "256x44.1kHz (DST256)";
    case 11: return "64x48kHz (DST64/48)";
    case 12: return "128x48kHz (DST128/48)";
    case 13: return "256x48kHz (DST256/48)";
    case 14: return "64x48kHz (DSD64/48)";
    case 15: return "128x48kHz (DSD128/48)";
    case 16: return "256x48kHz (DSD256/48)";
    default: return "?";
  }
}

const char* frame_format_name(uint32_t v) {
  switch (v) {
    case 0: return "DST";
    case 2: return "DSD 3:14";
    case 3: return "DSD 3:16";
    default: return "?";
  }
}

const char* speaker_name(uint32_t v) {
  switch (v) {
    case 0: return "stereo";
    case 3: return "5.0";
    case 4: return "6.0";
    default: return "?";
  }
}

void detail_master_toc(std::string& out, const std::vector<uint8_t>& m) {
  append_format(out, "%-30s %s\n", "id", chars_at(m, 0, 8).c_str());
  append_format(out, "%-30s %u.%02u\n", "version", byte_at(m, 8), byte_at(m, 9));
  append_format(out, "%-30s %u\n", "album_set_size", be16_at(m, 16));
  append_format(out, "%-30s %u\n", "album_sequence_number", be16_at(m, 18));
  append_format(out, "%-30s %.16s\n", "album_catalog_number", chars_at(m, 24, 16).c_str());
  for (int i = 0; i < 4; ++i)
    append_format(out, "album_genre[%d]      category=%u genre=%u\n", i, byte_at(m, 40 + 4 * i),
            byte_at(m, 43 + 4 * i));
  append_format(out, "%-30s LSN %u\n", "area_1_toc_1_start", be32_at(m, 64));
  append_format(out, "%-30s LSN %u\n", "area_1_toc_2_start", be32_at(m, 68));
  append_format(out, "%-30s LSN %u\n", "area_2_toc_1_start", be32_at(m, 72));
  append_format(out, "%-30s LSN %u\n", "area_2_toc_2_start", be32_at(m, 76));
  append_format(out, "%-30s %s\n", "disc_type", (byte_at(m, 80) & 0x80) ? "hybrid" : "SACD only");
  append_format(out, "%-30s %u sectors\n", "area_1_toc_size", be16_at(m, 84));
  append_format(out, "%-30s %u sectors\n", "area_2_toc_size", be16_at(m, 86));
  append_format(out, "%-30s %.16s\n", "disc_catalog_number", chars_at(m, 88, 16).c_str());
  for (int i = 0; i < 4; ++i)
    append_format(out, "disc_genre[%d]        category=%u genre=%u\n", i, byte_at(m, 104 + 4 * i),
            byte_at(m, 107 + 4 * i));
  append_format(out, "%-30s %04u-%02u-%02u\n", "disc_date", be16_at(m, 120), byte_at(m, 122), byte_at(m, 123));
  append_format(out, "%-30s %u\n", "text_area_count", byte_at(m, 128));
  for (int i = 0; i < 8; ++i) {
    const size_t at = 136 + 4 * size_t(i);
    if (byte_at(m, at) == 0 && byte_at(m, at + 1) == 0) continue;
    append_format(out, "locale[%d]            lang=%.2s charset=%u\n", i, chars_at(m, at, 2).c_str(),
            byte_at(m, at + 2));
  }
}

void detail_area_toc(std::string& out, const char* label, const std::vector<uint8_t>& a) {
  append_format(out, "\n--- %s ---\n", label);
  append_format(out, "%-28s %s\n", "id", chars_at(a, 0, 8).c_str());
  append_format(out, "%-28s %u.%02u\n", "version", byte_at(a, 8), byte_at(a, 9));
  const uint32_t size = be16_at(a, 10);
  append_format(out, "%-28s %u sector%s\n", "size", size, size == 1 ? "" : "s");
  append_format(out, "%-28s %u\n", "max_byte_rate", be32_at(a, 16));
  append_format(out, "%-28s %u (%s)\n", "sample_frequency", byte_at(a, 20), frequency_name(byte_at(a, 20)));
  const uint32_t format = byte_at(a, 21) & 0x0F;
  append_format(out, "%-28s %u (%s)\n", "frame_format", format, frame_format_name(format));
  append_format(out, "%-28s %u\n", "channel_count", byte_at(a, 32));
  const uint32_t speakers = byte_at(a, 33) & 0x1F;
  append_format(out, "%-28s %u (%s)\n", "loudspeaker_config", speakers, speaker_name(speakers));
  append_format(out, "%-28s %u\n", "track_attribute", byte_at(a, 48) >> 4);
  const uint32_t mm = byte_at(a, 64), ss = byte_at(a, 65), ff = byte_at(a, 66);
  append_format(out, "%-28s %02u:%02u:%02u (%u frames)\n", "total_playtime", mm / 60, mm % 60, ss,
          (mm * 60 + ss) * 75 + ff);
  append_format(out, "%-28s %u\n", "track_offset", byte_at(a, 68));
  append_format(out, "%-28s %u\n", "track_count", byte_at(a, 69));
  append_format(out, "%-28s LSN %u\n", "track_start", be32_at(a, 72));
  append_format(out, "%-28s LSN %u\n", "track_end", be32_at(a, 76));
  append_format(out, "%-28s %u\n", "text_area_count", byte_at(a, 80));
  for (int i = 0; i < 10; ++i) {
    const size_t at = 88 + 4 * size_t(i);
    if (byte_at(a, at) == 0 && byte_at(a, at + 1) == 0) break;
    append_format(out, "language[%d]          lang=%.2s charset=%u\n", i, chars_at(a, at, 2).c_str(),
            byte_at(a, at + 2));
  }
  append_format(out, "%-28s LSN offset %u\n", "track_text_offset", be16_at(a, 128));
  append_format(out, "%-28s LSN offset %u\n", "index_list_offset", be16_at(a, 130));
  append_format(out, "%-28s LSN offset %u\n", "access_list_offset", be16_at(a, 132));
  append_format(out, "%-28s LSN offset %u\n", "area_description_offset", be16_at(a, 144));
  append_format(out, "%-28s LSN offset %u\n", "copyright_offset", be16_at(a, 146));
}

void detail_master_text(std::string& out, const std::vector<uint8_t>& t) {
  out += "\n--- SACD Text ---\n";
  append_format(out, "%-28s %s\n", "id", chars_at(t, 0, 8).c_str());
  static const std::pair<const char*, size_t> kFields[] = {
      {"album_title", 16}, {"album_artist", 18}, {"album_publisher", 20}, {"album_copyright", 22},
      {"disc_title", 32},  {"disc_artist", 34},  {"disc_publisher", 36},  {"disc_copyright", 38}};
  for (const auto& f : kFields) {
    const uint32_t pos = be16_at(t, f.second);
    if (pos == 0 || pos >= t.size()) continue;
    append_format(out, "%-28s %s\n", f.first, text_at(t, pos).c_str());
  }
}

void detail_tracks(std::string& out, const std::vector<InputTrack>& tracks) {
  out += "\n--- Tracks ---\n";
  for (size_t i = 0; i < tracks.size(); ++i) {
    const InputTrack& t = tracks[i];
    const uint32_t frames = track_frame_count(t);
    append_format(out, "Track %zu:\n", i + 1);
    append_format(out, "  %-22s %u\n", "channels", t.channels);
    append_format(out, "  %-22s %u\n", "DSD rate", t.rate_multiple);
    append_format(out, "  %-22s %llu\n", "samples", (unsigned long long)t.sample_count);
    append_format(out, "  %-22s %u\n", "frames", frames);
    append_format(out, "  %-22s %zu bytes\n", "data size", size_t(plain_payload_bytes(t)));
    append_format(out, "  %-22s %u sectors\n", "DSD sectors",
            uint32_t(plain_stream_sectors(uint64_t(frames) * plain_frame_bytes(t))));
    append_format(out, "  %-22s %u frames (%.1f sec)\n", "pause", t.pause_frames, t.pause_frames / 75.0);
    if (!t.title.empty()) append_format(out, "  %-22s %s\n", "title", t.title.c_str());
    if (!t.artist.empty()) append_format(out, "  %-22s %s\n", "performer", t.artist.c_str());
    if (!t.album.empty()) append_format(out, "  %-22s %s\n", "album", t.album.c_str());
  }
}

}  // namespace

std::string dump_toc_text(const DiscLayout& l, const ImagePlan& plan) {
  std::string out = "SACD ISO Layout\n===============\n";
  append_format(out, "%-22s LSN %u (0..%u = padding)\n", "Master TOC", l.master_toc_lsn,
                l.master_toc_lsn ? l.master_toc_lsn - 1 : 0);
  uint32_t audio_sectors = 0;
  for (const PlannedArea& a : plan.areas) {
    area_block(out, a, &a == &plan.areas.front());
    audio_sectors += a.total_sectors;
  }
  append_format(out, "%-22s LSN %u\n", "SACD Text", l.master_text_lsn);
  append_format(out, "%-22s LSN %u\n", "SACD_Man", l.manufacturer_lsn);
  const AreaTocShape shape = plan.areas.empty() ? AreaTocShape{} : plan.areas.front().shape;
  append_format(out, "%-22s LSN %u (blocks: SACDTTxt@+%u, SACDTRL1@+%u, SACDTRL2@+%u, SACD_IGL@+%u)\n",
                "Area Data", l.area1_toc_lsn, shape.text_at, shape.trl1_at, shape.trl2_at, shape.igl_at);
  append_format(out, "%-22s LSN %u\n", "Audio Start", l.audio_start_lsn);
  const uint32_t total = l.audio_start_lsn + audio_sectors - 510;
  append_format(out, "\nTotal sectors: %u (~%u MB)\n", total, total / 512);
  return out;
}

std::string dump_tracks_text(const std::vector<InputTrack>& tracks) {
  std::string out;
  for (size_t i = 0; i < tracks.size(); ++i) {
    const InputTrack& t = tracks[i];
    append_format(out, "Track %zu\n  Channels: %u  Samples: %llu  Frames: %u\n", i + 1, t.channels,
            (unsigned long long)t.sample_count, track_frame_count(t));
    if (!t.title.empty()) append_format(out, "  Title: %s\n", t.title.c_str());
    if (!t.artist.empty()) append_format(out, "  Performer: %s\n", t.artist.c_str());
    if (!t.album.empty()) append_format(out, "  Album: %s\n", t.album.c_str());
    out += "\n";
  }
  return out;
}

std::vector<uint8_t> dump_master_toc(const DiscLayout& l, const ImagePlan& plan, const CivilTime& today) {
  // The image's Master TOC with what the dump leaves out: a set of one, no
  // catalog numbers and no genres, today's date and the Latin-1 locale.
  std::vector<uint8_t> m = structure_bytes(plan, l.master_toc_lsn, 168);
  uint8_t* p = m.data();
  put_be16(p + 16, 1);
  put_be16(p + 18, 1);
  std::memcpy(p + 24, "0000000000000000", 16);
  std::memcpy(p + 88, "0000000000000000", 16);
  std::memset(p + 40, 0, 16);
  std::memset(p + 104, 0, 16);
  put_be16(p + 120, uint32_t(today.year) & 0xFFFF);
  p[122] = uint8_t(today.month);
  p[123] = uint8_t(today.day);
  p[128] = 8;
  p[138] = 2;
  return m;
}

std::vector<uint8_t> dump_area_toc(const ImagePlan& plan, const PlannedArea& area) {
  // The image's Area TOC sector with a fixed rate and format byte, the
  // loudspeaker setup by channel count, and no language or list offsets.
  std::vector<uint8_t> s = structure_bytes(plan, area.toc_lsn, kSectorSize);
  uint8_t* p = s.data();
  put_be16(p + 10, area.toc_sectors);
  p[20] = 4;
  p[21] = 2;
  p[33] = p[32] == 2 ? 0 : p[32] == 5 ? 3 : 4;
  std::memset(p + 88, 0, 4);
  std::memset(p + 128, 0, 6);
  p[128] = 8;
  return s;
}

std::vector<uint8_t> dump_master_text(const std::vector<InputTrack>& tracks) {
  std::vector<uint8_t> s(kSectorSize, 0);
  std::memcpy(s.data(), "SACDText", 8);
  auto ascii = [](std::string t) {
    for (char& c : t)
      if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    return t;
  };
  std::string title = ascii(!tracks.empty() && !tracks[0].album.empty() ? tracks[0].album : "Unknown Album");
  std::string artist = ascii(!tracks.empty() && !tracks[0].artist.empty() ? tracks[0].artist : "Unknown Artist");
  // Both texts stay inside the sector: the title takes at most half of it.
  if (title.size() > 999) title.resize(999);
  const size_t artist_pos = 48 + title.size() + 1;
  if (artist.size() > kSectorSize - artist_pos - 1) artist.resize(kSectorSize - artist_pos - 1);
  put_be16(s.data() + 16, 48);
  put_be16(s.data() + 32, 48);
  put_be16(s.data() + 18, uint32_t(artist_pos));
  put_be16(s.data() + 34, uint32_t(artist_pos));
  std::memcpy(s.data() + 48, title.data(), title.size());
  std::memcpy(s.data() + artist_pos, artist.data(), artist.size());
  return s;
}

std::string dump_detail_text(const std::vector<uint8_t>& master_toc,
                             const std::vector<uint8_t>& area_2ch,
                             const std::vector<uint8_t>& area_mch,
                             const std::vector<uint8_t>& master_text,
                             const std::vector<InputTrack>& tracks) {
  std::string out;
  if (!master_toc.empty()) detail_master_toc(out, master_toc);
  if (!area_2ch.empty()) detail_area_toc(out, "Area 1 (2ch)", area_2ch);
  if (!area_mch.empty()) detail_area_toc(out, area_2ch.empty() ? "Area 1 (Mch)" : "Area 2 (Mch)", area_mch);
  if (!master_text.empty()) detail_master_text(out, master_text);
  detail_tracks(out, tracks);
  return out;
}

Result<std::vector<TocDumpFile>> toc_dump_files(const std::string& dir, const DiscLayout& layout) {
  // The sectors as the image would carry them, from the one plan.
  ImagePlan plan;
  const CivilTime today = civil_time_local(int64_t(std::time(nullptr)));
  if (!plan_sacd_structures(layout, layout.charset, today, plan)) {
    Error why;
    for (const ReportLine& line : plan.placement_notes) why.text += line.text;
    return why;
  }
  std::vector<TocDumpFile> files;
  const std::string base = dir.empty() ? std::string(".") : dir;
  auto add = [&](const char* name, std::string bytes, bool sectors) {
    files.push_back({base + "/" + name, std::move(bytes), sectors});
  };
  auto sectors = [&](const char* name, const std::vector<uint8_t>& bytes) {
    add(name, std::string(bytes.begin(), bytes.end()), true);
  };
  const std::vector<InputTrack>& tracks = tracks_of(layout);
  add("toc.txt", dump_toc_text(layout, plan), false);
  add("tracks.txt", dump_tracks_text(tracks), false);
  // The detail text reads the very bytes of the sector files.
  const std::vector<uint8_t> master_toc = dump_master_toc(layout, plan, today);
  sectors("master_toc.bin", master_toc);
  std::vector<uint8_t> area_files[2];
  for (const PlannedArea& a : plan.areas) {
    area_files[a.multichannel] = dump_area_toc(plan, a);
    sectors(a.multichannel ? "area_toc_mch.bin" : "area_toc_2ch.bin", area_files[a.multichannel]);
  }
  const std::vector<uint8_t> master_text = dump_master_text(tracks);
  sectors("sacd_text.bin", master_text);
  add("toc_detail.txt", dump_detail_text(master_toc, area_files[0], area_files[1], master_text, tracks), false);
  return files;
}

Status write_toc_dump_file(const TocDumpFile& file) {
  const std::filesystem::path folder = std::filesystem::path(file.path).parent_path();
  std::error_code ec;
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  if (!write_small_file(file.path, file.bytes)) return make_error("  Error: cannot write %s\n", file.path.c_str());
  return std::nullopt;
}

}  // namespace varn
