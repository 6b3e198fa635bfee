// DSF reader: bit-exact payloads over rates, channel counts, block sizes and
// bit orders; header edge cases and their messages; ID3v2 tags and covers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/dsdiff_reader.h"
#include "audio/dsf_reader.h"
#include "audio/input_track.h"
#include "audio/plain_source.h"
#include "audio_test_util.h"
#include "support/test_support.h"

using namespace audiotest;
using testsupport::read_file;
using testsupport::ScratchDir;
using testsupport::write_file;
using varn::InputTrack;

namespace {

std::string dsf(const ScratchDir& dir, const std::string& name, uint32_t channels, uint32_t rate,
                const std::vector<uint8_t>& payload, const dsdgen::DsfOptions& opt = {},
                uint64_t sample_count = 0) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(dsdgen::write_dsf(path, channels, rate, payload, opt, sample_count));
  return path;
}

}  // namespace

TEST(DsfReader, PayloadIsBitExactAcrossFormats) {
  ScratchDir dir;
  const uint32_t rates[] = {2822400, 5644800, 11289600, 3072000, 6144000, 12288000};
  const uint32_t multiples[] = {64, 128, 256, 64, 128, 256};
  int n = 0;
  for (int r = 0; r < 6; ++r) {
    const uint32_t rate = rates[r];
    for (uint32_t ch : {2u, 5u, 6u}) {
      // Two frames and a bit: neither block- nor frame-aligned.
      const uint64_t bpc = 2 * (rate / 600) + 777;
      const std::vector<uint8_t> payload = signal(ch, rate, bpc * 8 + 3, ch + r);
      const std::vector<uint8_t> want = padded(payload, ch, rate);
      for (uint32_t block : {4096u, 0u}) {
        for (bool lsb : {true, false}) {
          SCOPED_TRACE(std::to_string(rate) + " Hz " + std::to_string(ch) + " ch block " +
                       std::to_string(block) + (lsb ? " lsb" : " msb"));
          dsdgen::DsfOptions o;
          o.block_size = block;
          o.lsb_first = lsb;
          char name[32];
          std::snprintf(name, sizeof name, "t%d.dsf", n++);
          const std::string path = dsf(dir, name, ch, rate, payload, o, bpc * 8 + 3);
          InputTrack t;
          ReadResult run = run_dsf(path, t);
          ASSERT_TRUE(run.ok) << run.err;
          EXPECT_EQ(t.channels, ch);
          EXPECT_EQ(t.sample_rate, rate);
          EXPECT_EQ(t.rate_multiple, multiples[r]);
          EXPECT_EQ(t.sample_count, bpc * 8 + 3);
          EXPECT_FALSE(t.is_dst);
          EXPECT_EQ(t.audio.size(), want.size());
          EXPECT_TRUE(t.audio == want);
          EXPECT_EQ(run.err, pad_line(want.size() - payload.size()));
        }
      }
    }
  }
}

TEST(DsfReader, OneSecondSampleCounts) {
  ScratchDir dir;
  const std::vector<uint8_t> one = signal(2, 2822400, 2822400);
  const std::vector<uint8_t> more = signal(2, 2822400, 2822408);
  struct Case {
    uint64_t samples;
    const std::vector<uint8_t>* payload;
    size_t length, pad;
  } cases[] = {{2822400, &one, 705600, 0}, {2822401, &one, 705600, 0}, {2822408, &more, 705602, 9406}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.samples);
    const std::string path = dsf(dir, "s.dsf", 2, 2822400, *c.payload, {}, c.samples);
    InputTrack t;
    ReadResult run = run_dsf(path, t);
    ASSERT_TRUE(run.ok) << run.err;
    EXPECT_EQ(t.sample_count, c.samples);
    EXPECT_EQ(t.audio.size(), c.length + c.pad);
    EXPECT_EQ(run.err, c.pad ? pad_line(c.pad) : "");
    EXPECT_TRUE(std::equal(c.payload->begin(), c.payload->end(), t.audio.begin()));
    for (size_t i = c.length; i < t.audio.size(); ++i) ASSERT_EQ(t.audio[i], 0x69);
    EXPECT_EQ(run.out, "  [DSF] " + path + "  2ch 2822400Hz  " + std::to_string(c.samples) + " samples   - \n");
  }
}

