#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/platform.h"

using namespace varn;

TEST(VolumeTime, SourceDateEpochRule) {
  int64_t t = 0;
  for (const auto& [text, want] : {std::pair<const char*, int64_t>{"1700000000", 1700000000}, {"42abc", 42}}) {
    setenv("SOURCE_DATE_EPOCH", text, 1);
    EXPECT_TRUE(source_date_epoch(t));
    EXPECT_EQ(t, want);
    EXPECT_EQ(volume_time(), want);
  }
  for (const char* bad : {"", "abc", "-5", "  -1"}) {
    setenv("SOURCE_DATE_EPOCH", bad, 1);
    EXPECT_FALSE(source_date_epoch(t)) << bad;
  }
  // Without a usable value the volume time is now.
  const int64_t before = int64_t(std::time(nullptr)), v = volume_time(), after = int64_t(std::time(nullptr));
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_FALSE(source_date_epoch(t));
  EXPECT_GE(v, before);
  EXPECT_LE(v, after);
}

TEST(UniqueFile, CreatesExclusivelyAndRejectsBadPatterns) {
  char bad[] = "/tmp/no_placeholder";
  EXPECT_EQ(platform_make_unique_file(bad), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(platform_make_unique_file(nullptr), -1);
  char pattern[] = "/tmp/varn_unique_XXXXXX.bin";
  int fd = platform_make_unique_file(pattern);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(std::string(pattern).find("XXXXXX"), std::string::npos);
  platform_close_fd(fd);
  std::remove(pattern);
  // A folder whose name holds the placeholder keeps it; a missing folder
  // says so rather than that every name was taken.
  const std::string dir = "/tmp/varn_unique_XXXXXX_dir";
  ASSERT_TRUE(::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST);
  std::string inside = dir + "/f_XXXXXX";
  fd = platform_make_unique_file(inside.data());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(inside.rfind(dir + "/f_", 0), 0u) << inside;
  platform_close_fd(fd);
  std::remove(inside.c_str());
  ::rmdir(dir.c_str());
  std::string missing = "/tmp/varn_no_such_folder_XXXXXX/f_XXXXXX";
  EXPECT_EQ(platform_make_unique_file(missing.data()), -1);
  EXPECT_EQ(errno, ENOENT);
}

// Opening to write creates a missing file and cuts an old one's bytes, so no
// old tail survives a shorter new content.
TEST(WriteOpen, CreatesOrCutsTheOldBytes) {
  const std::string path = "/tmp/varn_write_open_" + std::to_string(::getpid());
  std::remove(path.c_str());
  for (const std::string_view text : {"long old content", "new"}) {
    FILE* f = platform_fopen_write(path);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
    EXPECT_EQ(std::fclose(f), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), text.size());
  }
  std::remove(path.c_str());
  EXPECT_EQ(platform_fopen_write("/tmp/varn_no_such_folder/x"), nullptr);
  EXPECT_EQ(platform_fopen_write(""), nullptr);
}

TEST(Convert, ReplacesWhatTheTargetCannotHold) {
  std::string out;
  // "é" and "中" to ISO-8859-1: the first fits, the second becomes '?'.
  ASSERT_TRUE(platform_convert("a\xC3\xA9\xE4\xB8\xAD", "UTF-8", "ISO-8859-1", out));
  EXPECT_EQ(out, std::string("a\xE9?"));
  ASSERT_TRUE(platform_convert("\xE4\xB8\xAD", "UTF-8", "GBK", out));
  EXPECT_EQ(out, std::string("\xD6\xD0"));
  EXPECT_FALSE(platform_convert("\xFF", "UTF-8", "GBK", out));
}

namespace {
std::vector<std::pair<varn::ReportStream, std::string>> g_seen;
void keep(varn::ReportStream stream, const std::string& text) { g_seen.emplace_back(stream, text); }
}  // namespace

// An error longer than the formatter's small buffer reaches the sink whole,
// on its own stream, only when reported.
TEST(ErrorValue, KeepsLongTextUntilReported) {
  const std::string name(600, 'x');
  const varn::Error e = varn::make_error("Error: cannot open %s\n", name.c_str());
  EXPECT_EQ(e.text, "Error: cannot open " + name + "\n");
  g_seen.clear();
  varn::set_report_sink(keep);
  varn::report(e);
  varn::report(varn::Error{"note\n", varn::ReportStream::Out});
  varn::set_report_sink(nullptr);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].first, varn::ReportStream::Err);
  EXPECT_EQ(g_seen[0].second, e.text);
  EXPECT_EQ(g_seen[1].first, varn::ReportStream::Out);
}
