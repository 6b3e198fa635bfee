// The delivery manifest beside an SACD image: image size and SHA-256, the
// audio areas, and per track its sector range, frame count, digest and
// title; and the verification of an image against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/report_lines.h"

namespace varn {

struct ManifestArea {
  std::string name;  // "2ch" or "mch"
  uint32_t dsd_rate = 64;
  uint32_t base_rate = 44100;
  int dst = 0;
  uint32_t start_lsn = 0;
  uint32_t total_sectors = 0;
};

struct ManifestTrack {
  std::string area;
  int number = 0;  // within the area, from 1
  uint32_t start_lsn = 0;
  uint32_t sectors = 0;
  uint64_t frames = 0;
  std::string sha256;  // empty when the range could not be hashed
  std::string title;
};

// "<image>.delivery.txt".
std::string manifest_path_for(const std::string& image_path);

// Tabs, carriage returns and line feeds become spaces.
std::string manifest_text(const std::string& text);

// A manifest made but not yet written: its file name, its lines and the
// line that reports it.
struct DeliveryManifest {
  std::string path;
  std::string text;
  std::string summary;
};

// The manifest of `image_path` from digests taken while the image was
// written: the image's and, in `entries`, each track's.
DeliveryManifest manifest_from_digests(const std::string& image_path, uint64_t image_bytes,
                                       const std::string& image_sha, const std::vector<ManifestArea>& areas,
                                       const std::vector<ManifestTrack>& entries);

// What a check of an image against its manifest found: each finding in the
// order made, the verdict last, and the number of checks that failed.
struct VerifyReport {
  ReportLines lines;
  int mismatches = 0;
};

// Checks an image against its manifest (manifest_path_for(image) when
// `manifest_path` is empty), filling `report`. The error says why when the
// manifest or the image cannot be read; `report` then holds what was found
// before.
Status verify_delivery(const std::string& image_path, const std::string& manifest_path, VerifyReport& report);

}  // namespace varn
