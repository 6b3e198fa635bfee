#include "dst/dst_frame_check.h"

#include <algorithm>
#include <thread>

#include "dst/dst_decoder.h"
#include "platform/platform.h"

namespace varn {

namespace {

// A coded frame that decodes with the right channel count leaves the
// arithmetic decoder within a few bits of the frame's end (it reads ahead
// a little, and the coder drops trailing zero bits). Decoding with a wrong
// count, or decoding bytes that are no frame, ends thousands of bits away.
bool ends_at_frame_end(size_t bits_read, size_t frame_bytes) {
  const size_t bits = frame_bytes * 8;
  const size_t slack = 256 + bits / 128;
  return bits_read + slack >= bits && bits_read <= bits + slack;
}

// Checks frames [first, last); stops at the first that fails.
void check_range(const std::vector<DstFrame>& frames, int channels, size_t bpc, size_t first,
                 size_t last, DstFrameFault& fault, bool& failed) {
  const size_t plain = bpc * static_cast<size_t>(channels);
  DstDecoder decoder;
  if (!dst_decoder_init(decoder, channels, bpc)) {
    fault = {first, "unsupported channel count or frame size"};
    failed = true;
    return;
  }
  std::vector<uint8_t> out(plain);
  for (size_t i = first; i < last; ++i) {
    const DstFrame& f = frames[i];
    const char* why = nullptr;
    if (f.empty())
      why = "empty frame";
    else if (f.size() > plain + 1)
      why = "larger than the plain frame";
    else if (!dst_decode_frame(decoder, f.data(), f.size(), out.data()))
      why = decoder.error.c_str();
    else if (!ends_at_frame_end(decoder.bits_read, f.size()))
      why = "the coded data does not end with the frame";
    if (why) {
      fault = {i, why};
      failed = true;
      return;
    }
  }
}

}  // namespace

bool dst_check_frames(const std::vector<DstFrame>& frames, int channels, size_t bytes_per_channel,
                      unsigned threads, DstFrameFault& fault) {
  if (threads == 0) threads = std::max(1u, platform_hardware_threads());
  const size_t n = frames.size();
  const size_t workers = std::max<size_t>(1, std::min<size_t>(threads, n / 16));
  std::vector<DstFrameFault> faults(workers);
  std::vector<char> failed(workers, 0);
  auto run = [&](size_t w) {
    bool f = false;
    check_range(frames, channels, bytes_per_channel, n * w / workers, n * (w + 1) / workers,
                faults[w], f);
    failed[w] = f;
  };
  std::vector<std::thread> pool;
  for (size_t w = 1; w < workers; ++w) pool.emplace_back(run, w);
  run(0);
  for (std::thread& t : pool) t.join();
  // The ranges are in frame order: the first failing range holds the
  // earliest fault.
  for (size_t w = 0; w < workers; ++w) {
    if (failed[w]) {
      fault = faults[w];
      return false;
    }
  }
  return true;
}

}  // namespace varn
