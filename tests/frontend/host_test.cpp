// Host integration: the in-process control channel, a stop it brings to a
// run, and the library's exports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "frontend/driver.h"
#include "frontend/host.h"
#include "support/capture.h"
#include "support/test_support.h"

using namespace varn;

namespace {

std::atomic<int> g_calls{0};
std::atomic<uint64_t> g_handle{0};
std::vector<std::string> g_script;

int32_t scripted_read(uint64_t handle, char* buffer, int32_t capacity) {
  g_handle = handle;
  const int n = g_calls++;
  if (n >= int(g_script.size()) || capacity < 4095) return 0;
  std::memcpy(buffer, g_script[size_t(n)].data(), g_script[size_t(n)].size());
  return int32_t(g_script[size_t(n)].size());
}

void wait_for(const std::function<bool()>& done) {
  for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

TEST(ControlChannel, IgnoresUnknownCommandsThenStops) {
  take_host_stop_request();
  g_calls = 0;
  g_script = {"pause\n", "stop\r\n"};
  const testsupport::Streams s = testsupport::capture([] {
    start_control_reader(77, &scripted_read);
    wait_for([] { return host_stop_requested(); });
  });
  EXPECT_EQ(g_handle.load(), 77u);
  EXPECT_EQ(g_calls.load(), 2);  // no read after the stop
  EXPECT_TRUE(testsupport::contains(s.err, "ignored command 'pause'")) << s.err;
  EXPECT_TRUE(take_host_stop_request());
  EXPECT_FALSE(host_stop_requested());

  // The pre-pass starts a reader only when both numbers are given, the
  // last of each counting.
  g_calls = 0;
  g_script = {"stop"};
  const std::string fn = std::to_string(reinterpret_cast<uintptr_t>(&scripted_read));
  host_pre_pass({"vt", "-inproc-ctl", "9"});
  host_pre_pass({"vt", "-inproc-ctl=9", "-inproc-ctl-fn", fn});
  testsupport::capture([&] {
    host_pre_pass({"vt", "-inproc-ctl", "1", "-inproc-ctl", "12", "-inproc-ctl-fn", fn});
    wait_for([] { return host_stop_requested(); });
  });
  EXPECT_EQ(g_calls.load(), 1);
  EXPECT_EQ(g_handle.load(), 12u);
  EXPECT_TRUE(take_host_stop_request());
}

// A stop from the control channel ends the run before the next input, with
// its own exit code and no image.
TEST(ControlChannel, StopEndsTheRun) {
  testsupport::ScratchDir dir;
  ASSERT_TRUE(testsupport::dsdgen({"--seconds", "0.2", dir.file("a.dsf")}));
  take_host_stop_request();
  g_calls = 0;
  g_script = {"stop\r\n"};
  const std::string fn = std::to_string(reinterpret_cast<uintptr_t>(&scripted_read));
  auto entry = [](std::vector<std::string> args, int& rc) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return testsupport::capture([&] { rc = run_entry_point(int(argv.size()), argv.data()); });
  };
  int rc = -1;
  entry({"vt", "-inproc-ctl", "3", "-inproc-ctl-fn", fn, "--help"}, rc);
  EXPECT_EQ(rc, 0);
  wait_for([] { return host_stop_requested(); });
  ASSERT_TRUE(host_stop_requested());
  const testsupport::Streams s = entry({"vt", "-o", dir.file("x.iso"), dir.file("a.dsf")}, rc);
  EXPECT_EQ(rc, -61);
  EXPECT_TRUE(testsupport::contains(s.err, "packing aborted after 0 complete track(s)")) << s.err;
  EXPECT_FALSE(host_stop_requested());
  EXPECT_FALSE(testsupport::file_exists(dir.file("x.iso")));
}

TEST(Exports, TheLibraryExportsExactlyTheTwoEntryPoints) {
  const auto r = testsupport::run_shell(std::string("nm -D --defined-only '") + VARN_TEST_CORE_LIB +
                                        "' | awk '$2 ~ /^[TDBRVWi]$/ {print $3}' | sort");
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "varn_tessel_main\nvarn_tessel_set_process_owner\n");
}
