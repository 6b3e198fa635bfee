// Inputs for the DSD Disc tests: small DSF files made by dsdgen.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "dsddisc/dsd_disc.h"
#include "dsddisc/dsd_disc_plan.h"
#include "dsdgen/dsdgen.h"
#include "support/capture.h"
#include "support/test_support.h"

namespace dsdtest {

// A stereo DSF file of `samples` 1-bit samples per channel; returns its bytes.
inline std::vector<uint8_t> make_dsf(const std::string& path, uint64_t samples, uint64_t seed = 1) {
  dsdgen::SignalOptions opt;
  opt.samples = samples;
  opt.seed = seed;
  dsdgen::DsfOptions dsf;
  dsf.tags.title = "Track " + std::to_string(seed);
  EXPECT_TRUE(dsdgen::write_dsf(path, 2, 2822400, dsdgen::generate(opt), dsf));
  return testsupport::read_file(path);
}

// A DSF file of exactly `n` bytes (116 or more): one sample byte per
// channel and a tag padded to the size.
inline std::string bytes_file(const testsupport::ScratchDir& dir, const std::string& name, size_t n) {
  const std::string path = dir.file(name);
  dsdgen::DsfOptions o;
  o.block_size = 0;
  o.tags.title = "t";
  o.tags.padding = uint32_t(n - 116);
  EXPECT_TRUE(dsdgen::write_dsf(path, 2, 2822400, {0x69, 0x69}, o));
  return path;
}

inline varn::DsdDiscTrack track(const std::string& path, const std::string& album) {
  return varn::DsdDiscTrack{path, album};
}

// What a build printed (its error after its reports, where the front end
// prints it), and whether it succeeded.
struct Built {
  bool ok = false;
  std::string out, err;
};
inline Built build(const varn::DsdDiscJob& job) {
  Built b;
  varn::Status error;
  const testsupport::Streams s = testsupport::capture([&] { error = varn::build_dsd_disc(job); });
  b.ok = !error;
  b.out = s.out;
  b.err = s.err + (error ? error->text : "");
  return b;
}

}  // namespace dsdtest
