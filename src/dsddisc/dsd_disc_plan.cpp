// Planning a DSD Disc: every check that can refuse the job runs here, before
// the image is touched.
#include <cstdio>
#include <filesystem>
#include <map>

#include "audio/dsf_reader.h"
#include "dsddisc/dsd_disc_plan.h"
#include "fs/iso9660_volume.h"
#include "fs/sector_io.h"
#include "fs/udf_dstring.h"
#include "fs/udf_volume.h"
#include "fs/volume_recognition.h"
#include "platform/error.h"
#include "platform/small_file.h"

namespace varn {

namespace {

constexpr size_t kPlaylistSuffix = 4;  // ".ddp"

// Size of an input file, which must be a DSF file that parses: the disc
// is made for players of DSF files.
Status measure_input(const std::string& path, uint64_t& size) {
  std::string why;
  if (!probe_regular_file(path, size, why)) {
    return make_error("Error: cannot open %s: %s\n", path.c_str(), why.c_str());
  }
  if (size == 0) {
    return make_error("Error: %s is empty\n", path.c_str());
  }
  if (Status e = check_dsf_file(path))
    return Error{e->text + make_error("Error: %s is not a DSF file that can be read\n", path.c_str()).text};
  return std::nullopt;
}

Status check_album(const std::string& album, bool playlists) {
  if (Status e = check_dsd_name(album, "album name")) return e;
  // The folder name, and with playlists the playlist name, must fit the
  // disc's name limit.
  size_t limit = playlists ? kDsdDiscMaxName - kPlaylistSuffix : kDsdDiscMaxName;
  if (disc_name_bytes(album) > limit ||
      (playlists && disc_name_bytes(album + ".ddp") > kDsdDiscMaxName)) {
    return make_error("Error: album name is longer than %zu bytes: '%s'\n", limit,
                      album.c_str());
  }
  return std::nullopt;
}

// What a volume's planning said when it refused.
Error error_of(const ReportLines& lines) {
  Error e;
  for (const ReportLine& l : lines) e.text += l.text;
  return e;
}

// The volumes over the placed files: the UDF volume with its metadata
// behind the data, then the ISO 9660 bridge (an empty root) recording the
// same size, or without it the bare UDF recognition sequence at 16; the
// playlists and the tracks. Every extent goes into one map.
Status plan_image(bool iso_bridge, DsdDiscPlan& plan) {
  UdfVolume udf;
  const uint32_t blocks = plan.data_end + kDsdDiscTailSectors;
  if (!plan_udf_volume(dsd_disc_udf_entries(plan), kDsdDiscFirstSector, blocks, plan.label, udf, plan.volume_notes))
    return error_of(plan.volume_notes);
  plan.total_sectors = udf.blocks;
  plan.structures = udf_volume_runs(udf);
  if (iso_bridge) {
    IsoVolume iso;
    ReportLines iso_notes;
    if (!plan_iso9660_volume({}, plan.total_sectors, plan.label, EmbedWindow{289, 510, 0}, iso, iso_notes))
      return error_of(iso_notes);
    for (SectorRun& r : iso_volume_runs(iso)) plan.structures.push_back(std::move(r));
  } else {
    plan.structures.push_back({16, volume_recognition_sectors(), "UDF volume recognition sequence"});
  }
  for (const DsdDiscFile& p : plan.playlists)
    plan.structures.push_back({p.lsn, padded_to_sectors(std::vector<uint8_t>(p.text.begin(), p.text.end())), p.name});

  std::string clash;
  for (size_t i = 0; i < plan.structures.size() && clash.empty(); ++i) {
    const SectorRun& r = plan.structures[i];
    add_extent(plan.map, {r.lsn, uint32_t(sectors_of(r.bytes.size())), r.name, kDiscStructure, uint32_t(i)}, &clash);
  }
  for (size_t i = 0; i < plan.tracks.size() && clash.empty(); ++i) {
    const DsdDiscFile& f = plan.tracks[i];
    add_extent(plan.map, {f.lsn, uint32_t(sectors_of(f.size)), f.name, kDiscTrack, uint32_t(i)}, &clash);
  }
  if (!clash.empty()) return make_error("Error: internal: the image plan puts %s\n", clash.c_str());
  return std::nullopt;
}

}  // namespace

Status plan_dsd_disc(const DsdDiscJob& job, DsdDiscPlan& plan) {
  plan = DsdDiscPlan{};
  if (job.tracks.empty()) {
    return make_error("Error: no tracks provided\n");
  }

  std::map<std::string, std::vector<size_t>> albums;  // byte-wise order
  for (size_t i = 0; i < job.tracks.size(); ++i) {
    if (Status e = check_album(job.tracks[i].album_folder, job.playlists)) return e;
    albums[job.tracks[i].album_folder].push_back(i);
  }

  plan.tracks.resize(job.tracks.size());
  for (size_t i = 0; i < job.tracks.size(); ++i) {
    const DsdDiscTrack& t = job.tracks[i];
    DsdDiscFile& f = plan.tracks[i];
    f.source_path = t.source_path;
    if (Status e = measure_input(t.source_path, f.size)) return e;
    // Creating the image truncates it: it must not be one of the inputs.
    std::error_code ec;
    if (std::filesystem::equivalent(job.image_path, t.source_path, ec) && !ec) {
      return make_error("Error: the image %s would overwrite the input file %s\n",
                        job.image_path.c_str(), t.source_path.c_str());
    }
    f.name = disc_file_name(t.source_path);
    if (Status e = check_dsd_name(f.name, "file name")) return e;
    f.dir_path = "DSD_DISC/" + t.album_folder;
    // One folder cannot hold two files of one name: the second would hide
    // the first.
    for (size_t j : albums[t.album_folder]) {
      if (j >= i) break;
      if (plan.tracks[j].name == f.name) {
        return make_error("Error: duplicate file name '%s' in album '%s'\n", f.name.c_str(),
                          t.album_folder.c_str());
      }
    }
  }

  for (const auto& [name, positions] : albums) plan.albums.push_back(DsdDiscAlbum{name, positions});

  if (job.playlists) {
    for (const DsdDiscAlbum& a : plan.albums) {
      DsdDiscFile p;
      p.name = a.name + ".ddp";
      // A playlist shares DSD_DISC with the album folders.
      if (albums.count(p.name)) {
        return make_error("Error: album folder '%s' has the name of the playlist of album '%s'\n",
                          p.name.c_str(), a.name.c_str());
      }
      std::vector<std::string> names;
      for (size_t i : a.tracks) names.push_back(plan.tracks[i].name);
      p.text = playlist_text(a.name, names);
      p.size = p.text.size();
      p.dir_path = "DSD_DISC";
      plan.playlists.push_back(std::move(p));
    }
  }

  // Sectors from the first partition block on: tracks, then playlists.
  uint64_t next = kDsdDiscFirstSector;
  const uint64_t last_usable = uint64_t(UINT32_MAX) - kDsdDiscTailSectors;
  auto place = [&](DsdDiscFile& f) {
    if (next > last_usable) return false;
    f.lsn = uint32_t(next);
    next += sectors_of(f.size);
    return next <= last_usable;
  };
  for (DsdDiscFile& f : plan.tracks) {
    if (!place(f)) {
      return make_error("Error: the files do not fit a 32-bit sector count (at %s)\n",
                        f.source_path.c_str());
    }
  }
  for (DsdDiscFile& f : plan.playlists) {
    if (!place(f)) {
      return make_error("Error: the files do not fit a 32-bit sector count (at %s)\n",
                        f.name.c_str());
    }
  }
  plan.data_end = uint32_t(next);

  plan.label = job.title.empty() ? std::string("DSD_DISC") : cut_utf8(job.title, 32);
  return plan_image(job.iso_bridge, plan);
}

std::vector<UdfFileEntry> dsd_disc_udf_entries(const DsdDiscPlan& plan) {
  std::vector<UdfFileEntry> entries;
  UdfFileEntry top;
  top.name = "DSD_DISC";
  top.is_directory = true;
  entries.push_back(top);
  for (const DsdDiscAlbum& a : plan.albums) {
    UdfFileEntry dir;
    dir.name = a.name;
    dir.dir_path = "DSD_DISC";
    dir.is_directory = true;
    entries.push_back(dir);
    for (size_t i : a.tracks) {
      const DsdDiscFile& f = plan.tracks[i];
      entries.push_back(UdfFileEntry{f.name, f.dir_path, f.lsn, f.size, false});
    }
  }
  for (const DsdDiscFile& p : plan.playlists)
    entries.push_back(UdfFileEntry{p.name, p.dir_path, p.lsn, p.size, false});
  return entries;
}

}  // namespace varn
