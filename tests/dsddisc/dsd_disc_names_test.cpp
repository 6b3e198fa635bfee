#include <gtest/gtest.h>

#include "dsddisc/dsd_disc_plan.h"

using varn::check_dsd_name;
using varn::disc_file_name;
using varn::playlist_text;

namespace {

std::string refused(const std::string& name) {
  testing::internal::CaptureStderr();
  bool ok = check_dsd_name(name, "album name");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(ok) << name;
  return err;
}

}  // namespace

TEST(DsdDiscNames, AlbumNameRule) {
  EXPECT_EQ(refused(""), "Error: album name is empty\n");
  EXPECT_EQ(refused("Live/2020"), "Error: album name must not contain path separators: 'Live/2020'\n");
  EXPECT_EQ(refused("Live\\2020"), "Error: album name must not contain path separators: 'Live\\2020'\n");
  EXPECT_EQ(refused("/"), "Error: album name must not contain path separators: '/'\n");
  EXPECT_EQ(refused("."), "Error: reserved album name: '.'\n");
  EXPECT_EQ(refused(".."), "Error: reserved album name: '..'\n");

  testing::internal::CaptureStderr();
  EXPECT_TRUE(check_dsd_name("...", "album name"));
  EXPECT_TRUE(check_dsd_name(".hidden", "album name"));
  EXPECT_TRUE(check_dsd_name("Ärger & Co", "album name"));
  EXPECT_TRUE(check_dsd_name("ALBUM", "album name"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(DsdDiscNames, FileNameIsTheLastComponent) {
  EXPECT_EQ(disc_file_name("a.dsf"), "a.dsf");
  EXPECT_EQ(disc_file_name("/music/live/01 Intro.dsf"), "01 Intro.dsf");
  // A backslash belongs to the name, which the name rule then refuses.
  EXPECT_EQ(disc_file_name("mixed/we\\ird.dsf"), "we\\ird.dsf");
  EXPECT_EQ(disc_file_name("dir/"), "");
}

TEST(DsdDiscNames, LongNamesKeepTheirExtension) {
  std::string stem(300, 's');
  std::string cut = disc_file_name("/x/" + stem + ".dsf");
  EXPECT_EQ(cut.size(), 250u);
  EXPECT_EQ(cut, std::string(246, 's') + ".dsf");

  // Exactly 250 bytes stays whole; 251 is cut.
  std::string exact = std::string(246, 'e') + ".dsf";
  EXPECT_EQ(disc_file_name(exact), exact);
  EXPECT_EQ(disc_file_name("e" + exact), exact);

  // The extension is the part from the last dot.
  std::string dotted = std::string(200, 'a') + ".live." + std::string(100, 'b') + ".dsf";
  EXPECT_EQ(disc_file_name(dotted), dotted.substr(0, 246) + ".dsf");

  // No dot: the first 250 bytes.
  std::string plain(400, 'p');
  EXPECT_EQ(disc_file_name(plain), std::string(250, 'p'));

  // An extension of exactly 250 bytes is kept with nothing before it.
  std::string ext250(250, 'x');
  ext250[0] = '.';
  std::string with_stem = std::string(3, 'c');
  with_stem += ext250;
  EXPECT_EQ(disc_file_name(with_stem), ext250);

  // An extension longer than the limit cannot be kept: the first 250 bytes.
  std::string huge(303, 'x');
  huge.replace(0, 3, "ab.");
  EXPECT_EQ(disc_file_name(huge), huge.substr(0, 250));
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
