// The plan of a DSD Disc image: every file with its disc name, folder, size
// and first sector, the albums in byte-wise order, the playlists, and the
// whole image as one extent map (volume structures, playlists, track files)
// that is written front to back, every sector once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dsddisc/dsd_disc.h"
#include "fs/extent_map.h"
#include "fs/udf.h"
#include "platform/report_lines.h"

namespace varn {

constexpr uint32_t kDsdDiscFirstSector = 257;  // first partition block
constexpr uint32_t kDsdDiscTailSectors = 512;  // behind the data: UDF metadata and last anchors
constexpr size_t kDsdDiscMaxName = 250;        // bytes of a name on the disc (disc_name_bytes)

// One file of the disc: a track (copied from `source_path`) or a playlist
// (its bytes in `text`).
struct DsdDiscFile {
  std::string source_path;
  std::string text;
  std::string name;      // file name on the disc
  std::string dir_path;  // its UDF folder
  uint64_t size = 0;
  uint32_t lsn = 0;
};

struct DsdDiscAlbum {
  std::string name;
  std::vector<size_t> tracks;  // positions in the job, job order
};

// What fills an extent of the image.
enum DsdDiscPart : uint32_t {
  kDiscStructure = 0,  // the bytes of structures[index]: a volume structure or a playlist
  kDiscTrack = 1,      // the file of tracks[index], copied unchanged
};

struct DsdDiscPlan {
  std::vector<DsdDiscFile> tracks;     // job order
  std::vector<DsdDiscAlbum> albums;    // byte-wise ascending names
  std::vector<DsdDiscFile> playlists;  // album order (empty when off)
  uint32_t data_end = kDsdDiscFirstSector;  // sector after the last file
  std::string label;                        // volume label, at most 32 bytes (whole characters)

  ExtentMap map;
  std::vector<SectorRun> structures;  // bytes of every kDiscStructure extent
  uint32_t total_sectors = 0;         // the image's size, recorded by both volumes
  ReportLines volume_notes;           // the UDF volume's notes, shown once the image is written
};

// Name rule for album (and file) names; `subject` names the thing checked
// in the error.
Status check_dsd_name(const std::string& name, const char* subject);

// Bytes a name takes on the disc (its characters as the UDF volume stores
// them: one byte each, or two when a character needs 16 bits).
size_t disc_name_bytes(const std::string& name);

// The name a track's file gets on the disc: the part of the path after its
// last '/', cut between characters to 250 bytes on the disc, keeping the
// extension.
std::string disc_file_name(const std::string& source_path);

// The text of an album's playlist.
std::string playlist_text(const std::string& album, const std::vector<std::string>& names);

// Steps before anything is written: checks every name and input file, takes
// the file sizes and plans every sector of the image, or says why it cannot.
Status plan_dsd_disc(const DsdDiscJob& job, DsdDiscPlan& plan);

// The UDF entry list of a planned disc: DSD_DISC, each album folder with its
// tracks, then the playlists.
std::vector<UdfFileEntry> dsd_disc_udf_entries(const DsdDiscPlan& plan);

// Writes the planned image (volumes, data, UDF) and reports the summary.
// On failure after the image was created, the image is removed and the
// error ends with saying so.
Status write_dsd_disc(const DsdDiscJob& job, const DsdDiscPlan& plan);

}  // namespace varn
