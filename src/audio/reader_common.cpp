#include "audio/reader_common.h"

#include <cstdlib>

#include "audio/id3.h"
#include "audio/open_input_file.h"
#include "platform/platform.h"
#include "platform/report.h"

namespace varn {

bool open_input(const std::string& path, InputFile& in) {
  in.close();
  in.f = open_input_file(path, "rb");
  if (!in.f) return false;
  const int64_t size = platform_file_size(in.f);
  in.size = size > 0 ? uint64_t(size) : 0;
  return true;
}

size_t read_at(InputFile& in, uint64_t offset, void* buf, size_t n) {
  if (n == 0 || offset >= in.size || offset > uint64_t(INT64_MAX)) return 0;
  if (platform_fseek64(in.f, int64_t(offset), SEEK_SET) != 0) return 0;
  return std::fread(buf, 1, n, in.f);
}

void set_sample_rate(const std::string& path, InputTrack& track, uint32_t rate) {
  track.sample_rate = rate;
  if (rate % 44100 != 0 && rate % 48000 != 0)
    report_error("  Warning: %s: unsupported DSD rate %u\n", path.c_str(), rate);
  track.rate_multiple = rate / base_rate_of(rate);
}

uint64_t padded_to_sacd_frames(uint64_t length, uint32_t channels, uint32_t sample_rate) {
  const uint64_t frame = uint64_t(channels) * (sample_rate / 600);
  if (frame == 0 || length % frame == 0) return length;
  return length + (frame - length % frame);
}

void note_padding(const InputTrack& track, uint64_t length) {
  const uint64_t padded = padded_to_sacd_frames(length, track.channels, track.sample_rate);
  if (padded != length) report_error("  Pad SACD frames: +%zu bytes\n", size_t(padded - length));
}

void pad_to_sacd_frames(InputTrack& track) {
  const size_t len = track.audio.size();
  const size_t padded = size_t(padded_to_sacd_frames(len, track.channels, track.sample_rate));
  if (padded == len) return;
  track.audio.resize(padded, 0x69);
  note_padding(track, len);
}

void apply_id3_texts(const Id3Tag& tag, InputTrack& track) {
  track.title = id3_text(tag, "TIT2");
  track.artist = id3_text(tag, "TPE1");
  track.album = id3_text(tag, "TALB");
  track.genre = id3_text(tag, "TCON");
  track.date = id3_text(tag, "TDRC");
  if (track.date.empty()) track.date = id3_text(tag, "TYER");  // the year frame before ID3v2.4
  const std::string trck = id3_text(tag, "TRCK");
  if (!trck.empty()) track.track_number = uint32_t(std::atoi(trck.c_str()));
}

void clear_failed_track(InputTrack& track) {
  std::vector<uint8_t>().swap(track.audio);
  track.dst_frames = DstFrameStore{};
  std::vector<uint8_t>().swap(track.cover);
  track.source = PlainSource{};
  track.genre.clear();
  track.date.clear();
}

}  // namespace varn
