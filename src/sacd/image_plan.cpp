#include "sacd/image_plan.h"

#include <algorithm>
#include <cstring>

#include "sacd/area_toc.h"
#include "sacd/audio_area.h"
#include "sacd/layout.h"
#include "sacd/master_toc.h"
#include "sacd/sector.h"

namespace varn {

namespace {

constexpr uint32_t kUdfPartitionStart = 257;
constexpr uint32_t kMasterTocCopies = 3;
constexpr uint32_t kMasterTocSpacing = 10;

std::vector<uint8_t> bytes_of(const Sector& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

bool area_written(const DiscLayout& l, bool mch) {
  return l.tracks && !area_track_positions(*l.tracks, mch).empty();
}

// Whether an area ends with run-out sectors: it does when it holds plain
// audio.
bool area_has_run_out(const DiscLayout& l, bool mch) {
  if (!l.tracks) return false;
  uint64_t frames = 0;
  for (size_t pos : area_track_positions(*l.tracks, mch)) {
    const InputTrack& t = (*l.tracks)[pos];
    if (t.is_dst) continue;
    if ((frames != 0 && t.pause_frames != 0) || plain_stream_bytes(t) != 0) return true;
    frames += track_frame_count(t);
  }
  return false;
}

// The two run-out sectors behind each plain area. The multichannel area
// starts where the stereo area's run-out would go, so of that run-out only
// what lies beyond the multichannel area remains.
std::vector<uint32_t> run_out_sectors(const DiscLayout& l) {
  std::vector<uint32_t> out;
  const uint64_t stereo_end = uint64_t(area_start_lsn(l, false)) + l.stereo.total_sectors;
  const uint64_t multi_first = area_start_lsn(l, true);
  const uint64_t multi_end = multi_first + l.multi.total_sectors;
  const bool multi = area_written(l, true);
  if (area_written(l, false) && area_has_run_out(l, false))
    for (uint64_t s = stereo_end; s < stereo_end + 2; ++s)
      if (!multi || s < multi_first || s >= multi_end) out.push_back(uint32_t(s));
  if (multi && area_has_run_out(l, true))
    for (uint64_t s = multi_end; s < multi_end + 2; ++s)
      if (std::find(out.begin(), out.end(), uint32_t(s)) == out.end()) out.push_back(uint32_t(s));
  std::sort(out.begin(), out.end());
  return out;
}

struct Planner {
  ImagePlan& plan;
  bool ok = true;

  void fail(const std::string& why) {
    if (ok) add_line(plan.placement_notes, ReportStream::Err, "Error: internal: the image plan %s\n", why.c_str());
    ok = false;
  }
  void add(const Extent& e) {
    std::string clash;
    if (!add_extent(plan.map, e, &clash)) fail("puts " + clash);
  }
  void structure(uint32_t lsn, std::vector<uint8_t> bytes, std::string name) {
    const uint32_t count = uint32_t(bytes.size() / kSectorSize);
    add({lsn, count, name, kPartStructure, uint32_t(plan.structures.size())});
    plan.structures.push_back({lsn, std::move(bytes), std::move(name)});
  }
};

}  // namespace

bool plan_audio_extents(const DiscLayout& l, ImagePlan& plan) {
  bool ok = true;
  for (bool mch : {false, true}) {
    const AreaPlan& area = mch ? l.multi : l.stereo;
    ok = add_extent(plan.map, {area_start_lsn(l, mch), uint32_t(area.total_sectors),
                               mch ? "multichannel audio area" : "stereo audio area", kPartAreaAudio, mch ? 1u : 0u}) &&
         ok;
  }
  for (uint32_t s : run_out_sectors(l)) ok = add_extent(plan.map, {s, 1, "run-out", kPartRunOut, 0}) && ok;
  return ok;
}

namespace {

PlannedArea planned_area(const DiscLayout& l, bool mch, const AreaTocShape& shape) {
  const AreaDesc desc = describe_area(l, mch);
  const AreaPlan& plan = mch ? l.multi : l.stereo;
  PlannedArea a;
  a.multichannel = mch;
  a.toc_lsn = desc.toc_lsn;
  a.toc_sectors = desc.toc_sectors;
  a.shape = shape;
  a.start_lsn = desc.start_lsn;
  a.total_sectors = uint32_t(plan.total_sectors);
  for (size_t i = 0; i < plan.track_start.size(); ++i) {
    PlannedTrack t;
    t.input = i < desc.tracks.size() ? desc.tracks[i] : 0;
    t.lsn = desc.start_lsn + plan.track_start[i];
    t.sectors = i < plan.track_sectors.size() ? plan.track_sectors[i] : 0;
    t.frames = i < plan.track_frames.size() ? plan.track_frames[i] : 0;
    a.tracks.push_back(t);
  }
  return a;
}

}  // namespace

bool plan_sacd_structures(const DiscLayout& l, uint8_t charset, const CivilTime& clock, ImagePlan& plan) {
  Planner p{plan};
  // Past the largest disc the area sizes would not fit the TOCs' 32-bit
  // sector numbers.
  if (const Status too_large = fits_largest_disc(l)) {
    plan.placement_notes.push_back({too_large->stream, too_large->text});
    return false;
  }
  ReportLines year_note;
  const Sector master = build_master_toc(l, charset, clock, &year_note);
  plan.placement_notes.insert(plan.placement_notes.begin(), year_note.begin(), year_note.end());
  for (uint32_t k = 0; k < kMasterTocCopies; ++k)
    p.structure(l.master_toc_lsn + kMasterTocSpacing * k, bytes_of(master), "Master TOC");
  const Sector text = build_master_text(l, charset);
  for (uint32_t k = 0; k < l.master_text_copies; ++k)
    p.structure(l.master_text_lsn + k, bytes_of(text), "Master Text");
  p.structure(l.manufacturer_lsn, bytes_of(build_manufacturer(l)), "Manufacturer");
  for (bool mch : {false, true}) {
    if (!area_exists(l, mch)) continue;
    AreaTocBlock block = build_area_toc_block(l, mch, charset);
    const uint32_t reserved = area_toc_sectors(l, mch);
    if (block.shape.reserved != reserved) {
      add_line(plan.placement_notes, ReportStream::Err,
               "Error: the Area TOC block of the %s area needs %u sectors, but the layout "
               "reserved %u (track texts or ISRCs changed after planning)\n",
               mch ? "multichannel" : "2ch", block.shape.reserved, reserved);
      return false;
    }
    plan.areas.push_back(planned_area(l, mch, block.shape));
    block.bytes.resize(size_t(reserved) * kSectorSize);
    p.structure(area_toc_lsn(l, mch), std::move(block.bytes), mch ? "multichannel Area TOC" : "stereo Area TOC");
  }
  if (!plan_audio_extents(l, plan)) p.fail("puts the audio areas over other structures");
  return p.ok;
}

const SectorRun* planned_structure(const ImagePlan& plan, uint32_t lsn) {
  const Extent* e = extent_at(plan.map, lsn);
  if (!e || e->first != lsn || e->kind != kPartStructure || e->index >= plan.structures.size()) return nullptr;
  return &plan.structures[e->index];
}

bool plan_sacd_image(const DiscLayout& l, const std::vector<IsoFileEntry>& files, const SacdPlacement& placement,
                     uint8_t charset, ImagePlan& plan) {
  plan = ImagePlan{};
  Planner p{plan};

  // The ISO 9660 volume; its recorded size is known once the UDF volume is.
  IsoVolume& iso = plan.iso;
  if (!plan_iso9660_volume(files, placement.volume_sectors, "DISC1", placement.window, iso,
                           plan.placement_notes))
    return false;
  if (!plan_sacd_structures(l, charset, civil_time_local(volume_time()), plan)) return false;

  // The ISO 9660 structures and the embedded files, the primary volume
  // descriptor first.
  const size_t pvd = plan.structures.size();
  for (SectorRun& r : iso_volume_runs(iso)) p.structure(r.lsn, std::move(r.bytes), r.name);
  if (!p.ok) return false;

  // The UDF volume over all of it, its metadata behind the last data.
  const uint32_t data_end = uint32_t(std::max<uint64_t>(kIsoMinimumBlocks, map_end(plan.map)));
  add_line(plan.volume_notes, ReportStream::Out, "  ISO 9660 dirs: LSN %u/%u (no relocation)\n", kIsoRootLsn,
           kIsoRootLsn + 1);
  const std::string label = l.album->title.empty() ? std::string("SACD_ISO") : l.album->title;
  if (!plan_udf_volume(udf_entries_of(iso.files), kUdfPartitionStart, data_end, label, plan.udf,
                       plan.volume_notes)) {
    plan.placement_notes.insert(plan.placement_notes.end(), plan.volume_notes.begin(), plan.volume_notes.end());
    return false;
  }
  // The UDF volume places its middle anchor by the file data alone, which
  // ends before the run-out: where an anchor meets a run-out sector, the
  // anchor's 512 bytes take the front of that sector and the run-out bytes
  // behind them remain (images have always been made so).
  const Sector run_out = run_out_sector();
  for (SectorRun& r : udf_volume_runs(plan.udf)) {
    auto& v = plan.map.extents;
    const auto under = std::find_if(v.begin(), v.end(), [&r](const Extent& e) {
      return e.kind == kPartRunOut && e.first == r.lsn;
    });
    if (under != v.end() && r.bytes.size() == kSectorSize) {
      v.erase(under);
      std::memcpy(r.bytes.data() + kUdfAnchorBytes, run_out.data() + kUdfAnchorBytes,
                  kSectorSize - kUdfAnchorBytes);
    }
    p.structure(r.lsn, std::move(r.bytes), r.name);
  }
  plan.total_sectors = plan.udf.blocks;
  iso.volume_blocks = plan.total_sectors;
  // The volume descriptor records the final size.
  plan.structures[pvd].bytes = iso_primary_descriptor(iso);
  return p.ok;
}

}  // namespace varn
