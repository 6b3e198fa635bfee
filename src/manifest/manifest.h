// The delivery manifest beside an SACD image: image size and SHA-256, the
// audio areas, and per track its sector range, frame count, digest and
// title; and the verification of an image against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "platform/error.h"
#include "sacd/disc_layout.h"

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

// The area and track entries of a layout (digests left empty). A track
// belongs to the 2-channel area when it has exactly 2 channels, as the
// packing driver assigns them.
void manifest_entries(const std::vector<InputTrack>& tracks, const DiscLayout& layout,
                      std::vector<ManifestArea>& areas, std::vector<ManifestTrack>& entries);

// A manifest made but not yet written: its file name, its lines and the
// line that reports it.
struct DeliveryManifest {
  std::string path;
  std::string text;
  std::string summary;
};

// The manifest of `image_path` from digests already taken: the image's and,
// in `entries` (from manifest_entries), each track's.
void manifest_from_digests(const std::string& image_path, uint64_t image_bytes, const std::string& image_sha,
                           const std::vector<ManifestArea>& areas, const std::vector<ManifestTrack>& entries,
                           DeliveryManifest& out);

// Hashes the image held in `image_file` (which is to become `image_path`)
// and every track range, and makes the manifest of `image_path`. 0 on
// success, 2 after printing why.
int delivery_manifest(const std::vector<InputTrack>& tracks, const DiscLayout& layout,
                      const std::string& image_file, const std::string& image_path, DeliveryManifest& out);

// The same for an image already in place, writing the manifest beside it
// (whole or not at all) and printing its line. 0 on success, 2 on any
// failure.
int write_delivery_manifest(const std::vector<InputTrack>& tracks, const DiscLayout& layout,
                            const std::string& image_path);

// Checks an image against its manifest (manifest_path_for(image) when
// `manifest_path` is empty), reporting each finding and the verdict: the
// number of checks that failed, or the error when the manifest or the image
// cannot be read.
Result<int> verify_delivery(const std::string& image_path, const std::string& manifest_path);

}  // namespace varn
