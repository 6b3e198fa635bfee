// DSF and DSDIFF readers: bit-exact payloads over rates, channel counts,
// block sizes and bit orders; the DSF layout on disk; header faults; ID3v2
// tags; and the audio streamed from the file instead of loaded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <tuple>

#include "audio/plain_source.h"
#include "audio_test_util.h"

using namespace audiotest;
using testsupport::read_file;
using testsupport::write_file;

namespace {

std::string dsf(const ScratchDir& dir, const std::string& name, uint32_t channels, uint32_t rate,
                const std::vector<uint8_t>& payload, const dsdgen::DsfOptions& opt = {}, uint64_t samples = 0) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(dsdgen::write_dsf(path, channels, rate, payload, opt, samples));
  return path;
}

}  // namespace

// Every rate, channel count, DSF block layout and bit order, and DSDIFF:
// the payload comes back bit for bit, padded to whole frames.
TEST(Readers, PayloadIsBitExactAcrossFormats) {
  ScratchDir dir;
  const uint32_t rates[] = {2822400, 5644800, 11289600, 3072000, 6144000, 12288000};
  for (int r = 0; r < 6; ++r) {
    for (uint32_t ch : {2u, 5u, 6u}) {
      // Two frames and a bit: neither block- nor frame-aligned, nor (DSF)
      // whole bytes.
      const uint64_t samples = (2 * (rates[r] / 600) + 777) * 8 + 3;
      const std::vector<uint8_t> payload = signal(ch, rates[r], samples, ch + r);
      const std::vector<uint8_t> want = padded(payload, ch, rates[r]);
      for (int layout = 0; layout < 5; ++layout) {
        SCOPED_TRACE(std::to_string(rates[r]) + " Hz " + std::to_string(ch) + " ch layout " + std::to_string(layout));
        std::string path = dir.file("t.dff");
        if (layout < 4) {
          dsdgen::DsfOptions o;
          o.block_size = layout & 1 ? 0 : 4096;
          o.lsb_first = layout < 2;
          path = dsf(dir, "t.dsf", ch, rates[r], payload, o, samples);
        } else {
          ASSERT_TRUE(dsdgen::write_dsdiff(path, ch, rates[r], payload, {}));
        }
        InputTrack t;
        const ReadResult run = read(path, t);
        ASSERT_TRUE(run.ok) << run.err;
        EXPECT_EQ(std::tuple(t.channels, t.sample_rate, t.rate_multiple, t.sample_count, t.is_dst),
                  std::tuple(ch, rates[r], 64u << (r % 3), layout < 4 ? samples : payload.size() / ch * 8, false));
        EXPECT_TRUE(t.audio == want);
        EXPECT_EQ(run.err, pad_line(want.size() - payload.size()));
      }
    }
  }
}

// Audio longer than one mapped window of the file reads the same across
// the windows; a file cut short under a mapped window fails the read
// instead of ending the program with SIGBUS.
TEST(DsfReader, AudioAcrossMapWindowsAndCutUnderOne) {
  ScratchDir dir;
  const uint64_t samples = (varn::kMapWindowBytes * 5 / 8) * 8 + 3;  // 1.25 windows of stereo
  const std::vector<uint8_t> payload = signal(2, 2822400, samples, 7, 1 << 16);
  const std::string path = dsf(dir, "long.dsf", 2, 2822400, payload, {}, samples);
  EXPECT_TRUE(accepted(path).audio == padded(payload, 2, 2822400));
  const InputTrack left = accepted(path, {}, true);
  varn::InputFile in;
  ASSERT_TRUE(varn::open_input(path, in));
  std::vector<uint8_t> got(4096);
  ASSERT_TRUE(varn::read_payload(left, in, 0, got.data(), got.size()));
  ASSERT_EQ(truncate(path.c_str(), 1 << 20), 0);
  EXPECT_FALSE(varn::read_payload(left, in, 3 << 20, got.data(), got.size()));
}

TEST(DsfReader, LayoutAndBitOrderOnDisk) {
  ScratchDir dir;
  // Channel 0 bytes 0x01, channel 1 bytes 0x02, 5000 bytes each.
  std::vector<uint8_t> payload(10000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = (i % 2) ? 0x02 : 0x01;
  std::vector<uint8_t> f = read_file(dsf(dir, "a.dsf", 2, 2822400, payload));
  ASSERT_EQ(f.size(), 92u + 2 * 8192);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "DSD ");
  EXPECT_EQ(testsupport::le32(f.data() + 28 + 32), 1u);  // bits per sample
  EXPECT_EQ(testsupport::le32(f.data() + 28 + 44), 4096u);
  EXPECT_EQ(f[92], 0x80);         // block 0 of channel 0, bit-reversed
  EXPECT_EQ(f[92 + 4096], 0x40);  // block 0 of channel 1
  EXPECT_EQ(f[92 + 8192 + 903], 0x80);
  EXPECT_EQ(f[92 + 8192 + 904], 0x00);  // zero fill after 5000 bytes

  // Stored 0x01 with bits per sample 1 is delivered as 0x80; with 8, as is.
  std::fill(f.begin() + 92, f.end(), 0x01);
  for (uint32_t bits : {1u, 8u}) {
    put(f, 28 + 32, bits, 4);
    write_file(dir.file("b.dsf"), f);
    const InputTrack t = accepted(dir.file("b.dsf"));
    EXPECT_EQ(t.audio[0], bits == 1 ? 0x80 : 0x01);
    EXPECT_EQ(t.audio[9999], bits == 1 ? 0x80 : 0x01);
  }
}

