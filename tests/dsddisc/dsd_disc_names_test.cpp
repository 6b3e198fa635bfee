#include <gtest/gtest.h>

#include "dsddisc/dsd_disc_plan.h"

using varn::check_dsd_name;
using varn::disc_file_name;
using varn::playlist_text;

TEST(DsdDiscNames, AlbumNameRule) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "Error: album name is empty\n"},
      {"Live/2020", "Error: album name must not contain path separators: 'Live/2020'\n"},
      {"Live\\2020", "Error: album name must not contain path separators: 'Live\\2020'\n"},
      {"/", "Error: album name must not contain path separators: '/'\n"},
      {".", "Error: reserved album name: '.'\n"},
      {"..", "Error: reserved album name: '..'\n"},
      {"...", ""}, {".hidden", ""}, {"\xC3\x84rger & Co", ""}, {"ALBUM", ""}};
  for (const auto& [name, message] : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(check_dsd_name(name, "album name"), message.empty()) << name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
  }
}

// The last path component, cut to 250 bytes keeping the extension (the part
// from the last dot) when it can.
TEST(DsdDiscNames, FileNames) {
  const std::string ext250 = "." + std::string(249, 'x');
  const std::string dotted = std::string(200, 'a') + ".live." + std::string(100, 'b') + ".dsf";
  const std::string huge = "ab." + std::string(300, 'x');
  const std::pair<std::string, std::string> cases[] = {
      {"a.dsf", "a.dsf"},
      {"/music/live/01 Intro.dsf", "01 Intro.dsf"},
      {"mixed/we\\ird.dsf", "we\\ird.dsf"},  // a backslash belongs to the name
      {"dir/", ""},
      {"/x/" + std::string(300, 's') + ".dsf", std::string(246, 's') + ".dsf"},
      {std::string(246, 'e') + ".dsf", std::string(246, 'e') + ".dsf"},  // exactly 250 bytes
      {std::string(247, 'e') + ".dsf", std::string(246, 'e') + ".dsf"},
      {dotted, dotted.substr(0, 246) + ".dsf"},
      {std::string(400, 'p'), std::string(250, 'p')},  // no dot
      {"ccc" + ext250, ext250},                        // an extension of exactly 250 bytes
      {huge, huge.substr(0, 250)},                     // a longer extension cannot be kept
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(disc_file_name(path), name) << path;
}

TEST(DsdDiscNames, LongNamesAreCutBetweenCharacters) {
  // U+65E5 takes 3 bytes as UTF-8 and 2 on the disc (after ID 16, where
  // every character takes 2): 126 of them do not fit 250 bytes.
  std::string sun;
  for (int i = 0; i < 130; ++i) sun += "\xe6\x97\xa5";
  const std::string cut = disc_file_name(sun + ".dsf");
  EXPECT_EQ(varn::disc_name_bytes(cut), 250u);
  EXPECT_EQ(cut, sun.substr(0, 121 * 3) + ".dsf");
  // Latin-1 characters take one byte each on the disc: 246 of them fit.
  std::string e_acute;
  for (int i = 0; i < 246; ++i) e_acute += "\xc3\xa9";
  EXPECT_EQ(disc_file_name(e_acute + ".dsf"), e_acute + ".dsf");
  EXPECT_EQ(disc_file_name(e_acute + "\xc3\xa9.dsf"), e_acute + ".dsf");
}

TEST(DsdDiscNames, PlaylistText) {
  EXPECT_EQ(playlist_text("Rock", {"01 A.dsf", "02 B.dsf"}),
            "#Playlist Rock.ddp\n./Rock/01 A.dsf\n./Rock/02 B.dsf\n");
  EXPECT_EQ(playlist_text("Ärger", {"ü.dsf"}), "#Playlist Ärger.ddp\n./Ärger/ü.dsf\n");
}
