#include "dst/dst_parallel.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

#include "dst/dst_decoder.h"
#include "dst/dst_encoder.h"
#include "platform/cancel.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/report.h"

namespace varn {

namespace {

DstFrame plain_frame(const uint8_t* frame, size_t bytes) {
  DstFrame f(bytes + 1);
  f[0] = 0x00;
  std::memcpy(f.data() + 1, frame, bytes);
  return f;
}

}  // namespace

namespace {

// A checked frame, or the plain one with a report when the check failed.
DstFrame verdict(bool ok, const uint8_t* coded, size_t coded_bytes, const uint8_t* input, size_t frame_bytes,
                 uint32_t index) {
  if (!ok) {
    report_error("  DST: frame %u failed its decode check, stored plain\n", index);
    return plain_frame(input, frame_bytes);
  }
  return DstFrame(coded, coded + coded_bytes);
}

}  // namespace

void dst_append_checked(DstDecoder& decoder, const uint8_t* coded, size_t coded_bytes,
                        const uint8_t* input, size_t frame_bytes, uint32_t index,
                        std::vector<DstFrame>& out, uint8_t* scratch) {
  out.push_back(verdict(dst_check_frame(decoder, coded, coded_bytes, input, scratch), coded, coded_bytes, input,
                        frame_bytes, index));
}

void dst_worker(DstWorkerJob& job) {
  if (!Init(job.channels, job.rate_multiple, job.base_rate, job.order)) {
    report_error("  DST: thread Init(%d,%d,%d,%d) failed\n", job.channels, job.rate_multiple,
                 job.base_rate, job.order);
    return;
  }
  const size_t fb = job.frame_bytes;
  const size_t bc = fb / static_cast<size_t>(job.channels);
  // Frames coded side by side (two with one or two channels), each checked
  // while the coder still holds what it leaves of it.
  const uint32_t together = static_cast<uint32_t>(dst_frames_together());
  std::vector<uint8_t> best[2], scratch(fb);
  for (std::vector<uint8_t>& b : best) b.resize(fb + 64);
  // What the coder leaves of each kept frame, which spares its decode check
  // predicting the channels again and lets it decode the frame's parts
  // side by side. It points into the coder's state, so the frames are
  // checked before the next are coded.
  DstCodedSymbols symbols[2];
  DstDecoder decoder;
  dst_decoder_init(decoder, job.channels, bc);

  // A stop leaves frames uncoded, which the caller takes as no result.
  constexpr uint32_t kGroup = 4;  // frames taken at a time
  for (;;) {
    const uint32_t f = job.next.fetch_add(kGroup, std::memory_order_relaxed);
    if (f >= job.frames || cancel_requested()) break;
    const uint32_t count = std::min(kGroup, job.frames - f);
    for (uint32_t k = 0; k < count; k += together) {
      const uint32_t n = std::min(together, count - k);
      const uint8_t* inputs[2] = {};
      uint8_t* outs[2] = {best[0].data(), best[1].data()};
      uint32_t bits[2] = {};
      for (uint32_t i = 0; i < n; ++i) inputs[i] = job.input + static_cast<size_t>(f + k + i) * fb;
      // Every sharing count is tried; the shortest frame is kept.
      if (dst_encode_best_frames(inputs, static_cast<int>(n), outs, bits, symbols) != 0) bits[0] = bits[1] = 0;
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t index = f + k + i;
        DstFrame& slot = job.result[index];
        if (bits[i] == 0) {
          report_error("  DST: frame %u encode failed, using plain DSD fallback\n", index);
          // The plain form keeps its leading 0x00 byte, so that the frame
          // reads as uncoded rather than as a coded frame made of audio
          // bytes.
          slot = plain_frame(inputs[i], fb);
          continue;
        }
        // Every frame is decoded back before it is kept.
        const size_t bytes = (static_cast<size_t>(bits[i]) + 7) / 8;
        slot = verdict(dst_check_frame(decoder, outs[i], bytes, inputs[i], scratch.data(), &symbols[i]), outs[i],
                       bytes, inputs[i], fb, index);
      }
    }
    progress_add(ProgressStep::Encoding, count);
  }
  dst_encoder_close();
}

