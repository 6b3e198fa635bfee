// The driver over real input files: reading loop, per-track
// options, the host stop request.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "dsdgen/dsdgen.h"
#include "frontend/driver.h"
#include "frontend/host.h"
#include "support/test_support.h"

using namespace varn;

namespace {

std::string make_dsf(const testsupport::ScratchDir& dir, const std::string& name, uint32_t track,
                     const std::string& title) {
  dsdgen::SignalOptions s;
  s.samples = 2822400 / 5;  // 15 frames
  s.kind = dsdgen::SignalKind::Tone;
  dsdgen::DsfOptions o;
  o.tags.title = title;
  if (track) o.tags.track = std::to_string(track);
  std::string path = dir.file(name);
  EXPECT_TRUE(dsdgen::write_dsf(path, 2, 2822400, dsdgen::generate(s), o));
  return path;
}

struct Captured {
  int rc;
  std::string out, err;
};

Captured run(std::vector<std::string> args) {
  args.insert(args.begin(), "vt");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int rc = run_entry_point(static_cast<int>(argv.size()), argv.data());
  Captured c{rc, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
  return c;
}

int32_t read_stop(uint64_t, char* buffer, int32_t) {
  static const char msg[] = "stop\r\n";
  static std::atomic<int> calls{0};
  if (calls++ > 0) return 0;
  std::memcpy(buffer, msg, sizeof msg - 1);
  return sizeof msg - 1;
}

}  // namespace

TEST(DriverRun, StopRequestEndsTheRunAtTheNextInput) {
  testsupport::ScratchDir dir;
  std::string a = make_dsf(dir, "a.dsf", 0, "A");
  std::string b = make_dsf(dir, "b.dsf", 0, "B");
  take_host_stop_request();
  // A run that ends before reading starts the channel; the stop that arrives
  // afterwards stays set for the next run of the process.
  std::string fn = std::to_string(reinterpret_cast<uintptr_t>(&read_stop));
  Captured first = run({"-inproc-ctl", "3", "-inproc-ctl-fn", fn, "--help"});
  EXPECT_EQ(first.rc, 0);
  for (int i = 0; i < 400 && !host_stop_requested(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(host_stop_requested());
  Captured stopped = run({"-o", dir.file("x.iso"), a, b});
  EXPECT_EQ(stopped.rc, -61);
  EXPECT_NE(stopped.err.find("\n[tessel] host requested stop (inproc control channel) -- packing aborted "
                             "after 0 complete track(s), ISO is incomplete\n"),
            std::string::npos);
  EXPECT_FALSE(host_stop_requested());
  EXPECT_FALSE(testsupport::file_exists(dir.file("x.iso")));
}

TEST(DriverRun, DumpModeReadsTracksAndPrintsTheirSummaries) {
  testsupport::ScratchDir dir;
  std::string a = make_dsf(dir, "03 - Third.dsf", 3, "");
  std::string c = make_dsf(dir, "01 - First.dsf", 1, "First tag");
  Captured r = run({"-o", dir.file("dump/"), "--artist", "Band", a, c});
  // The run goes on to the later stages; only the reading part is checked.
  // A tag without TPE1 empties the preset artist, as the reader defines.
  EXPECT_NE(r.out.find("  [DSF] " + a + "  2ch 2822400Hz  564480 samples   - \n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  [Sort] sorting 2  tracks\n"), std::string::npos);
}