TEST(DsfReader, WriterLayoutAndBitOrderOnDisk) {
  ScratchDir dir;
  // Channel 0 bytes 0x01, channel 1 bytes 0x02, 5000 bytes each.
  std::vector<uint8_t> payload(10000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = (i % 2) ? 0x02 : 0x01;
  dsdgen::DsfOptions lsb;
  std::vector<uint8_t> f = read_file(dsf(dir, "a.dsf", 2, 2822400, payload, lsb));
  ASSERT_EQ(f.size(), 92u + 2 * 8192);
  EXPECT_EQ(testsupport::le32(f.data() + 28 + 32), 1u);  // bits per sample
  EXPECT_EQ(testsupport::le32(f.data() + 28 + 44), 4096u);
  EXPECT_EQ(f[92], 0x80);              // block 0 of channel 0, bit-reversed
  EXPECT_EQ(f[92 + 4096], 0x40);       // block 0 of channel 1
  EXPECT_EQ(f[92 + 8192], 0x80);       // block 1 of channel 0
  EXPECT_EQ(f[92 + 8192 + 903], 0x80);
  EXPECT_EQ(f[92 + 8192 + 904], 0x00);  // zero fill after 5000 bytes
  InputTrack t;
  ASSERT_TRUE(run_dsf(dir.file("a.dsf"), t).ok);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), t.audio.begin()));

  // Stored 0x01 with bits per sample 1 is delivered as 0x80; with 8, as is.
  std::vector<uint8_t> g = f;
  std::fill(g.begin() + 92, g.end(), 0x01);
  write_file(dir.file("b.dsf"), g);
  InputTrack tb;
  ASSERT_TRUE(run_dsf(dir.file("b.dsf"), tb).ok);
  EXPECT_EQ(tb.audio[0], 0x80);
  EXPECT_EQ(tb.audio[9999], 0x80);
  put_le32(g, 28 + 32, 8);
  write_file(dir.file("c.dsf"), g);
  InputTrack tc;
  ASSERT_TRUE(run_dsf(dir.file("c.dsf"), tc).ok);
  EXPECT_EQ(tc.audio[0], 0x01);
  EXPECT_EQ(tc.audio[9999], 0x01);
}

