// Inputs for the DSD Disc tests: small DSF files made by dsdgen.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "dsddisc/dsd_disc.h"
#include "support/capture.h"
#include "support/test_support.h"
#include "dsdgen/dsdgen.h"

namespace dsdtest {

// A stereo DSF file of `samples` 1-bit samples per channel; returns its bytes.
inline std::vector<uint8_t> make_dsf(const std::string& path, uint64_t samples, uint64_t seed = 1) {
  dsdgen::SignalOptions opt;
  opt.samples = samples;
  opt.seed = seed;
  opt.kind = dsdgen::SignalKind::Noise;
  std::vector<uint8_t> payload = dsdgen::generate(opt);
  dsdgen::DsfOptions dsf;
  dsf.tags.title = "Track " + std::to_string(seed);
  EXPECT_TRUE(dsdgen::write_dsf(path, 2, 2822400, payload, dsf));
  return testsupport::read_file(path);
}

inline varn::DsdDiscTrack track(const std::string& path, const std::string& album) {
  return varn::DsdDiscTrack{path, album};
}

inline std::vector<uint8_t> sector_bytes(const std::vector<uint8_t>& image, uint64_t lsn,
                                         uint64_t length) {
  uint64_t at = lsn * 2048;
  if (at + length > image.size()) return {};
  return std::vector<uint8_t>(image.begin() + at, image.begin() + at + length);
}

inline std::string text_of(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace dsdtest
