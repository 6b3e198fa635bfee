// DSDIFF reader: plain and DST-coded sound data, properties, DIIN texts,
// COMT, the ID3 chunk, and the faults and messages of each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/input_track.h"
#include "audio_test_util.h"
#include "support/test_support.h"

using namespace audiotest;
using testsupport::read_file;
using testsupport::ScratchDir;
using testsupport::write_file;
using varn::InputTrack;

namespace {

std::string dff(const ScratchDir& dir, const std::string& name, uint32_t channels, uint32_t rate,
                const std::vector<uint8_t>& payload, const dsdgen::DffOptions& opt = {}) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(dsdgen::write_dsdiff(path, channels, rate, payload, opt));
  return path;
}

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace

TEST(DsdiffReader, PlainPayloadIsDeliveredAndPaddedToWholeFrames) {
  ScratchDir dir;
  const uint32_t rates[] = {2822400, 5644800, 11289600, 3072000, 6144000, 12288000};
  const uint32_t multiples[] = {64, 128, 256, 64, 128, 256};
  for (int r = 0; r < 6; ++r) {
    for (uint32_t ch : {2u, 5u, 6u}) {
      SCOPED_TRACE(std::to_string(rates[r]) + " " + std::to_string(ch));
      const uint64_t bpc = rates[r] / 600 + 331;
      const std::vector<uint8_t> payload = signal(ch, rates[r], bpc * 8, r * 10 + ch);
      const std::string path = dff(dir, "p.dff", ch, rates[r], payload);
      InputTrack t;
      ReadResult run = run_dff(path, t);
      ASSERT_TRUE(run.ok) << run.err;
      EXPECT_EQ(t.channels, ch);
      EXPECT_EQ(t.sample_rate, rates[r]);
      EXPECT_EQ(t.rate_multiple, multiples[r]);
      EXPECT_EQ(t.sample_count, bpc * 8);
      EXPECT_FALSE(t.is_dst);
      const std::vector<uint8_t> want = padded(payload, ch, rates[r]);
      EXPECT_TRUE(t.audio == want);
      EXPECT_EQ(run.err, pad_line(want.size() - payload.size()));
      EXPECT_EQ(run.out, "  [DFF] " + path + "  " + std::to_string(ch) + "ch  " + std::to_string(bpc * 8) +
                             " samples   - \n");
    }
  }
}

TEST(DsdiffReader, WholeFramesAndOddSizedData) {
  ScratchDir dir;
  const std::vector<uint8_t> whole = signal(2, 2822400, 8 * 4704 * 3);
  InputTrack t;
  ReadResult run = run_dff(dff(dir, "w.dff", 2, 2822400, whole), t);
  ASSERT_TRUE(run.ok);
  EXPECT_TRUE(t.audio == whole);
  EXPECT_EQ(run.err, "");

  // An odd data size (a whole number of 5-channel sample bytes) with its
  // pad byte, and a chunk after it.
  std::vector<uint8_t> odd(5 * 1001, 0x33);
  dsdgen::DffOptions o;
  o.didx_title = "After";
  o.didx_artist = "Odd";
  InputTrack u;
  run = run_dff(dff(dir, "o.dff", 5, 2822400, odd, o), u);
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(u.sample_count, 8008u);  // size x 8 / channels
  EXPECT_EQ(u.audio.size(), 5u * 4704);
  EXPECT_TRUE(std::equal(odd.begin(), odd.end(), u.audio.begin()));
  EXPECT_EQ(u.audio[odd.size()], 0x69);
  EXPECT_EQ(u.title, "After");
  EXPECT_EQ(u.artist, "Odd");
}

TEST(DsdiffReader, DstFramesAreKeptUnchanged) {
  ScratchDir dir;
  dsdgen::DffOptions o;
  o.dst_frames = coded_frames(6, 3);
  // A frame repeated decodes as well: 40 frames of 1/75 s.
  while (o.dst_frames.size() < 40) o.dst_frames.push_back(o.dst_frames[o.dst_frames.size() % 3]);
  for (bool checksums : {false, true}) {
    o.dst_checksums = checksums;  // DSTC chunks between the frames are skipped
    const std::string path = dff(dir, "d.dff", 6, 2822400, {}, o);
    std::vector<uint8_t> f = read_file(path);
    const size_t cmpr = find_id(f, "CMPR");
    EXPECT_EQ(std::string(f.begin() + cmpr + 12, f.begin() + cmpr + 16), "DST ");
    InputTrack t;
    ReadResult run = run_dff(path, t);
    ASSERT_TRUE(run.ok) << run.err;
    EXPECT_TRUE(t.is_dst);
    EXPECT_EQ(t.dst_frames, o.dst_frames);
    EXPECT_EQ(t.sample_count, 40u * 37632);
    EXPECT_TRUE(t.audio.empty());  // the frames are the audio
    EXPECT_EQ(run.err, "");
  }
}