// A file of 2 x 5000 bytes in blocks of 4096 with a tag after the audio;
// each case changes it and names the start of the refusal.
TEST(DsfReader, HeaderFaults) {
  ScratchDir dir;
  dsdgen::DsfOptions o;
  o.tags.title = "tagged";
  const std::vector<uint8_t> good = read_file(dsf(dir, "g.dsf", 2, 2822400, std::vector<uint8_t>(10000, 0x5A), o));
  const size_t tag = 92 + 4 * 4096;
  ASSERT_EQ(testsupport::le32(good.data() + 20), tag);
  auto field = [](std::vector<uint8_t> f, size_t at, uint64_t v, int width = 8) {
    put(f, at, v, width);
    return f;
  };
  auto cut = [&](size_t n) { return std::vector<uint8_t>(good.begin(), good.begin() + n); };
  const std::string corrupt = "bad fmt chunk or data chunk (corrupt DSF header)";
  const std::pair<std::vector<uint8_t>, std::string> cases[] = {
      {field(good, 0, 'X', 1), corrupt},
      {field(good, 4, 27), corrupt},
      {field(good, 32, uint64_t(1) << 62), corrupt},  // fmt size past the end
      {field(good, 80, 'D', 1), corrupt},
      {cut(91), corrupt},
      {field(cut(92), 84, 12), "no DSD data"},
      {field(good, 64, 0), "sample_count is 0"},
      {cut(good.size() - 3), "the ID3v2 tag at " + std::to_string(tag)},
      {cut(tag), "metadata pointer " + std::to_string(tag)},
      {field(cut(92 + 3 * 4096 + 400), 84, 12 + 3 * 4096 + 400), "header declares 40000 samples"},
      {field(cut(92 + 3 * 4096 + 400), 84, 12 + 4 * 4096), "the data chunk declares 16384 bytes of audio"},
      {field(good, 84, 0), "bad data chunk size 0"},
      {field(good, 84, ~uint64_t(0)), "the data chunk declares"},
      {field(good, 64, 8 * 8192 + 8), "header declares 65544 samples"},  // the tag is no audio
      {field(good, 64, 8 * 4096), "header declares 32768 samples, but the data chunk holds 16384"},
      {field(good, 64, ~uint64_t(0)), "header declares"},
      {field(good, 60, 2, 4), "unsupported bits per sample 2"},
      {field(good, 20, tag - 1), "metadata pointer " + std::to_string(tag - 1)},
      {field(good, 20, good.size()), "metadata pointer"},
      {field(good, 28 + 28, 599, 4), "bad sample rate 599"},
      {field(good, 28 + 24, 1, 4), "unsupported channels 1"},
      {field(good, 28 + 24, 4, 4), "unsupported channels 4"},
  };
  for (const auto& [file, message] : cases) {
    write_file(dir.file("t.dsf"), file);
    InputTrack t;
    ReadResult run = read(dir.file("t.dsf"), t);
    EXPECT_FALSE(run.ok) << message;
    EXPECT_EQ(refusal(run, dir.file("t.dsf")).compare(0, message.size(), message), 0) << run.err;
    EXPECT_TRUE(t.audio.empty());
  }
  // Fewer samples than the last block row holds are the normal case; a
  // longer DSD chunk is skipped past its 28 bytes; a rate of no SACD family
  // is taken with a warning.
  for (const auto& f : {field(good, 64, 8 * 4097), field(good, 28 + 28, 2000000, 4), [&] {
         std::vector<uint8_t> g = field(good, 4, 32);
         g.insert(g.begin() + 28, 4, 0xEE);
         return field(g, 20, tag + 4);
       }()}) {
    write_file(dir.file("ok.dsf"), f);
    EXPECT_EQ(accepted(dir.file("ok.dsf")).title, "tagged");
  }
  InputTrack m;
  EXPECT_FALSE(read(dir.file("missing.dsf"), m).ok);
}

// The tag's texts replace what the command line preset, a missing frame
// included (the encodings and versions taggers write are the mutagen
// suite's, the frame forms the ID3 tests').
TEST(DsfReader, TagsReplacePresetTexts) {
  ScratchDir dir;
  dsdgen::DsfOptions tagged;
  tagged.tags.title = "T\xC3\xADtulo " + std::string(300, 't');  // above 127 bytes: syncsafe and plain differ
  tagged.tags.date = "2024-05-01";
  tagged.tags.track = "07/12";
  tagged.tags.picture = std::vector<uint8_t>(300, 0xD8);
  InputTrack preset;
  preset.album = "From the command line";
  const InputTrack t = accepted(dsf(dir, "tag.dsf", 2, 2822400, signal(2, 2822400, 8 * 4704), tagged), preset);
  EXPECT_EQ(texts(t), tagged.tags.title + "||||2024-05-01");  // no TALB: the album is replaced by nothing
  EXPECT_EQ(t.track_number, 7u);
  EXPECT_EQ(t.cover, tagged.tags.picture);
  // No ID3 magic at the pointer: no tag, the preset texts stay. A tag that
  // declares a huge body is refused before anything is allocated.
  dsdgen::DsfOptions o;
  o.tags.title = "x";
  std::vector<uint8_t> f = read_file(dsf(dir, "m.dsf", 2, 2822400, std::vector<uint8_t>(200, 0x11), o));
  const uint64_t tag_at = testsupport::le32(f.data() + 20);
  for (size_t at : {tag_at, tag_at + 6}) {
    std::vector<uint8_t> g = f;
    g[at] = 0x7F;
    g[tag_at + 7] = 0x7F;
    write_file(dir.file("n.dsf"), g);
    InputTrack t;
    t.artist = "Preset";
    EXPECT_EQ(read(dir.file("n.dsf"), t).ok, at == tag_at);
    if (at == tag_at) {
      EXPECT_EQ(t.artist, "Preset");
    }
  }
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
    const InputTrack loaded = accepted(f);
    InputTrack left = accepted(f, {}, true);
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
