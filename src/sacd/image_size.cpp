#include "sacd/image_size.h"

#include <algorithm>

#include "sacd/layout.h"
#include "sacd/sector.h"

namespace varn {

namespace {

// The area's sectors as the layout counts them: every track, and the pause
// before each plain track that follows plain audio.
uint64_t area_sectors(const DiscLayout& l, bool mch) {
  const AreaPlan& plan = mch ? l.multi : l.stereo;
  uint64_t sectors = 0;
  for (uint32_t n : plan.track_sectors) sectors += n;
  if (!l.tracks) return sectors;
  uint64_t plain_frames = 0;
  for (size_t pos : area_track_positions(*l.tracks, mch)) {
    const InputTrack& t = (*l.tracks)[pos];
    if (t.is_dst) continue;
    if (plain_frames != 0 && t.pause_frames != 0) {
      sectors += plain_stream_sectors(plain_pause_bytes(t));
      plain_frames += t.pause_frames;
    }
    plain_frames += track_frame_count(t);
  }
  return sectors;
}

}  // namespace

uint64_t sacd_part_bytes(const DiscLayout& l) {
  // Two run-out sectors and the 64 sectors the volumes keep behind the audio.
  const uint64_t sectors = uint64_t(l.audio_start_lsn) + area_sectors(l, false) + area_sectors(l, true) + 66;
  return sectors * kSectorSize;
}

uint64_t planned_image_bytes(const DiscLayout& l, const std::vector<IsoFileEntry>& files,
                             const SacdPlacement& placement) {
  uint64_t last_end = 0;
  for (const IsoFileEntry& e : files)
    if (e.content.empty()) last_end = std::max(last_end, uint64_t(e.lsn) + (e.size + kSectorSize - 1) / kSectorSize);
  // The UDF volume keeps at least 256 blocks behind the file data for its
  // metadata (one per file and folder beyond that) and its last anchor.
  const uint64_t udf_end = last_end + 1 + 256 + files.size() + 8;
  const uint64_t sectors = std::max({uint64_t(placement.volume_sectors), udf_end, sacd_part_bytes(l) / kSectorSize});
  return sectors * kSectorSize;
}

}  // namespace varn