TEST(DsdiffReader, CmprDstWithPlainDataIsReadAsPlain) {
  ScratchDir dir;
  dsdgen::DffOptions o;
  o.cmpr_dst = true;
  const std::vector<uint8_t> payload = signal(2, 2822400, 8 * 4704);
  const std::string path = dff(dir, "m.dff", 2, 2822400, payload, o);
  InputTrack t;
  ReadResult run = run_dff(path, t);
  ASSERT_TRUE(run.ok);
  EXPECT_FALSE(t.is_dst);
  EXPECT_TRUE(t.dst_frames.empty());
  EXPECT_TRUE(t.audio == payload);
  EXPECT_EQ(run.err, "  Warning: " + path +
                         ": CMPR says DST but the file holds plain DSD data; reading it as plain DSD\n");
}

TEST(DsdiffReader, DidxTitleAndArtist) {
  ScratchDir dir;
  std::vector<uint8_t> payload(2 * 4704, 0x69);
  dsdgen::DffOptions o;
  o.didx_title = "Title";
  o.didx_artist = "Artist";
  o.tags.title = "id3 title";
  o.tags.artist = "id3 artist";
  InputTrack t;
  ReadResult run = run_dff(dff(dir, "a.dff", 2, 2822400, payload, o), t);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(t.title, "Title");
  EXPECT_EQ(t.artist, "Artist");

  // Without the final zero byte neither is set, and the ID3 chunk counts.
  o.didx_raw = bytes(std::string("Title\0Artist", 12));
  InputTrack u;
  ASSERT_TRUE(run_dff(dff(dir, "b.dff", 2, 2822400, payload, o), u).ok);
  EXPECT_EQ(u.title, "id3 title");
  EXPECT_EQ(u.artist, "id3 artist");

  // An artist from the command line: DIDX sets only the title and the
  // ID3 chunk is not consulted.
  o.didx_raw.clear();
  o.tags.album = "id3 album";
  InputTrack v;
  v.artist = "Preset";
  v.album = "Preset album";
  ASSERT_TRUE(run_dff(dff(dir, "c.dff", 2, 2822400, payload, o), v).ok);
  EXPECT_EQ(v.title, "Title");
  EXPECT_EQ(v.artist, "Preset");
  EXPECT_EQ(v.album, "Preset album");
}

TEST(DsdiffReader, DidxInSixteenBitUnits) {
  ScratchDir dir;
  std::vector<uint8_t> payload(2 * 4704, 0x69);
  dsdgen::DffOptions o;
  o.didx_title = "Sch\xC3\xB6n";
  o.didx_artist = "Art \xE2\x82\xAC";
  o.didx_utf16 = true;
  InputTrack t;
  ASSERT_TRUE(run_dff(dff(dir, "u.dff", 2, 2822400, payload, o), t).ok);
  EXPECT_EQ(t.title, o.didx_title);
  EXPECT_EQ(t.artist, o.didx_artist);
  // Big-endian units after FE FF.
  o.didx_raw = {0xFE, 0xFF, 0, 'T', 0, 0, 0, 'A', 0, 0};
  InputTrack u;
  ASSERT_TRUE(run_dff(dff(dir, "v.dff", 2, 2822400, payload, o), u).ok);
  EXPECT_EQ(u.title, "T");
  EXPECT_EQ(u.artist, "A");
}

