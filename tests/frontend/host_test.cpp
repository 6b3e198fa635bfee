// Host integration: --api schema, control channel, process services, exports.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "frontend/driver.h"
#include "frontend/host.h"
#include "frontend/json_check.h"
#include "platform/platform.h"
#include "support/test_support.h"

using namespace varn;

TEST(ApiSchema, OneJsonLineWith35Entries) {
  auto r = testsupport::run_varntessel({"--api"});
  ASSERT_EQ(r.exit_code, 0);
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out.back(), '\n');
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1);
  std::string body = r.out.substr(0, r.out.size() - 1);
  jsoncheck::Value v;
  ASSERT_TRUE(jsoncheck::parse(body, v)) << body;
  ASSERT_EQ(v.kind, jsoncheck::Value::Object);
  ASSERT_EQ(v.members.size(), 4u);
  EXPECT_EQ(v.members[0].first, "tool");
  EXPECT_EQ(v.members[0].second.text, "VarnPackEngine");
  EXPECT_EQ(v.members[1].second.text, "6.76.9");
  EXPECT_EQ(v.members[2].first, "optionCount");
  EXPECT_EQ(v.members[2].second.number, 35);
  const auto& options = v.members[3].second.items;
  ASSERT_EQ(options.size(), 35u);
  EXPECT_EQ(options[0].get("name")->text, "-o");
  EXPECT_EQ(options[0].get("usage")->text, "FILE.iso       Write SACD ISO image (default: auto)");
  EXPECT_EQ(options[1].get("name")->text, "-o");
  bool album = false, pause = false;
  for (const auto& o : options) {
    ASSERT_EQ(o.members.size(), 2u);
    EXPECT_EQ(o.members[0].first, "name");
    if (o.get("name")->text == "--album") {
      album = true;
      EXPECT_EQ(o.get("usage")->text, "TEXT      Album title (overrides file metadata)");
    }
    if (o.get("name")->text == "--pause") {
      pause = true;
      EXPECT_NE(o.get("usage")->text.find("(default 150)"), std::string::npos);
    }
    if (o.get("name")->text == "--dst-fast") {
      EXPECT_NE(o.get("usage")->text.find("+11% size"), std::string::npos);
    }
  }
  EXPECT_TRUE(album && pause);
}

TEST(ApiSchema, EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(json_escape("a\"b\\c\td\ne\rf\x01g\xC3\xA9"), "a\\\"b\\\\c\\td\\ne\\rf\\u0001g\xC3\xA9");
  // A program name with a quote reaches the schema only through examples,
  // which give no entries; the schema stays valid JSON.
  jsoncheck::Value v;
  EXPECT_TRUE(jsoncheck::parse(api_schema_json("a\"b").substr(0, api_schema_json("a\"b").size() - 1), v));
}

namespace {

std::atomic<int> g_calls{0};
std::atomic<uint64_t> g_handle{0};
std::vector<std::string> g_script;

int32_t scripted_read(uint64_t handle, char* buffer, int32_t capacity) {
  g_handle = handle;
  int n = g_calls++;
  if (n >= static_cast<int>(g_script.size())) return 0;
  const std::string& s = g_script[static_cast<size_t>(n)];
  EXPECT_EQ(capacity, 4095);
  std::memcpy(buffer, s.data(), s.size());
  return static_cast<int32_t>(s.size());
}

void wait_for(const std::function<bool()>& cond) {
  for (int i = 0; i < 500 && !cond(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

}  // namespace

TEST(ControlChannel, IgnoresUnknownCommandsThenStops) {
  take_host_stop_request();
  g_calls = 0;
  g_script = {"pause\n", "stop\r\n"};
  testing::internal::CaptureStderr();
  start_control_reader(77, &scripted_read);
  wait_for([] { return host_stop_requested(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(host_stop_requested());
  EXPECT_EQ(g_handle.load(), 77u);
  EXPECT_EQ(g_calls.load(), 2);  // ends after the stop, no third read
  EXPECT_EQ(err,
            "[tessel] inproc control: ignored command 'pause'\n"
            "[tessel] host requested stop (inproc control channel)\n");
  EXPECT_TRUE(take_host_stop_request());
  EXPECT_FALSE(host_stop_requested());
}

TEST(ControlChannel, ClosedChannelEndsWithoutStop) {
  take_host_stop_request();
  g_calls = 0;
  g_script = {};
  start_control_reader(1, &scripted_read);
  wait_for([] { return g_calls.load() >= 1; });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(g_calls.load(), 1);
  EXPECT_FALSE(host_stop_requested());
}

TEST(ControlChannel, PrePassStartsReaderOnlyWithBothNumbers) {
  take_host_stop_request();
  g_calls = 0;
  g_script = {"quit"};
  std::string fn = std::to_string(reinterpret_cast<uintptr_t>(&scripted_read));
  host_pre_pass({"vt", "-inproc-ctl", "9"});
  host_pre_pass({"vt", "-inproc-ctl-fn", fn});
  host_pre_pass({"vt", "-inproc-ctl=9", "-inproc-ctl-fn", fn});
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(g_calls.load(), 0);
  testing::internal::CaptureStderr();
  host_pre_pass({"vt", "-inproc-ctl", "1", "-inproc-ctl", "12", "-inproc-ctl-fn", fn});
  wait_for([] { return host_stop_requested(); });
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_handle.load(), 12u);
  EXPECT_TRUE(take_host_stop_request());
}

TEST(ControlChannel, ConsoleProgramRefusesAFunctionAddress) {
  auto r = testsupport::run_varntessel({"-inproc-ctl", "1", "-inproc-ctl-fn", "4096", "a.dsf"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("-inproc-ctl-fn is accepted only from an in-process host"), std::string::npos);
}

TEST(ProcessServices, TempDirTakesTmpWhenTempIsEmpty) {
  // The directory is fixed at first use in a process: re-run in a fresh one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("TEMP", "", 1);
        setenv("TMP", "/var/tmp/x", 1);
        std::exit(std::string(platform_temp_dir()) == "/var/tmp/x" ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        unsetenv("TEMP");
        unsetenv("TMP");
        bool first = std::string(platform_temp_dir()) == ".";
        setenv("TEMP", "/elsewhere", 1);
        std::exit(first && std::string(platform_temp_dir()) == "." ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ProcessServices, ProcessOwnerFlagIsStored) {
  set_process_owner(true);
  EXPECT_TRUE(process_owner());
  set_process_owner(false);
  EXPECT_FALSE(process_owner());
}

TEST(Exports, TheLibraryExportsExactlyTheTwoEntryPoints) {
  auto r = testsupport::run_shell(std::string("nm -D --defined-only '") + VARN_TEST_CORE_LIB +
                                  "' | awk '$2 ~ /^[TDBRVWi]$/ {print $3}' | sort");
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "varn_tessel_main\nvarn_tessel_set_process_owner\n");
}