Result<std::vector<DstFrame>> dst_encode_parallel(const uint8_t* audio, uint32_t frames, uint32_t frame_bytes,
                                                  int channels, int rate_multiple, int base_rate, int threads,
                                                  int order) {
  if (!audio || frames == 0 || channels < 1 || channels > 6)
    return make_error("  DST: invalid batch parameters\n");
  uint32_t workers = threads > 0 ? static_cast<uint32_t>(threads) : platform_hardware_threads();
  if (workers == 0) workers = 1;
  if (workers > frames) workers = frames;

  DstWorkerJob job;
  job.input = audio;
  job.frames = frames;
  job.frame_bytes = frame_bytes;
  job.channels = channels;
  job.rate_multiple = rate_multiple;
  job.base_rate = base_rate;
  job.order = order;
  job.result.resize(frames);

  std::vector<std::thread> pool;
  pool.reserve(workers);
  try {
    for (uint32_t i = 0; i < workers; ++i) pool.emplace_back(dst_worker, std::ref(job));
  } catch (...) {
    // Threads already running finish before the failure goes up.
    for (std::thread& t : pool) t.join();
    throw;
  }
  for (std::thread& t : pool) t.join();

  // A frame no worker could code (every worker failed to start) is empty.
  size_t total = 0;
  for (const DstFrame& f : job.result) total += f.empty() ? 0 : 1;
  if (cancel_requested()) return Error{};
  if (total != frames) return make_error("  DST: batch encode produced %zu/%u frames\n", total, frames);
  return std::move(job.result);
}

std::vector<DstFrame> dst_encode_track(const uint8_t* audio, size_t size, int channels,
                                       int rate_multiple, int base_rate, int order, int threads) {
  DstFrameSource whole;
  if (audio) whole = [audio](uint32_t first, uint32_t, uint32_t frame_bytes) {
    return audio + size_t(first) * frame_bytes;
  };
  std::vector<DstFrame> list;
  const DstFrameSink keep = [&list](DstFrame& f) {
    list.push_back(std::move(f));
    return true;
  };
  if (dst_encode_track_from(whole, size, channels, rate_multiple, base_rate, order, threads, UINT64_MAX, keep))
    list.clear();
  return list;
}

Status dst_encode_track_from(const DstFrameSource& source, uint64_t size, int channels, int rate_multiple,
                             int base_rate, int order, int threads, uint64_t chunk_bytes, const DstFrameSink& sink) {
  if (!source || size == 0 || channels < 1 || channels > 6)
    return make_error("  DST: invalid parameters (ch=%d, size=%lu)\n", channels, static_cast<unsigned long>(size));
  const long long per_ch_wide = static_cast<long long>(base_rate / 75) * rate_multiple / 8;
  if (per_ch_wide > DSDFRAMESIZE || per_ch_wide > 0xFFFFFFFFLL)
    return make_error("  DST: frame too large for codec bound (per_ch=%u > DSDFRAMESIZE=%d, base=%d os=%d)\n",
                      static_cast<unsigned>(per_ch_wide), DSDFRAMESIZE, base_rate, rate_multiple);
  const uint32_t per_ch = per_ch_wide > 0 ? static_cast<uint32_t>(per_ch_wide) : 0;
  const uint32_t frame_bytes = per_ch * static_cast<uint32_t>(channels);
  const uint64_t frames_wide = frame_bytes ? size / frame_bytes : 0;
  if (frames_wide == 0)
    return make_error("  DST: data too small (%lu bytes, need %u per frame)\n", static_cast<unsigned long>(size),
                      frame_bytes);
  const uint32_t frames = static_cast<uint32_t>(frames_wide);
  // Every frame is coded on its own, so coding the track a part at a time
  // gives the same frames.
  const uint64_t per_part = std::max<uint64_t>(1, chunk_bytes / frame_bytes);
  const uint32_t part = static_cast<uint32_t>(std::min<uint64_t>(frames, per_part));
  std::optional<Error> failed;
  progress_begin(ProgressStep::Encoding, frames);
  for (uint32_t first = 0; first < frames && !failed;) {
    const uint32_t n = std::min(part, frames - first);
    const uint8_t* data = source(first, n, frame_bytes);
    if (!data) {
      failed = make_error("  DST: the audio of frames %u to %u cannot be read\n", first, first + n - 1);
      break;
    }
    Result<std::vector<DstFrame>> coded =
        dst_encode_parallel(data, n, frame_bytes, channels, rate_multiple, base_rate, threads, order);
    if (coded.error) {
      failed = std::move(coded.error);
      break;
    }
    for (DstFrame& f : coded.value) {
      const bool taken = sink(f);
      // Released as soon as it is handed on, so that a sink that copies
      // the frames never holds them twice.
      DstFrame().swap(f);
      if (taken) continue;
      failed = Error{};
      break;
    }
    first += n;
  }
  progress_end(ProgressStep::Encoding);
  if (cancel_requested()) return Error{};
  if (failed) return failed;
  report_error("  [DST] %u frames encoded\n", frames);
  return std::nullopt;
}

}  // namespace varn