TEST(DsdiffReader, CommentsGiveGenreAndDate) {
  ScratchDir dir;
  std::vector<uint8_t> payload(2 * 4704, 0x69);
  dsdgen::DffOptions o;
  o.comt_genre = std::string("Jazz  \0", 7);
  o.comt_date = "1999";
  InputTrack t;
  ASSERT_TRUE(run_dff(dff(dir, "g.dff", 2, 2822400, payload, o), t).ok);
  EXPECT_EQ(t.genre, "Jazz");
  EXPECT_EQ(t.date, "1999");

  // A second type-3 entry does not overwrite; a length of 0 ends the chunk;
  // an entry running past the chunk ends it.
  dsdgen::DffOptions p;
  p.extra_chunks.push_back({"COMT", {0, 3, 0, 4, 'R', 'o', 'c', 'k', 0, 3, 0, 3, 'P', 'o', 'p', 0,
                                     0, 9, 0, 0, 0, 4, 0, 4, '2', '0', '0', '0'}});
  p.extra_chunks.push_back({"COMT", {0, 4, 0, 40, '1', '9'}});
  InputTrack u;
  ASSERT_TRUE(run_dff(dff(dir, "h.dff", 2, 2822400, payload, p), u).ok);
  EXPECT_EQ(u.genre, "Rock");
  EXPECT_EQ(u.date, "");
  InputTrack v;
  v.genre = "kept";
  ASSERT_TRUE(run_dff(dff(dir, "h.dff", 2, 2822400, payload, o), v).ok);
  EXPECT_EQ(v.genre, "kept");
}

TEST(DsdiffReader, TrailingId3Chunk) {
  ScratchDir dir;
  std::vector<uint8_t> payload(6 * 4704 + 6 * 3, 0x69);  // odd size: a pad byte follows
  dsdgen::DffOptions o;
  o.tags.version = 4;
  o.tags.title = "T";
  o.tags.artist = "A";
  o.tags.album = "Al";
  o.tags.genre = "G";
  o.tags.date = "D";
  o.tags.track = "12";
  o.tags.picture = {1, 2, 3, 4, 5};
  o.comt_genre = "Comment genre";
  o.extra_chunks.push_back({"MARK", std::vector<uint8_t>(33, 7)});
  o.extra_chunks.push_back({"MANF", std::vector<uint8_t>(4, 1)});
  InputTrack t;
  t.album = "Preset album";
  ReadResult run = run_dff(dff(dir, "t.dff", 6, 2822400, payload, o), t);
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(t.title, "T");
  EXPECT_EQ(t.artist, "A");
  EXPECT_EQ(t.album, "Al");
  EXPECT_EQ(t.genre, "G");  // the tag replaces what COMT gave
  EXPECT_EQ(t.date, "D");
  EXPECT_EQ(t.track_number, 12u);
  EXPECT_TRUE(t.cover.empty());  // no pictures from DSDIFF files

  // The lower-case id is accepted; a tag without TALB empties the album.
  std::vector<uint8_t> f = read_file(dir.file("t.dff"));
  const size_t id3 = top_chunk(f, "ID3 ");
  f[id3] = 'i';
  f[id3 + 1] = 'd';
  write_file(dir.file("lower.dff"), f);
  InputTrack u;
  ASSERT_TRUE(run_dff(dir.file("lower.dff"), u).ok);
  EXPECT_EQ(u.title, "T");

  // An ID3 chunk past the FRM8 size is not found.
  f = read_file(dir.file("t.dff"));
  put_be64(f, 4, id3 - 12);
  write_file(dir.file("outside.dff"), f);
  InputTrack v;
  ASSERT_TRUE(run_dff(dir.file("outside.dff"), v).ok);
  EXPECT_EQ(v.title, "");
}

