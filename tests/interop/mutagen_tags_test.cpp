// DSF files tagged by mutagen (the tagging library behind beets and Picard)
// in ID3v2.3 and v2.4, every text encoding, two artists, with and without a
// picture: the reader gives the texts mutagen reads back, the files pack
// without --allow-meta-errors, and the CUE sheet and the independent SACD
// reader show those texts.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "audio/dsf_reader.h"
#include "dsdgen/dsdgen.h"
#include "support/sacd_reader.h"
#include "support/test_support.h"

using testsupport::ScratchDir;

namespace {

// Writes one tagged copy of BASE per version, encoding and picture choice
// (ISO-8859-1 texts for encoding 0, Japanese ones otherwise) and a line per
// file of what mutagen reads back: path, title, artist, album, genre, date
// (values joined with " / "), picture size.
const char* const kTagger = R"PY(
import shutil, sys
from mutagen.dsf import DSF
from mutagen.id3 import APIC, TALB, TCON, TDRC, TIT2, TPE1, TRCK
out, base, cover = sys.argv[1:4]
pic = open(cover, 'rb').read()
rows, n = [], 0
for enc in (0, 1, 2, 3):
    for v in (3, 4):
        for with_pic in (False, True):
            n += 1
            if enc == 0:
                title, album = 'Caf\u00e9 Ol\u00e9 %d' % n, 'Album \u00dc'
                artists = ['Rolando Villaz\u00f3n', 'Anna Netrebko']
            else:
                title, album = '\u3055\u304f\u3089 \u65e5\u672c %d' % n, '\u30a2\u30eb\u30d0\u30e0'
                artists = ['\u30d3\u30e7\u30fc\u30af', 'Singer B']
            name = '%s/e%d_v%d_%d.dsf' % (out, enc, v, with_pic)
            shutil.copy(base, name)
            f = DSF(name)
            f.add_tags()
            t = f.tags
            t.add(TIT2(encoding=enc, text=[title]))
            t.add(TPE1(encoding=enc, text=artists))
            t.add(TALB(encoding=enc, text=[album]))
            t.add(TCON(encoding=enc, text=['Opera']))
            t.add(TDRC(encoding=enc, text=['2024']))
            t.add(TRCK(encoding=enc, text=['%d/16' % n]))
            if with_pic:
                t.add(APIC(encoding=enc, mime='image/png', type=3, desc='Front \u00e9', data=pic))
            if v == 3:
                t.update_to_v23()
            f.save(v2_version=v)
            r = DSF(name).tags
            txt = lambda k: ' / '.join(str(x) for x in r[k].text) if k in r else ''
            rows.append('\t'.join([name, txt('TIT2'), txt('TPE1'), txt('TALB'), txt('TCON'),
                                   txt('TDRC'), str(len(pic) if with_pic else 0)]))
open(out + '/expected.tsv', 'w', encoding='utf-8').write('\n'.join(rows) + '\n')
)PY";

// A python3 that has mutagen, or empty.
std::string python_with_mutagen() {
  for (const char* p : {"python3", "/usr/bin/python3"})
    if (testsupport::run_shell(std::string(p) + " -c 'import mutagen' >/dev/null 2>&1").exit_code == 0)
      return p;
  return std::string();
}

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::stringstream ss(line);
  for (std::string f; std::getline(ss, f, sep);) out.push_back(f);
  return out;
}

using Row = std::vector<std::string>;  // path, title, artist, album, genre, date, picture size

// Packs the files of `rows` into one disc and checks the texts in its CUE
// sheet and, where the reader is at hand, in the reader's report.
void pack_and_check(const ScratchDir& dir, const std::string& name, const std::vector<Row>& rows) {
  std::vector<std::string> args = {"-o", dir.file(name + ".iso")};
  for (const Row& row : rows) args.push_back(row[0]);
  const testsupport::RunResult packed = testsupport::run_varntessel(args);
  ASSERT_EQ(packed.exit_code, 0) << packed.err;
  const std::string cue = testsupport::read_text(dir.file(name + ".cue"));
  size_t at = 0;
  for (const Row& row : rows) {
    for (const std::string& line : {"    PERFORMER \"" + row[2] + "\"", "    TITLE \"" + row[1] + "\""}) {
      const size_t found = cue.find(line, at);
      ASSERT_NE(found, std::string::npos) << line << "\n" << cue;
      at = found;
    }
  }
  const std::string reader = testsupport::sacd_reader();
  if (reader.empty()) return;
  const testsupport::ReaderReport info = testsupport::read_sacd_info(reader, dir.file(name + ".iso"), dir.path);
  ASSERT_EQ(info.areas.size(), 1u) << info.text;
  ASSERT_EQ(info.areas[0].tracks.size(), rows.size()) << info.text;
  for (size_t k = 0; k < rows.size(); ++k) {
    EXPECT_EQ(testsupport::field(info.areas[0].tracks[k], "Title"), rows[k][1]) << rows[k][0];
    EXPECT_EQ(testsupport::field(info.areas[0].tracks[k], "Performer"), rows[k][2]) << rows[k][0];
  }
}

}  // namespace

TEST(MutagenTags, TaggedFilesPackWithTheTaggersTexts) {
  const std::string python = python_with_mutagen();
  if (python.empty()) GTEST_SKIP() << "python3 with mutagen not installed (Debian: python3-mutagen)";
  ScratchDir dir;
  dsdgen::SignalOptions s;
  s.samples = 2822400 / 4;
  ASSERT_TRUE(dsdgen::write_dsf(dir.file("base.dsf"), 2, 2822400, dsdgen::generate(s), dsdgen::DsfOptions{}));
  std::vector<uint8_t> picture(3000);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = uint8_t(i * 131 + (i >> 3));
  picture[7] = 0xFF;  // byte pairs an unsynchronising writer would have to escape
  picture[8] = 0xE0;
  testsupport::write_file(dir.file("cover.png"), picture);
  testsupport::write_text(dir.file("tag.py"), kTagger);
  const testsupport::RunResult tagged =
      testsupport::run_program(python, {dir.file("tag.py"), dir.path, dir.file("base.dsf"), dir.file("cover.png")});
  ASSERT_EQ(tagged.exit_code, 0) << tagged.err;

  std::vector<Row> latin, japanese;
  for (const std::string& line : split(testsupport::read_text(dir.file("expected.tsv")), '\n')) {
    const Row row = split(line, '\t');
    ASSERT_EQ(row.size(), 7u) << line;
    varn::InputTrack t;
    testing::internal::CaptureStdout();
    const bool read = !varn::read_dsf(row[0], t);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(read) << row[0];
    EXPECT_EQ(t.title, row[1]) << row[0];
    EXPECT_EQ(t.artist, row[2]) << row[0];
    EXPECT_EQ(t.album, row[3]) << row[0];
    EXPECT_EQ(t.genre, row[4]) << row[0];
    EXPECT_EQ(t.date, row[5]) << row[0];
    EXPECT_EQ(t.track_number, latin.size() + japanese.size() + 1) << row[0];
    EXPECT_EQ(t.cover, row[6] == "0" ? std::vector<uint8_t>{} : picture) << row[0];
    (row[0].find("/e0_") != std::string::npos ? latin : japanese).push_back(row);
  }
  ASSERT_EQ(latin.size() + japanese.size(), 16u);
  // One disc per character set, so that each disc can hold its texts.
  pack_and_check(dir, "latin", latin);
  pack_and_check(dir, "japanese", japanese);
}
