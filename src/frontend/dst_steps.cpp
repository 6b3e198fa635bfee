// The DST side of reading a track: its prediction order with the stereo
// note, and its coding.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "audio/dst_frame_store.h"
#include "audio/plain_source.h"
#include "dst/dst_encoder.h"
#include "dst/dst_parallel.h"
#include "frontend/stages.h"
#include "platform/cancel.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/report.h"

namespace varn {

namespace {

// Plain audio held for coding at a time.
constexpr uint64_t kCodingPartBytes = uint64_t(16) << 20;

// One-shot notes, once per process.
std::atomic<bool> g_stereo_note{false};
std::atomic<bool> g_simd_note{false};
std::atomic<bool> g_thread_note{false};

}  // namespace

void stage_dst_order(PackRun& run, InputTrack& track) {
  const PackJob& job = run.job;
  track.dst_order = (job.dst_fast && !job.dst_order_given) ? 32 : static_cast<int>(job.dst_order);
  if (in_stereo_area(track) && !job.dst_stereo && !job.no_encode && !g_stereo_note.exchange(true)) {
    report_error("  [DST] note: the 2ch (stereo) area is not DST-compressed => the ISO is about 2.4x the "
                 "compressed size.\n"
                 "        for a smaller file add --dst-stereo (the GUI packer has the \"also DST-compress the "
                 "stereo area\" checkbox);\n"
                 "        on a slow machine add --dst-fast (about +11%% size, about 2.6x speed).\n");
  }
}

namespace {

// The spool every coded track of the run shares, made when the first
// track is coded.
bool open_run_spool(PackRun& run) {
  if (run.dst_spool) return true;
  auto spool = std::make_shared<DstSpool>();
  if (!open_dst_spool(*spool)) {
    report_error("Error: cannot create the DST spool file in %s: %s\n", platform_temp_dir(), std::strerror(errno));
    return false;
  }
  run.dst_spool = std::move(spool);
  return true;
}

}  // namespace

StageResult stage_dst_encode(PackRun& run, InputTrack& track, const std::string& path) {
  const PackJob& job = run.job;
  const bool wanted = track.channels > 2 ? !job.no_encode : job.dst_stereo;
  const uint64_t bytes = plain_payload_bytes(track);
  if (!wanted || track.is_dst || bytes == 0) return std::nullopt;
  if (!g_simd_note.exchange(true)) report_error("  [DST] encode SIMD: %s\n", simd_name());
  if (!open_run_spool(run)) return 1;
  // Audio left in its file is coded a part at a time, so that memory stays
  // bounded by the part; the coded frames go to the spool as they come.
  InputFile in;
  std::vector<uint8_t> part;
  DstFrameSource source;
  if (!track.audio.empty()) {
    source = [&track](uint32_t first, uint32_t, uint32_t frame_bytes) {
      return track.audio.data() + size_t(first) * frame_bytes;
    };
  } else if (open_input(track.source.path, in)) {
    source = [&](uint32_t first, uint32_t frames, uint32_t frame_bytes) -> const uint8_t* {
      part.resize(size_t(frames) * frame_bytes);
      return read_payload(track, in, uint64_t(first) * frame_bytes, part.data(), part.size()) ? part.data()
                                                                                              : nullptr;
    };
  }
  DstFrameStore store;
  store.spool = run.dst_spool;
  const Status coded = dst_encode_track_from(
      source, bytes, static_cast<int>(track.channels), static_cast<int>(track.rate_multiple),
      static_cast<int>(base_rate_of(track.sample_rate)), track.dst_order, static_cast<int>(job.dst_threads),
      kCodingPartBytes, [&store](const DstFrame& f) { return spool_dst_frame(store, f.data(), f.size()); });
  // A stop is seen and answered by the steps that follow.
  if (coded && cancel_requested()) return std::nullopt;
  // A frame that did not reach the spool whole would leave a short image.
  if (!flush_dst_spool(*run.dst_spool)) {
    report_error("Error: writing the coded DST frames to the spool file in %s failed: %s\n", platform_temp_dir(),
                 std::strerror(run.dst_spool->error));
    return 1;
  }
  // The area was asked for coded. A track left plain would make another
  // disc than the one asked for (plain multichannel audio even exceeds the
  // rate a player reads), so a track the coder failed ends the run.
  if (coded) {
    report(*coded);
    report_error("Error: %s could not be DST-coded; nothing was written\n", path.c_str());
    return 1;
  }
  track.dst_frames = std::move(store);
  track.is_dst = true;
  std::vector<uint8_t>().swap(track.audio);
  track.source = PlainSource{};
  if (!g_thread_note.exchange(true)) {
    const unsigned hw = platform_hardware_threads();
    report_error("  [DST] encoding threads %u (cores available %u), prediction order %d; if too slow add "
                 "--dst-fast (about +11%% size, about 2.6x speed)\n",
                 job.dst_threads ? job.dst_threads : hw, hw, track.dst_order);
  }
  return std::nullopt;
}

}  // namespace varn