namespace {

// A sub-chunk: id, 64-bit size, data and its pad byte.
std::vector<uint8_t> chunk(const char* id, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> c(id, id + 4);
  for (int i = 7; i >= 0; --i) c.push_back(uint8_t(uint64_t(data.size()) >> (8 * i)));
  c.insert(c.end(), data.begin(), data.end());
  if (data.size() & 1) c.push_back(0);
  return c;
}

std::vector<uint8_t> cat(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

// The layout a ripper writes: DIIN with EMID, MARK, DIAR and DITI (a 4-byte
// count, then the text), a COMT in the standard layout, an ID3v2.4 chunk.
TEST(DsdiffReader, ChunksAsOtherWritersLayThemOut) {
  ScratchDir dir;
  std::vector<uint8_t> payload(2 * 4704, 0x69);
  const std::vector<uint8_t> mark(22, 0);
  dsdgen::DffOptions o;
  o.extra_chunks.push_back({"DIIN", cat({chunk("EMID", {}), chunk("MARK", mark), chunk("MARK", mark),
                                         chunk("DIAR", bytes(std::string("\0\0\0\5Art \0", 9))),
                                         chunk("DITI", bytes(std::string("\0\0\0\x09Title", 9)))})});
  // Three comments: time stamp, type, reference, 4-byte count, text, pad.
  // Read as type/length/text they would make 2026 bytes of it the genre.
  o.extra_chunks.push_back(
      {"COMT", cat({{0, 3}, {0x07, 0xEA, 12, 6, 0, 0, 0, 3, 0, 0, 0, 0, 0, 6}, bytes("Ripped"),
                    {0x07, 0xEA, 11, 6, 23, 21, 0, 4, 0, 2, 0, 0, 0, 3}, bytes("abc"), {0},
                    {0x07, 0xEA, 11, 6, 23, 21, 0, 0, 0, 0, 0, 0, 0x08, 0x34}, std::vector<uint8_t>(2100, 'x')})});
  o.tags.version = 4;
  o.tags.raw_frames.push_back({"TIT2", bytes(std::string("\3Sakura \xE6\x97\xA5\0", 12))});
  o.tags.raw_frames.push_back({"TPE1", bytes(std::string("\3A\0B\0", 5))});
  o.tags.padding = 70000;  // a tag past 64 KiB is still read
  InputTrack t;
  ReadResult run = run_dff(dff(dir, "rip.dff", 2, 2822400, payload, o), t);
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_EQ(t.title, "Sakura \xE6\x97\xA5");  // the tag outranks DITI
  EXPECT_EQ(t.artist, "A / B");
  EXPECT_EQ(t.genre, "");
  EXPECT_EQ(t.date, "");

  // The same tag before the sound data is found as well.
  std::vector<uint8_t> f = read_file(dir.file("rip.dff"));
  const size_t id3 = top_chunk(f, "ID3 ");
  std::vector<uint8_t> tag(f.begin() + id3, f.end());
  f.erase(f.begin() + id3, f.end());
  f.insert(f.begin() + 32, tag.begin(), tag.end());  // after FVER
  write_file(dir.file("front.dff"), f);
  InputTrack u;
  ASSERT_TRUE(run_dff(dir.file("front.dff"), u).ok);
  EXPECT_EQ(u.artist, "A / B");

  // Without a tag DITI and DIAR give the texts; a count past the chunk is clipped.
  o.tags = {};
  InputTrack v;
  ASSERT_TRUE(run_dff(dff(dir, "diin.dff", 2, 2822400, payload, o), v).ok);
  EXPECT_EQ(v.title, "Title");
  EXPECT_EQ(v.artist, "Art");
  EXPECT_EQ(v.genre, "");
}

TEST(DsdiffReader, PropertyEdgeCases) {
  ScratchDir dir;
  std::vector<uint8_t> payload(2 * 4704, 0x69);
  dsdgen::DffOptions o;
  o.write_fs = false;
  InputTrack t;
  ASSERT_TRUE(run_dff(dff(dir, "nofs.dff", 2, 5644800, payload, o), t).ok);
  EXPECT_EQ(t.sample_rate, 2822400u);
  EXPECT_EQ(t.rate_multiple, 64u);

  for (uint32_t ch : {1u, 3u, 4u, 8u}) {
    const std::string path = dff(dir, "ch.dff", ch, 2822400, std::vector<uint8_t>(ch * 100));
    InputTrack u;
    ReadResult run = run_dff(path, u);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.err, "  Error: " + path + ": unsupported channels " + std::to_string(ch) + "\n");
  }

  const std::string w = dff(dir, "w.dff", 2, 2000000, std::vector<uint8_t>(2 * 3333));
  InputTrack v;
  ReadResult run = run_dff(w, v);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(v.rate_multiple, 41u);
  EXPECT_EQ(run.err, "  Warning: " + w + ": unsupported DSD rate 2000000\n");
}

TEST(DsdiffReader, StructuralFaultsAndTheirMessages) {
  ScratchDir dir;
  const std::string p = dir.file("f.dff");
  // Each case: the file, and the start of the message after "Error: <path>: ".
  auto check = [&](const std::vector<uint8_t>& f, const std::string& message) {
    SCOPED_TRACE(message);
    write_file(p, f);
    InputTrack t;
    t.genre = "g";
    ReadResult run = run_dff(p, t);
    EXPECT_FALSE(run.ok);
    const std::string head = "  Error: " + p + ": " + message;
    EXPECT_EQ(run.err.compare(run.err.rfind("  Error: "), head.size(), head), 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(t.audio.empty());
    EXPECT_TRUE(t.dst_frames.empty());
    EXPECT_TRUE(t.genre.empty());
  };
  auto cut = [](const std::vector<uint8_t>& f, size_t n) { return std::vector<uint8_t>(f.begin(), f.begin() + n); };
  auto with_size = [](std::vector<uint8_t> f, size_t at, uint64_t size) {
    put_be64(f, at + 4, size);
    return f;
  };
  std::vector<uint8_t> payload(2 * 4704, 0x69);
  const std::vector<uint8_t> good = dsdgen::build_dsdiff(2, 2822400, payload, {});
  const size_t dsd = top_chunk(good, "DSD ");
  const size_t prop = top_chunk(good, "PROP");
  ASSERT_NE(dsd, std::string::npos);

  std::vector<uint8_t> f = good;
  f[0] = 'X';
  check(f, "not a DSDIFF file (bad FRM8 magic or form type)");
  f = good;
  f[15] = 'X';
  check(f, "not a DSDIFF file (bad FRM8 magic or form type)");
  // A file shorter than its FRM8 size is cut short, wherever the cut lies.
  for (size_t n : {size_t(16), size_t(28), dsd, good.size() - 1})
    check(cut(good, n), "FRM8 declares " + std::to_string(good.size()) + " bytes, but the file holds only " +
                            std::to_string(n) + " => truncated file");
  // The same cuts with the FRM8 size made to fit.
  check(with_size(cut(good, 16), 0, 4), "PROP/SND chunk not found");
  check(with_size(cut(good, dsd), 0, dsd - 12), "DSD/DST data chunk not found");
  // Sizes that do not describe the data.
  check(with_size(good, dsd, ~uint64_t(0)), "chunk 'DSD ' at byte " + std::to_string(dsd) + " declares");
  check(with_size(good, dsd, 1), "the DSD chunk holds 1 bytes, not a whole number of samples for 2 channels");
  check(with_size(good, dsd, 0), "the DSD chunk holds 0 bytes");
  dsdgen::DffOptions o;
  o.write_chnl = false;
  check(dsdgen::build_dsdiff(2, 2822400, payload, o), "malformed DSDIFF (no CHNL channel info)");
  // Six channel ids under a count of 5.
  f = dsdgen::build_dsdiff(6, 2822400, std::vector<uint8_t>(6 * 4704), {});
  f[find_id(f, "CHNL") + 13] = 5;
  check(f, "CHNL declares 5 channels but holds 24 bytes of channel ids (20 expected)");
  // A PROP whose type is not "SND " ends the walk.
  f = good;
  f[prop + 12] = 'X';
  check(f, "DSD/DST data chunk not found");

  // DST-coded data: every frame must decode with the file's channel count.
  o = {};
  o.dst_frames = coded_frames(2, 3);
  const std::vector<uint8_t> dst = dsdgen::build_dsdiff(2, 2822400, {}, o);
  const size_t second = find_id(dst, "DSTF", find_id(dst, "DSTF") + 1);
  f = dst;
  f[second + 12] ^= 0x40;  // the second frame's header no longer parses
  check(f, "DST frame 2 of 3 cannot be used (");
  check(with_size(dst, find_id(dst, "DSTF", second + 1), uint64_t(1) << 40), "DST chunk entry 'DSTF' at byte ");
  auto dst_with = [&](std::vector<std::vector<uint8_t>> frames, uint32_t channels, uint32_t rate = 2822400) {
    dsdgen::DffOptions d;
    d.dst_frames = std::move(frames);
    return dsdgen::build_dsdiff(channels, rate, {}, d);
  };
  check(dst_with({o.dst_frames[0], {}, o.dst_frames[1]}, 2), "DST frame 2 of 3 cannot be used (empty frame)");
  check(dst_with({o.dst_frames[0], std::vector<uint8_t>(2 * 4704 + 2, 0)}, 2),
        "DST frame 2 of 2 cannot be used (larger than the plain frame)");
  check(dst_with({coded_frames(6, 1)[0]}, 5), "DST frame 1 of 1 cannot be used (");
  // 150 empty frames at an absurd rate: refused before any frame is decoded.
  check(dst_with(std::vector<std::vector<uint8_t>>(150), 2, 0xFFFFFFFFu),
        "DST-coded audio at 4294967295 Hz cannot be decoded");
  f = dst;
  f[find_id(f, "FRTE") + 15] = 4;  // the frame count
  check(f, "FRTE declares 4 DST frames, but the DST chunk holds 3");

  InputTrack t;
  ReadResult run = run_dff(dir.file("none.dff"), t);
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.err, "  Error: cannot open " + dir.file("none.dff") + "\n");
}