// Rates and channel counts from the fmt chunk: what is taken, with which
// rate multiple and warning, and what is refused.
TEST(DsfReader, RatesAndChannelCounts) {
  ScratchDir dir;
  const struct {
    uint32_t channels, rate;
    bool ok;
    uint32_t multiple;
    size_t audio;
    std::string message;  // the warning, or the refusal after "Error: <path>: "
  } cases[] = {
      {2, 3072000, true, 64, 2 * 5120, ""},
      {2, 2000000, true, 41, 2 * 3333, "unsupported DSD rate 2000000"},
      {2, 600, true, 0, 200, "unsupported DSD rate 600"},
      {2, 599, false, 0, 0, "bad sample rate 599"},
      {2, 0, false, 0, 0, "bad sample rate 0"},
      {1, 2822400, false, 0, 0, "unsupported channels 1"},
      {3, 2822400, false, 0, 0, "unsupported channels 3"},
      {4, 2822400, false, 0, 0, "unsupported channels 4"},
      {7, 2822400, false, 0, 0, "unsupported channels 7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " ch " + std::to_string(c.rate) + " Hz");
    const std::string path = dsf(dir, "r.dsf", c.channels, c.rate, std::vector<uint8_t>(c.channels * 100, 0x69));
    InputTrack t;
    ReadResult run = run_dsf(path, t);
    EXPECT_EQ(run.ok, c.ok);
    EXPECT_EQ(t.audio.size(), c.audio);
    if (!c.ok) {
      ASSERT_NE(run.err.rfind("  Error: "), std::string::npos) << run.err;
      EXPECT_EQ(run.err.substr(run.err.rfind("  Error: ")), "  Error: " + path + ": " + c.message + "\n");
      EXPECT_EQ(run.out, "");
      continue;
    }
    if (c.multiple) {
      EXPECT_EQ(t.rate_multiple, c.multiple);
    }
    const std::string pad = c.audio > 200 ? pad_line(c.audio - 200) : "";
    EXPECT_EQ(run.err, (c.message.empty() ? "" : "  Warning: " + path + ": " + c.message + "\n") + pad);
  }
}

TEST(DsfReader, HeaderMustMatchTheData) {
  // A file of 2 x 5000 bytes in blocks of 4096 (the last row filled up to
  // whole blocks) with a tag after the audio. Each case changes it and names
  // the start of the refusal after "Error: <path>: ".
  ScratchDir dir;
  dsdgen::DsfOptions o;
  o.tags.title = "tagged";
  const std::vector<uint8_t> good = read_file(dsf(dir, "g.dsf", 2, 2822400, std::vector<uint8_t>(2 * 5000, 0x5A), o));
  const size_t audio = 92, payload = 4 * 4096, tag = audio + payload;
  ASSERT_EQ(testsupport::le32(good.data() + 20), tag);
  auto field = [](std::vector<uint8_t> f, size_t at, uint64_t v) {
    if (at == 60)
      put_le32(f, at, uint32_t(v));  // bits per sample: the one 32-bit field here
    else
      put_le64(f, at, v);
    return f;
  };
  auto cut = [&](size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + n); };
  const std::string declares = "header declares ";
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    std::string message;
  } cases[] = {
      {"cut in the tag", std::vector<uint8_t>(good.begin(), good.end() - 3), "the ID3v2 tag at " + std::to_string(tag)},
      {"cut at the tag", std::vector<uint8_t>(good.begin(), good.begin() + tag), "metadata pointer " + std::to_string(tag)},
      {"cut in the last block row, sizes made to fit", field(cut(audio + 3 * 4096 + 400), 84, 12 + 3 * 4096 + 400),
       declares + "40000 samples (5000 bytes/ch x 2 ch = 10000 bytes), but the file holds only 12688 bytes"},
      {"data chunk longer than the file", field(cut(audio + 3 * 4096 + 400), 84, 12 + payload),
       "the data chunk declares 16384 bytes of audio, but the file holds only 12688"},
      {"data chunk size 0", field(good, 84, 0), "bad data chunk size 0"},
      {"data chunk size 2^64-1", field(good, 84, ~uint64_t(0)), "the data chunk declares"},
      {"more samples than the data (the tag is no audio)", field(good, 64, 8 * 8192 + 8), declares + "65544 samples"},
      {"a whole block row fewer samples than the data", field(good, 64, 8 * 4096), declares + "32768 samples, but the data chunk holds 16384"},
      {"a count whose bytes overflow", field(good, 64, ~uint64_t(0)), declares},
      {"bits per sample 0", field(good, 60, 0), "unsupported bits per sample 0 (1 or 8)"},
      {"bits per sample 2", field(good, 60, 2), "unsupported bits per sample 2"},
      {"bits per sample 16", field(good, 60, 16), "unsupported bits per sample 16"},
      {"metadata pointer inside the audio", field(good, 20, tag - 1), "metadata pointer " + std::to_string(tag - 1)},
      {"metadata pointer past the end", field(good, 20, good.size()), "metadata pointer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir.file("t.dsf");
    write_file(path, c.file);
    InputTrack t;
    ReadResult run = run_dsf(path, t);
    EXPECT_FALSE(run.ok);
    const std::string head = "  Error: " + path + ": " + c.message;
    EXPECT_EQ(run.err.compare(run.err.rfind("  Error: "), head.size(), head), 0) << run.err;
    EXPECT_TRUE(t.audio.empty());
  }
  // Fewer samples than the last block row holds are the normal case.
  InputTrack t;
  write_file(dir.file("fewer.dsf"), field(good, 64, 8 * 4097));
  ReadResult run = run_dsf(dir.file("fewer.dsf"), t);
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(t.title, "tagged");
  EXPECT_EQ(t.sample_count, 8u * 4097);
}

