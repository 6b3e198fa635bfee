// Host integration: the in-process control channel, a stop it brings to a
// run, and the library's exports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "frontend/driver.h"
#include "frontend/host.h"
#include "platform/cancel.h"
#include "support/entry_point.h"
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
  // The stop reaches the long steps as Ctrl-C does.
  EXPECT_EQ(cancel_signal(), kStopByHost);
  clear_cancel();
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
  EXPECT_EQ(testsupport::run_entry({"vt", "-inproc-ctl", "3", "-inproc-ctl-fn", fn, "--help"}).exit_code, 0);
  wait_for([] { return host_stop_requested(); });
  ASSERT_TRUE(host_stop_requested());
  const testsupport::RunResult s = testsupport::run_entry({"vt", "-o", dir.file("x.iso"), dir.file("a.dsf")});
  EXPECT_EQ(s.exit_code, -61);
  EXPECT_TRUE(testsupport::contains(s.err, "packing aborted after 0 complete track(s)")) << s.err;
  EXPECT_FALSE(host_stop_requested());
  EXPECT_FALSE(testsupport::file_exists(dir.file("x.iso")));
}

namespace {
std::string g_staged_prefix;
// Says "stop" once the staged image has grown past 4 MiB: the image is
// being written then.
int32_t read_stop_while_writing(uint64_t, char* buffer, int32_t) {
  for (int i = 0; i < 20000; ++i) {
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(g_staged_prefix).parent_path())) {
      const std::string name = e.path().string();
      std::error_code ec;
      if (name.rfind(g_staged_prefix, 0) == 0 && name.size() > 5 && name.substr(name.size() - 5) == ".part" &&
          std::filesystem::file_size(e.path(), ec) > (4u << 20)) {
        std::memcpy(buffer, "stop", 4);
        return 4;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}
}  // namespace

// A stop that arrives while the image is written ends the writing at once,
// not after the run: the same message and exit code, and nothing left.
TEST(ControlChannel, StopWhileWritingEndsTheRunAtOnce) {
  testsupport::ScratchDir dir;
  ASSERT_TRUE(testsupport::dsdgen({"--seconds", "120", "--repeat-period-bytes", "352800", dir.file("long.dsf")}));
  take_host_stop_request();
  g_staged_prefix = dir.file("y.iso.");
  const testsupport::RunResult s = testsupport::run_entry(
      {"vt", "-inproc-ctl", "5", "-inproc-ctl-fn", std::to_string(reinterpret_cast<uintptr_t>(&read_stop_while_writing)),
       "-o", dir.file("y.iso"), dir.file("long.dsf")});
  EXPECT_EQ(s.exit_code, -61) << s.err;
  EXPECT_TRUE(testsupport::contains(s.err, "packing aborted after 1 complete track(s)")) << s.err;
  EXPECT_FALSE(testsupport::contains(s.out, "SACD ISO created")) << s.out;
  EXPECT_FALSE(host_stop_requested());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);  // the input alone
  clear_cancel();
}

TEST(Exports, TheLibraryExportsExactlyTheTwoEntryPoints) {
  const auto r = testsupport::run_shell(std::string("nm -D --defined-only '") + VARN_TEST_CORE_LIB +
                                        "' | awk '$2 ~ /^[TDBRVWi]$/ {print $3}' | sort");
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "varn_tessel_main\nvarn_tessel_set_process_owner\n");
}
