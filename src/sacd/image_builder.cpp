#include "sacd/image_builder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fs/iso9660.h"
#include "fs/sector_io.h"
#include "fs/udf.h"
#include "manifest/manifest.h"
#include "platform/platform.h"
#include "platform/staged_output.h"
#include "sacd/album_info.h"
#include "sacd/area_toc.h"
#include "sacd/audio_area.h"
#include "sacd/cover_intake.h"
#include "sacd/image_files.h"
#include "sacd/image_size.h"
#include "sacd/master_toc.h"
#include "sacd/sector.h"
#include "sacd/text_encoding.h"
#include "platform/report.h"

namespace varn {

namespace {

constexpr uint64_t kSector = kSectorBytes;

uint32_t sectors_in(FILE* f) {
  const int64_t bytes = platform_file_size(f);
  return bytes <= 0 ? 0 : uint32_t((uint64_t(bytes) + kSector - 1) / kSector);
}

// Whether an embedded file's bytes still lie at its sector.
bool intact(FILE* f, const IsoFileEntry& e, std::vector<uint8_t>& back) {
  back.assign(e.content.size(), 0);
  if (platform_fseek64(f, int64_t(uint64_t(e.lsn) * kSector), SEEK_SET) != 0) return false;
  return std::fread(back.data(), 1, back.size(), f) == back.size() && back == e.content;
}

// Closes the image and says whether every write since it was opened
// reached the file.
bool close_image(FILE* f, const std::string& path) {
  if (!close_written_file(f)) {
    report_error("Error: writing %s failed: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

FILE* reopen(const std::string& path) {
  FILE* f = platform_fopen(path, "r+b");
  if (!f) report_error("Error: cannot re-open %s\n", path.c_str());
  return f;
}

// Pads the file with zeros to a whole sector.
void pad_to_sector(FILE* f) {
  const int64_t bytes = platform_file_size(f);
  if (bytes < 0 || bytes % int64_t(kSector) == 0) return;
  std::vector<uint8_t> zeros(kSector - uint64_t(bytes) % kSector, 0);
  platform_fseek64(f, 0, SEEK_END);
  std::fwrite(zeros.data(), 1, zeros.size(), f);
}

// The SACD structures and the audio, then the ISO 9660 fix-ups.
bool write_sacd_part(const DiscLayout& l, const std::string& path) {
  FILE* f = reopen(path);
  if (!f) return false;
  write_master_toc(f, l);
  if (!write_area_toc(f, l, false) || !write_area_toc(f, l, true)) {
    std::fclose(f);
    return false;
  }
  write_master_text(f, l, l.master_text_lsn, l.master_text_copies);
  write_manufacturer(f, l, l.manufacturer_lsn);
  if (!write_audio_area(f, l)) {
    std::fclose(f);
    return false;
  }
  std::fflush(f);
  const uint32_t sectors = sectors_in(f);
  reassert_iso_directory_lsns(f);
  write_iso_volume_size(f, sectors);
  pad_to_sector(f);
  return close_image(f, path);
}

// An embedded file whose sectors were taken by a later structure moves to
// the end of the image, and its directory record follows it.
bool move_overwritten(const std::string& path, std::vector<IsoFileEntry>& files) {
  FILE* f = reopen(path);
  if (!f) return false;
  std::vector<uint8_t> back;
  for (IsoFileEntry& e : files) {
    if (e.content.empty() || e.lsn == 0) continue;
    if (intact(f, e, back)) continue;
    const uint32_t lsn = sectors_in(f);
    platform_fseek64(f, int64_t(uint64_t(lsn) * kSector), SEEK_SET);
    std::fwrite(e.content.data(), 1, e.content.size(), f);
    std::fflush(f);
    pad_to_sector(f);
    report_note("  [Embed] %s: original LSN %u would be overwritten (audio/structures are written "
                 "after it) => moved to the end of the file at LSN %u\n",
                 e.path.c_str(), e.lsn, lsn);
    e.lsn = lsn;
    std::fflush(f);
    patch_root_directory_entry(f, e.path, lsn, e.content.size());
  }
  return close_image(f, path);
}

bool patch_final_size(const std::string& path) {
  FILE* f = reopen(path);
  if (!f) return false;
  write_iso_volume_size(f, sectors_in(f));
  return close_image(f, path);
}

bool self_check(const std::string& path, const std::vector<IsoFileEntry>& files) {
  FILE* f = platform_fopen(path, "rb");
  if (!f) {
    report_error("Error: cannot re-open %s\n", path.c_str());
    return false;
  }
  bool ok = true;
  std::vector<uint8_t> back;
  for (const IsoFileEntry& e : files) {
    if (e.content.empty() || e.lsn == 0) continue;
    if (intact(f, e, back)) {
      report_note("  [Embed] self-check \u2713 %s @ LSN %u (%zu bytes, byte-identical after write)\n",
                   e.path.c_str(), e.lsn, e.content.size());
    } else {
      report_error("  \u274c [Embed] embedded file %s at LSN %u is overwritten by another structure (the "
                   "placement algorithm did not avoid the occupied range) -- packing failed, we will "
                   "not ship a disc whose cover is a corrupt image\n",
                   e.path.c_str(), e.lsn);
      ok = false;
    }
  }
  std::fclose(f);
  return ok;
}

bool build_image_file(const DiscLayout& l, const std::string& path, const std::vector<IsoFileEntry>& listed,
                      const SacdPlacement& place) {
  std::vector<IsoFileEntry> files = listed;
  if (!write_iso9660_volume(path, place.volume_sectors, files, "DISC1", place.window)) return false;
  if (!write_sacd_part(l, path)) return false;
  if (!move_overwritten(path, files)) return false;

  uint32_t sectors = 0;
  if (FILE* f = platform_fopen(path, "rb")) {
    sectors = sectors_in(f);
    std::fclose(f);
  }
  const std::string label = l.album->title.empty() ? std::string("SACD_ISO") : l.album->title;
  if (!write_udf_volume(path, udf_entries_of(files), 257, sectors, label)) return false;
  if (!patch_final_size(path)) return false;
  return self_check(path, files);
}

// An image no disc can hold is refused before anything is written; a long
// pause between tracks is the usual way to ask for one.
bool fits_largest_disc(const DiscLayout& l) {
  const uint64_t bytes = sacd_part_bytes(l);
  if (bytes <= kLargestDiscBytes) return true;
  uint32_t pause = 0;
  for (const InputTrack& t : *l.tracks) pause = std::max(pause, t.pause_frames);
  if (pause != 0) {
    report_error("Error: with a pause of %u frames between tracks the image would take %llu bytes, more than "
                 "the largest disc it could be burnt to holds (BD-R XL, %llu bytes); choose a shorter --pause\n",
                 pause, static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(kLargestDiscBytes));
  } else {
    report_error("Error: the image would take %llu bytes, more than the largest disc it could be burnt to holds "
                 "(BD-R XL, %llu bytes)\n",
                 static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(kLargestDiscBytes));
  }
  return false;
}

}  // namespace

bool build_sacd_image(const DiscLayout& l, OutputSet& outputs, std::string& report) {
  if (!fits_largest_disc(l)) return false;
  select_charset(disc_charset(l.album->title, l.album->artist, *l.tracks, l.album->label));
  CoverFile cover;
  // A cover that was asked for and cannot be used fails the build: the
  // disc would silently lack it.
  const bool have_cover = !l.album->cover_path.empty();
  if (have_cover && !take_in_cover(l.album->cover_path, cover)) return false;
  const std::vector<IsoFileEntry> files =
      sacd_image_files(l, have_cover ? &cover : nullptr, album_info_text(l, encode_disc_text));
  const SacdPlacement place = sacd_placement(l, files);

  const std::string temp = stage_output(outputs, l.output_path);
  if (temp.empty()) return false;
  if (!room_for_image(temp, planned_image_bytes(l, files, place), l.output_path)) {
    discard_outputs(outputs);
    return false;
  }
  if (!build_image_file(l, temp, files, place)) {
    discard_outputs(outputs);
    report_error("  (the incomplete image was removed; %s is as it was)\n", l.output_path.c_str());
    return false;
  }
  report = "\n\u2713 SACD ISO created: " + l.output_path + "\n";
  if (l.no_manifest) return true;
  DeliveryManifest manifest;
  if (delivery_manifest(*l.tracks, l, temp, l.output_path, manifest) != 0 ||
      !stage_output_bytes(outputs, manifest.path, manifest.text)) {
    discard_outputs(outputs);
    report_error("Error: the delivery manifest of %s could not be written, so neither is the image "
                 "(--no-manifest builds it without one)\n",
                 l.output_path.c_str());
    return false;
  }
  report += manifest.summary;
  return true;
}

}  // namespace varn
