#include "sacd/image_builder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fs/sector_io.h"
#include "manifest/manifest.h"
#include "platform/platform.h"
#include "platform/staged_output.h"
#include "sacd/album_info.h"
#include "sacd/area_toc.h"
#include "sacd/audio_area.h"
#include "sacd/cover_intake.h"
#include "sacd/image_files.h"
#include "sacd/image_plan.h"
#include "sacd/image_writer.h"
#include "sacd/layout.h"
#include "sacd/master_toc.h"
#include "sacd/sector.h"
#include "sacd/text_encoding.h"
#include "platform/report.h"
#include "platform/report_lines.h"

namespace varn {

namespace {

// Reads the embedded files back from the finished image at `path` (which
// stands in for the image `name`): the cover a user sees must be the one
// handed in. The error names every file that came back different.
Status self_check(const std::string& path, const std::string& name, const std::vector<IsoFileEntry>& files) {
  FILE* f = platform_fopen(path, "rb");
  if (!f) return make_error("Error: cannot re-open %s\n", name.c_str());
  std::string damaged;
  std::vector<uint8_t> back;
  for (const IsoFileEntry& e : files) {
    if (e.content.empty() || e.lsn == 0) continue;
    back.assign(e.content.size(), 0);
    if (read_at(f, uint64_t(e.lsn) * kSectorSize, back.data(), back.size()) && back == e.content) {
      report_note("  [Embed] self-check \u2713 %s @ LSN %u (%zu bytes, byte-identical after write)\n",
                  e.path.c_str(), e.lsn, e.content.size());
    } else {
      damaged += make_error("  \u274c [Embed] embedded file %s at LSN %u is overwritten by another structure (the "
                            "placement algorithm did not avoid the occupied range) -- packing failed, we will "
                            "not ship a disc whose cover is a corrupt image\n",
                            e.path.c_str(), e.lsn)
                     .text;
    }
  }
  std::fclose(f);
  if (damaged.empty()) return std::nullopt;
  return Error{damaged};
}

// The manifest's areas and tracks where the plan put them, each titled
// and rated after its input track.
void manifest_entries(const ImagePlan& plan, const std::vector<InputTrack>& tracks,
                      std::vector<ManifestArea>& areas, std::vector<ManifestTrack>& entries) {
  for (const PlannedArea& a : plan.areas) {
    if (a.tracks.empty()) continue;
    const InputTrack& first = tracks[a.tracks[0].input];
    ManifestArea area;
    area.name = a.multichannel ? "mch" : "2ch";
    area.dsd_rate = first.rate_multiple;
    area.base_rate = base_rate_of(first.sample_rate);
    area.dst = first.is_dst ? 1 : 0;
    area.start_lsn = a.start_lsn;
    area.total_sectors = a.total_sectors;
    areas.push_back(area);
    for (size_t i = 0; i < a.tracks.size(); ++i) {
      ManifestTrack t;
      t.area = area.name;
      t.number = static_cast<int>(i + 1);
      t.start_lsn = a.tracks[i].lsn;
      t.sectors = a.tracks[i].sectors;
      t.frames = a.tracks[i].frames;
      t.title = tracks[a.tracks[i].input].title;
      entries.push_back(std::move(t));
    }
  }
}

}  // namespace

Result<BuiltImage> build_sacd_image(const DiscLayout& l, OutputSet& outputs) {
  const uint8_t charset = l.charset;
  CoverFile cover;
  // A cover that was asked for and cannot be used fails the build: the
  // disc would silently lack it.
  const bool have_cover = !l.album->cover_path.empty();
  if (have_cover) {
    if (Status why = take_in_cover(l.album->cover_path, cover)) return std::move(*why);
  }
  const std::vector<IsoFileEntry> files =
      sacd_image_files(l, have_cover ? &cover : nullptr,
                       album_info_text(l, [charset](const std::string& t) { return encode_text_as(charset, t); }));
  ImagePlan plan;
  const bool planned = plan_sacd_image(l, files, sacd_placement(l, files), charset, plan);

  const std::string temp = stage_output(outputs, l.output_path);
  if (temp.empty()) return Error{};
  if (planned && !room_for_image(temp, uint64_t(plan.total_sectors) * kSectorSize, l.output_path)) {
    discard_outputs(outputs);
    return Error{};
  }
  report_lines(plan.placement_notes);

  // Each track's sectors are hashed for the manifest as they are written.
  std::vector<ManifestArea> areas;
  std::vector<ManifestTrack> entries;
  std::vector<SectorRange> ranges;
  ImageDigests digests;
  if (!l.no_manifest) {
    manifest_entries(plan, *l.tracks, areas, entries);
    for (const ManifestTrack& t : entries) ranges.push_back({t.start_lsn, t.sectors});
  }
  Status failed = planned ? write_planned_image(plan, l, temp, ranges, l.no_manifest ? nullptr : &digests)
                          : Status(Error{});
  if (!failed) {
    report_lines(plan.volume_notes);
    failed = self_check(temp, l.output_path, plan.iso.files);
  }
  if (failed) {
    discard_outputs(outputs);
    return make_error("%s  (the incomplete image was removed; %s is as it was)\n", failed->text.c_str(),
                      l.output_path.c_str());
  }
  BuiltImage built;
  built.image_bytes = uint64_t(plan.total_sectors) * kSectorSize;
  built.report = "\n\u2713 SACD ISO created: " + l.output_path + "\n";
  if (l.no_manifest) return built;
  for (size_t k = 0; k < entries.size(); ++k)
    if (entries[k].sectors != 0) entries[k].sha256 = digests.ranges[k];
  const DeliveryManifest manifest =
      manifest_from_digests(l.output_path, built.image_bytes, digests.image, areas, entries);
  if (!stage_output_bytes(outputs, manifest.path, manifest.text)) {
    discard_outputs(outputs);
    return make_error("Error: the delivery manifest of %s could not be written, so neither is the image "
                      "(--no-manifest builds it without one)\n",
                      l.output_path.c_str());
  }
  built.report += manifest.summary;
  return built;
}

}  // namespace varn