TEST(DsfReader, HeaderFaults) {
  ScratchDir dir;
  const std::vector<uint8_t> good = read_file(dsf(dir, "g.dsf", 2, 2822400, std::vector<uint8_t>(200, 0x69)));
  auto with = [&](size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> f = good;
    std::copy(bytes.begin(), bytes.end(), f.begin() + at);
    return f;
  };
  auto le64 = [](uint64_t v) {
    std::vector<uint8_t> b(8);
    put_le64(b, 0, v);
    return b;
  };
  std::vector<uint8_t> header_only(good.begin(), good.begin() + 92);  // nothing after the data header
  put_le64(header_only, 84, 12);
  const std::string corrupt = "bad fmt chunk or data chunk (corrupt DSF header)";
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    std::string message;
  } faults[] = {
      {"DSD magic", with(0, {'X'}), corrupt},
      {"DSD size", with(4, le64(27)), corrupt},
      {"fmt magic", with(28, {'F'}), corrupt},
      {"fmt size", with(32, le64(47)), corrupt},
      {"fmt size past the end", with(32, le64(uint64_t(1) << 62)), corrupt},
      {"data magic", with(80, {'D'}), corrupt},
      {"data header cut", std::vector<uint8_t>(good.begin(), good.begin() + 91), corrupt},
      {"no data", header_only, "no DSD data"},
      {"sample count 0", with(28 + 36, le64(0)), "sample_count is 0 (bad header field)"},
  };
  for (const auto& c : faults) {
    write_file(dir.file("h.dsf"), c.file);
    InputTrack t;
    ReadResult run = run_dsf(dir.file("h.dsf"), t);
    EXPECT_FALSE(run.ok) << c.what;
    EXPECT_EQ(run.err, "  Error: " + dir.file("h.dsf") + ": " + c.message + "\n") << c.what;
  }
  std::vector<uint8_t> f;

  // A longer DSD chunk is skipped past its 28 bytes; the fmt chunk then follows.
  f = good;
  f.insert(f.begin() + 28, 4, 0xEE);
  put_le64(f, 4, 32);
  write_file(dir.file("long.dsf"), f);
  InputTrack t;
  EXPECT_TRUE(run_dsf(dir.file("long.dsf"), t).ok);
  EXPECT_EQ(t.audio.size(), 2u * 4704);

  InputTrack m;
  ReadResult run = run_dsf(dir.file("missing.dsf"), m);
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.err, "  Error: cannot open " + dir.file("missing.dsf") + "\n");
}

TEST(DsfReader, TagsReplacePresetTextsAndFillTheRecord) {
  ScratchDir dir;
  for (int version : {3, 4}) {
    for (bool utf16 : {false, true}) {
      SCOPED_TRACE(std::to_string(version) + (utf16 ? " utf16" : ""));
      dsdgen::DsfOptions o;
      o.tags.version = version;
      o.tags.utf16 = utf16;
      o.tags.title = "T\xC3\xADtulo " + std::string(300, 't');  // above 127 bytes: syncsafe and plain differ
      o.tags.artist = "K\xC3\xBCnstler";
      o.tags.genre = "Jazz";
      o.tags.date = "2024-05-01";
      o.tags.track = "07/12";
      o.tags.picture_first = version == 3;
      o.tags.picture = std::vector<uint8_t>(300, 0xD8);
      const std::string path = dsf(dir, "tag.dsf", 2, 2822400, signal(2, 2822400, 8 * 4704), o);
      InputTrack t;
      t.album = "From the command line";
      t.artist = "Preset";
      ReadResult run = run_dsf(path, t);
      ASSERT_TRUE(run.ok) << run.err;
      EXPECT_EQ(t.title, o.tags.title);
      EXPECT_EQ(t.artist, o.tags.artist);
      EXPECT_EQ(t.album, "");  // no TALB: the field is replaced by nothing
      EXPECT_EQ(t.genre, "Jazz");
      EXPECT_EQ(t.date, "2024-05-01");
      EXPECT_EQ(t.track_number, 7u);
      EXPECT_EQ(t.cover, o.tags.picture);
      EXPECT_EQ(run.out, "  [DSF] " + path + "  2ch 2822400Hz  37632 samples  " + o.tags.artist + " - " +
                             o.tags.title + "\n");
    }
  }
}

