#include "sacd/image_builder.h"

#include <cstdio>
#include <vector>

#include "fs/iso9660.h"
#include "fs/udf.h"
#include "manifest/manifest.h"
#include "platform/platform.h"
#include "sacd/album_info.h"
#include "sacd/area_toc.h"
#include "sacd/audio_area.h"
#include "sacd/cover_intake.h"
#include "sacd/image_files.h"
#include "sacd/master_toc.h"
#include "sacd/sector.h"
#include "sacd/text_encoding.h"

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
  const bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed) {
    std::fprintf(stderr, "Error: writing %s failed (disk full?)\n", path.c_str());
    return false;
  }
  return true;
}

FILE* reopen(const std::string& path) {
  FILE* f = platform_fopen(path, "r+b");
  if (!f) std::fprintf(stderr, "Error: cannot re-open %s\n", path.c_str());
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
bool write_sacd_part(const DiscLayout& l) {
  FILE* f = reopen(l.output_path);
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
  return close_image(f, l.output_path);
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
    std::fprintf(stdout,
                 "  [Embed] %s: original LSN %u would be overwritten (audio/structures are written "
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
    std::fprintf(stderr, "Error: cannot re-open %s\n", path.c_str());
    return false;
  }
  bool ok = true;
  std::vector<uint8_t> back;
  for (const IsoFileEntry& e : files) {
    if (e.content.empty() || e.lsn == 0) continue;
    if (intact(f, e, back)) {
      std::fprintf(stdout, "  [Embed] self-check \u2713 %s @ LSN %u (%zu bytes, byte-identical after write)\n",
                   e.path.c_str(), e.lsn, e.content.size());
    } else {
      std::fprintf(stderr,
                   "  \u274c [Embed] embedded file %s at LSN %u is overwritten by another structure (the "
                   "placement algorithm did not avoid the occupied range) -- packing failed, we will "
                   "not ship a disc whose cover is a corrupt image\n",
                   e.path.c_str(), e.lsn);
      ok = false;
    }
  }
  std::fclose(f);
  return ok;
}

bool build_image_file(const DiscLayout& l) {
  const std::string& path = l.output_path;
  CoverFile cover;
  const bool have_cover = !l.cover_path.empty() && take_in_cover(l.cover_path, cover);
  std::vector<IsoFileEntry> files =
      sacd_image_files(l, have_cover ? &cover : nullptr, album_info_text(l, encode_disc_text));
  const SacdPlacement place = sacd_placement(l, files);

  // The volume writer updates the file in place: an older, longer image of
  // the same name would leave its tail inside the new one.
  if (FILE* f = platform_fopen(path, "wb")) {
    std::fclose(f);
  } else {
    std::fprintf(stderr, "Error: cannot create %s\n", path.c_str());
    return false;
  }
  if (!write_iso9660_volume(path, place.volume_sectors, files, "DISC1", place.window)) return false;
  if (!write_sacd_part(l)) return false;
  if (!move_overwritten(path, files)) return false;

  uint32_t sectors = 0;
  if (FILE* f = platform_fopen(path, "rb")) {
    sectors = sectors_in(f);
    std::fclose(f);
  }
  const std::string label = l.album.empty() ? std::string("SACD_ISO") : l.album;
  if (!write_udf_volume(path, udf_entries_of(files), 257, sectors, label)) return false;
  if (!patch_final_size(path)) return false;
  return self_check(path, files);
}

}  // namespace

bool build_sacd_image(const DiscLayout& l) {
  select_charset(choose_charset(disc_charset_texts(l.album, l.artist, *l.tracks)));
  if (!build_image_file(l)) {
    if (std::remove(l.output_path.c_str()) == 0)
      std::fprintf(stderr, "  (the incomplete image %s was removed)\n", l.output_path.c_str());
    return false;
  }
  std::fprintf(stdout, "\n\u2713 SACD ISO created: %s\n", l.output_path.c_str());
  if (!l.no_manifest && write_delivery_manifest(*l.tracks, l, l.output_path) != 0)
    std::fprintf(stderr,
                 "  \u26a0 [manifest] delivery manifest not written (the ISO itself is fine, but "
                 "clients will have nothing to check it against)\n");
  return true;
}

}  // namespace varn
