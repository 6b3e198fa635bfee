#include "sacd/area_toc.h"

#include <cstring>

#include "fs/sector_io.h"
#include "sacd/genre.h"
#include "sacd/layout.h"
#include "sacd/text_encoding.h"
#include "platform/report.h"

namespace varn {

// Genre entries of the ISRC and genre list: 4 bytes per track.
constexpr size_t kGenreListOffset = 3068;

AreaDesc describe_area(const DiscLayout& layout, bool multichannel) {
  static const std::vector<InputTrack> kNone;
  const std::vector<InputTrack>& tracks = layout.tracks ? *layout.tracks : kNone;
  AreaDesc a;
  a.multichannel = multichannel;
  a.tracks = area_track_positions(tracks, multichannel);
  a.plan = multichannel ? &layout.multi : &layout.stereo;
  a.channels = multichannel ? (a.tracks.empty() ? 6 : tracks[a.tracks[0]].channels) : 2;
  for (size_t pos : a.tracks) {
    const InputTrack& t = tracks[pos];
    if (t.channels != a.channels) continue;
    a.rate_multiple = t.rate_multiple;
    a.base_rate = base_rate_of(t.sample_rate);
    a.is_dst = t.is_dst;
    break;
  }
  a.toc_lsn = area_toc_lsn(layout, multichannel);
  a.toc_sectors = area_toc_sectors(layout, multichannel);
  a.start_lsn = area_start_lsn(layout, multichannel);
  return a;
}

uint8_t sample_frequency_code(uint32_t rate_multiple, uint32_t base_rate, bool is_dst) {
  static const uint8_t kCodes[4][3] = {{4, 5, 6}, {14, 15, 16}, {8, 9, 10}, {11, 12, 13}};
  const int column = rate_multiple <= 64 ? 0 : rate_multiple <= 128 ? 1 : 2;
  const int row = (is_dst ? 2 : 0) + (base_rate == 44100 ? 0 : 1);
  return kCodes[row][column];
}

uint8_t loudspeaker_config(uint32_t channels) {
  if (channels >= 6) return 4;
  if (channels >= 3) return 3;
  return 0;
}

std::vector<uint8_t> build_track_text_block(const std::vector<InputTrack>& tracks,
                                            const std::vector<size_t>& area_tracks,
                                            uint8_t charset) {
  std::vector<uint8_t> block(8 + 2 * kMaxAreaTracks, 0);
  std::memcpy(block.data(), "SACDTTxt", 8);
  auto append = [&block](const std::string& s) { block.insert(block.end(), s.begin(), s.end()); };
  for (size_t i = 0; i < area_tracks.size() && i < kMaxAreaTracks; ++i) {
    const InputTrack& t = tracks[area_tracks[i]];
    // Record positions are 16-bit; records that would start beyond them
    // are left out (the layout refuses such blocks before).
    if (block.size() > 0xFFFF) break;
    put_be16(block.data() + 8 + 2 * i, uint32_t(block.size()));
    const std::string title = t.title.empty() ? "Track " + std::to_string(i + 1) : t.title;
    // Items: title (type 1), performer (2), composer (4) when present.
    const std::pair<uint8_t, const std::string*> items[] = {{1, &title}, {2, &t.artist}, {4, &t.composer}};
    block.push_back(uint8_t(1 + !t.artist.empty() + !t.composer.empty()));
    block.insert(block.end(), 3, 0);
    for (const auto& [type, text] : items) {
      if (type != 1 && text->empty()) continue;
      block.push_back(type);
      block.push_back(0x20);
      append(encode_text_as(charset, *text));
      block.push_back(0);
    }
    block.push_back(0);
    block.push_back(0);
    if (block.size() % 2) block.push_back(0);
  }
  block.resize(sectors_of(block.size()) * kSectorSize, 0);
  return block;
}

std::vector<uint8_t> build_isrc_list(const std::map<int32_t, std::string>& isrc_by_track,
                                     const std::vector<size_t>& area_tracks, uint8_t genre) {
  std::vector<uint8_t> list(kIsrcListBytes, 0);
  std::memcpy(list.data(), "SACD_IGL", 8);
  for (size_t i = 0; i < area_tracks.size() && i < kMaxAreaTracks; ++i) {
    if (genre) put_genre_entry(list.data() + kGenreListOffset + 4 * i, genre);
    auto it = isrc_by_track.find(int32_t(area_tracks[i]));
    if (it == isrc_by_track.end()) continue;
    std::string code;
    for (char c : it->second)
      if (c != '-') code += c;
    if (code.size() > 12) continue;
    std::memcpy(list.data() + 8 + 12 * i, code.data(), code.size());
  }
  return list;
}

AreaTocShape area_toc_shape(const std::vector<uint8_t>& text_block,
                            const std::vector<uint8_t>& isrc_list) {
  AreaTocShape shape;
  shape.text_sectors = uint32_t(text_block.size() / kSectorSize);
  if (shape.text_sectors == 0) shape.text_sectors = 1;
  shape.block_sectors = 5 + shape.text_sectors;
  if (shape.text_sectors > 1) {
    shape.trl1_at = 1;
    shape.trl2_at = 2;
    shape.igl_at = 3;
    shape.text_at = 5;
    shape.reserved = shape.block_sectors;
    return shape;
  }
  bool second_used = false;
  for (size_t i = kSectorSize; i < isrc_list.size(); ++i)
    if (isrc_list[i]) second_used = true;
  shape.reserved = second_used ? 6 : 5;
  return shape;
}

AreaTocShape area_toc_shape(const std::vector<InputTrack>& tracks,
                            const std::vector<size_t>& area_tracks,
                            const std::map<int32_t, std::string>& isrc_by_track, uint8_t charset,
                            uint8_t genre) {
  return area_toc_shape(build_track_text_block(tracks, area_tracks, charset),
                        build_isrc_list(isrc_by_track, area_tracks, genre));
}

Sector build_area_toc_sector(const AreaDesc& area, uint8_t charset, const AreaTocShape& shape) {
  Sector s{};
  uint8_t* p = s.data();
  std::memcpy(p, area.multichannel ? "MULCHTOC" : "TWOCHTOC", 8);
  p[8] = 0x01;
  p[9] = 0x14;
  put_be16(p + 10, shape.block_sectors);
  p[20] = sample_frequency_code(area.rate_multiple, area.base_rate, area.is_dst);
  p[21] = area.is_dst ? 0 : 2;
  p[32] = uint8_t(area.channels);
  p[33] = loudspeaker_config(area.channels);
  uint64_t frames = 0;
  uint32_t total = 0;
  if (area.plan) {
    frames = area_play_frames(*area.plan);
    total = uint32_t(area.plan->total_sectors);
  }
  put_time_code(p + 64, frames);
  p[69] = uint8_t(area.tracks.size());
  put_be32(p + 72, area.start_lsn);
  put_be32(p + 76, area.start_lsn + total - 1);
  p[80] = 1;
  p[88] = 'e';
  p[89] = 'n';
  p[90] = charset;
  // Byte offsets of the lists from the TOC sector.
  put_be16(p + 128, shape.text_at * kSectorSize);
  put_be16(p + 130, shape.trl1_at * kSectorSize);
  put_be16(p + 132, shape.trl2_at * kSectorSize);
  return s;
}

Sector build_track_list1(const AreaDesc& area) {
  Sector s{};
  std::memcpy(s.data(), "SACDTRL1", 8);
  if (!area.plan) return s;
  const AreaPlan& plan = *area.plan;
  for (size_t i = 0; i < area.tracks.size() && i < kMaxAreaTracks; ++i) {
    if (i < plan.track_start.size()) put_be32(s.data() + 8 + 4 * i, area.start_lsn + plan.track_start[i]);
    if (i < plan.track_sectors.size()) put_be32(s.data() + 1028 + 4 * i, plan.track_sectors[i]);
  }
  return s;
}

Sector build_track_list2(const AreaDesc& area) {
  Sector s{};
  std::memcpy(s.data(), "SACDTRL2", 8);
  if (!area.plan) return s;
  const AreaPlan& plan = *area.plan;
  uint64_t start = 0;
  for (size_t i = 0; i < area.tracks.size() && i < kMaxAreaTracks && i < plan.track_frames.size(); ++i) {
    put_time_code(s.data() + 8 + 4 * i, i < plan.track_time.size() ? plan.track_time[i] : start);
    put_time_code(s.data() + 1028 + 4 * i, plan.track_frames[i]);
    start += plan.track_frames[i];
  }
  return s;
}

AreaTocBlock build_area_toc_block(const DiscLayout& layout, bool multichannel, uint8_t charset) {
  static const std::vector<InputTrack> kNone;
  const std::vector<InputTrack>& tracks = layout.tracks ? *layout.tracks : kNone;
  const AreaDesc area = describe_area(layout, multichannel);
  const std::vector<uint8_t> text = build_track_text_block(tracks, area.tracks, charset);
  const std::vector<uint8_t> isrc =
      build_isrc_list(layout.album->isrcs, area.tracks, sacd_genre_code(layout.album->genre));
  AreaTocBlock block;
  block.shape = area_toc_shape(text, isrc);
  block.bytes.assign(size_t(block.shape.block_sectors) * kSectorSize, 0);
  const Sector toc = build_area_toc_sector(area, charset, block.shape);
  const Sector trl1 = build_track_list1(area);
  const Sector trl2 = build_track_list2(area);
  auto put = [&block](uint32_t at, const uint8_t* bytes, size_t n) {
    std::memcpy(block.bytes.data() + size_t(at) * kSectorSize, bytes, n);
  };
  put(0, toc.data(), toc.size());
  put(block.shape.text_at, text.data(), text.size());
  put(block.shape.trl1_at, trl1.data(), trl1.size());
  put(block.shape.trl2_at, trl2.data(), trl2.size());
  put(block.shape.igl_at, isrc.data(), isrc.size());
  return block;
}

}  // namespace varn