TEST(DsfReader, TrackNumberForms) {
  ScratchDir dir;
  struct Case {
    std::vector<uint8_t> body;
    uint32_t want;
  } cases[] = {{{0, '3', '/', '1', '2'}, 3}, {{0}, 0}, {{0, 'x'}, 0}, {{3, ' ', '1', '5'}, 15}};
  for (const Case& c : cases) {
    dsdgen::DsfOptions o;
    o.tags.raw_frames.push_back({"TRCK", c.body});
    InputTrack t;
    ASSERT_TRUE(run_dsf(dsf(dir, "n.dsf", 2, 2822400, std::vector<uint8_t>(200), o), t).ok);
    EXPECT_EQ(t.track_number, c.want);
  }
}

TEST(DsfReader, MetadataPointerWithoutTag) {
  ScratchDir dir;
  dsdgen::DsfOptions o;
  o.tags.title = "x";
  std::vector<uint8_t> f = read_file(dsf(dir, "m.dsf", 2, 2822400, std::vector<uint8_t>(200, 0x11), o));
  const uint64_t tag_at = testsupport::le32(f.data() + 20);
  ASSERT_EQ(f[tag_at], 'I');

  // Wrong magic: no tag, the read succeeds and preset texts stay.
  std::vector<uint8_t> g = f;
  g[tag_at] = 'X';
  write_file(dir.file("nomagic.dsf"), g);
  InputTrack t;
  t.artist = "Preset";
  ReadResult run = run_dsf(dir.file("nomagic.dsf"), t);
  EXPECT_TRUE(run.ok);
  EXPECT_EQ(t.artist, "Preset");
  EXPECT_EQ(t.title, "");

  // A tag that declares a huge body is refused before anything is allocated.
  g = f;
  g[tag_at + 6] = 0x7F;
  g[tag_at + 7] = 0x7F;
  write_file(dir.file("huge.dsf"), g);
  InputTrack h;
  EXPECT_FALSE(run_dsf(dir.file("huge.dsf"), h).ok);
}

// Audio left in the file reads back as the loaded payload, padding included,
// from any offset, for DSF block layouts and bit orders and for DSDIFF.
TEST(PlainSource, StreamedPayloadEqualsTheLoadedOne) {
  ScratchDir dir;
  const std::vector<uint8_t> payload = signal(5, 2822400, (2 * 4704 + 333) * 8);
  dsdgen::DsfOptions small_blocks, one_block, msb;
  small_blocks.block_size = 1000;
  one_block.block_size = 0;
  msb.lsb_first = false;
  std::vector<std::string> files = {dsf(dir, "a.dsf", 5, 2822400, payload, small_blocks),
                                    dsf(dir, "b.dsf", 5, 2822400, payload, one_block),
                                    dsf(dir, "c.dsf", 5, 2822400, payload, msb), dir.file("d.dff")};
  ASSERT_TRUE(dsdgen::write_dsdiff(files[3], 5, 2822400, payload, {}));
  for (const std::string& f : files) {
    const bool dff = f.back() == 'f' && f[f.size() - 2] == 'f';
    InputTrack loaded, left;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ASSERT_TRUE(dff ? varn::read_dsdiff(f, loaded) : varn::read_dsf(f, loaded)) << f;
    ASSERT_TRUE(dff ? varn::read_dsdiff(f, left, true) : varn::read_dsf(f, left, true)) << f;
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(left.audio.empty());
    ASSERT_EQ(varn::plain_payload_bytes(left), loaded.audio.size()) << f;
    varn::InputFile in;
    ASSERT_TRUE(varn::open_input(f, in));
    for (uint64_t pos : {uint64_t(0), uint64_t(1), uint64_t(4999), uint64_t(loaded.audio.size() - 2100)}) {
      std::vector<uint8_t> got(2100);
      ASSERT_TRUE(varn::read_payload(left, in, pos, got.data(), got.size()));
      EXPECT_TRUE(std::equal(got.begin(), got.end(), loaded.audio.begin() + long(pos))) << f << " at " << pos;
    }
    ASSERT_TRUE(varn::load_payload(left));
    EXPECT_EQ(left.audio, loaded.audio) << f;
  }
}
