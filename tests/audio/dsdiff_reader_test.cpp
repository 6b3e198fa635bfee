// DSDIFF reader: plain and DST-coded sound data, properties, DIIN texts,
// COMT, the ID3 chunk as other writers lay them out, and structural faults.
#include <gtest/gtest.h>

#include "audio_test_util.h"
#include "audio/plain_source.h"
#include "support/dst_frames.h"

using namespace audiotest;
using testsupport::read_file;
using testsupport::write_file;

namespace {

std::string dff(const ScratchDir& dir, const std::string& name, uint32_t channels, uint32_t rate,
                const std::vector<uint8_t>& payload, const dsdgen::DffOptions& opt = {}) {
  const std::string path = dir.file(name);
  EXPECT_TRUE(dsdgen::write_dsdiff(path, channels, rate, payload, opt));
  return path;
}

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// A sub-chunk: id, 64-bit size, data and its pad byte.
std::vector<uint8_t> chunk(const char* id, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> c(12 + data.size() + (data.size() & 1), 0);
  std::copy(id, id + 4, c.begin());
  put(c, 4, data.size(), 8, true);
  std::copy(data.begin(), data.end(), c.begin() + 12);
  return c;
}

std::vector<uint8_t> cat(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const std::vector<uint8_t> kSilence(2 * 4704, 0x69);

}  // namespace

// (Payloads over every rate and channel count are checked with the DSF ones.)
TEST(DsdiffReader, OddSizesAndMissingProperties) {
  ScratchDir dir;
  // An odd data size (whole 5-channel sample bytes) with its pad byte, and
  // a chunk after it.
  std::vector<uint8_t> odd(5 * 1001, 0x33);
  dsdgen::DffOptions o;
  o.didx_title = "After";
  InputTrack u = accepted(dff(dir, "o.dff", 5, 2822400, odd, o));
  EXPECT_EQ(u.sample_count, 8008u);
  EXPECT_EQ(u.audio, padded(odd, 5, 2822400));
  EXPECT_EQ(u.title, "After");
  // Without the FS property the rate is DSD64; CMPR "DST " over plain data
  // is read as plain with a warning.
  o = {};
  o.write_fs = false;
  o.cmpr_dst = true;
  const ReadResult run = read(dff(dir, "n.dff", 2, 5644800, kSilence, o), u);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(u.sample_rate, 2822400u);
  EXPECT_FALSE(u.is_dst);
  EXPECT_EQ(u.audio, kSilence);
  EXPECT_TRUE(testsupport::contains(run.err, "  Warning: "));
}

TEST(DsdiffReader, DstFramesAreKeptUnchanged) {
  ScratchDir dir;
  dsdgen::DffOptions o;
  o.dst_frames = coded_frames(6, 3);
  while (o.dst_frames.size() < 40) o.dst_frames.push_back(o.dst_frames[o.dst_frames.size() % 3]);
  for (bool checksums : {false, true}) {
    o.dst_checksums = checksums;  // DSTC chunks between the frames are skipped
    const std::string path = dff(dir, "d.dff", 6, 2822400, {}, o);
    std::vector<uint8_t> f = read_file(path);
    EXPECT_EQ(std::string(f.begin() + find_id(f, "CMPR") + 12, f.begin() + find_id(f, "CMPR") + 16), "DST ");
    const InputTrack t = accepted(path);
    EXPECT_TRUE(t.is_dst);
    EXPECT_EQ(testsupport::stored_frames(t.dst_frames), o.dst_frames);  // read where they lie
    EXPECT_EQ(t.sample_count, 40u * 37632);
    EXPECT_TRUE(t.audio.empty());
  }
}

// DIDX texts (8-bit and 16-bit), COMT genre and date,
// and which source wins.
TEST(DsdiffReader, DiinAndCommentTexts) {
  ScratchDir dir;
  dsdgen::DffOptions o;
  o.didx_title = "Sch\xC3\xB6n";
  o.didx_artist = "Art \xE2\x82\xAC";
  o.comt_genre = std::string("Jazz  \0", 7);
  o.comt_date = "1999";
  for (bool utf16 : {false, true}) {
    o.didx_utf16 = utf16;
    EXPECT_EQ(texts(accepted(dff(dir, "a.dff", 2, 2822400, kSilence, o))),
              o.didx_title + "|" + o.didx_artist + "||Jazz|1999");
  }
  // Without the final zero byte neither is set, and the ID3 chunk counts.
  o = {};
  o.didx_raw = bytes(std::string("Title\0Artist", 12));
  o.tags.title = "id3 title";
  o.tags.artist = "id3 artist";
  EXPECT_EQ(texts(accepted(dff(dir, "c.dff", 2, 2822400, kSilence, o))), "id3 title|id3 artist|||");
  // With an artist from the command line DIDX sets only the title and the
  // ID3 chunk is not consulted.
  o.didx_raw.clear();
  o.didx_title = "Title";
  o.didx_artist = "Artist";
  o.tags.album = "id3 album";
  InputTrack preset;
  preset.artist = "Preset";
  preset.album = "Preset album";
  EXPECT_EQ(texts(accepted(dff(dir, "d.dff", 2, 2822400, kSilence, o), preset)), "Title|Preset|Preset album||");
  // A second type-3 comment does not overwrite; a length of 0 ends the
  // chunk; an entry running past the chunk ends it.
  dsdgen::DffOptions p;
  p.extra_chunks.push_back({"COMT", {0, 3, 0, 4, 'R', 'o', 'c', 'k', 0, 3, 0, 3, 'P', 'o', 'p', 0,
                                     0, 9, 0, 0, 0, 4, 0, 4, '2', '0', '0', '0'}});
  p.extra_chunks.push_back({"COMT", {0, 4, 0, 40, '1', '9'}});
  EXPECT_EQ(texts(accepted(dff(dir, "h.dff", 2, 2822400, kSilence, p))), "|||Rock|");
}

// The layout a ripper writes: DIIN with EMID, MARK, DIAR and DITI (a 4-byte
// count, then the text), a COMT in the standard layout, an ID3v2.4 chunk.
TEST(DsdiffReader, ChunksAsOtherWritersLayThemOut) {
  ScratchDir dir;
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
  o.tags.track = "12";
  o.tags.picture = {1, 2, 3};
  o.tags.padding = 70000;  // a tag past 64 KiB is still read
  const InputTrack t = accepted(dff(dir, "rip.dff", 2, 2822400, kSilence, o));
  EXPECT_EQ(texts(t), "Sakura \xE6\x97\xA5|A / B|||");  // the tag outranks DITI
  EXPECT_EQ(t.track_number, 12u);
  EXPECT_TRUE(t.cover.empty());  // no pictures from DSDIFF files

  // The same tag before the sound data is found as well.
  std::vector<uint8_t> f = read_file(dir.file("rip.dff"));
  const size_t id3 = top_chunk(f, "ID3 ");
  std::vector<uint8_t> tag(f.begin() + id3, f.end());
  f.erase(f.begin() + id3, f.end());
  f.insert(f.begin() + 32, tag.begin(), tag.end());  // after FVER
  write_file(dir.file("front.dff"), f);
  EXPECT_EQ(accepted(dir.file("front.dff")).artist, "A / B");
  // A tag past the FRM8 size is not found.
  f = read_file(dir.file("rip.dff"));
  put(f, 4, id3 - 12, 8, true);
  write_file(dir.file("outside.dff"), f);
  EXPECT_EQ(accepted(dir.file("outside.dff")).artist, "Art");  // DIAR

  // Without a tag DITI and DIAR give the texts; a count past the chunk is clipped.
  o.tags = {};
  EXPECT_EQ(texts(accepted(dff(dir, "diin.dff", 2, 2822400, kSilence, o))), "Title|Art|||");
}

// Each case: a damaged file and the start of its refusal. Nothing of the
// file is handed on.
TEST(DsdiffReader, StructuralFaults) {
  ScratchDir dir;
  const std::string p = dir.file("f.dff");
  auto check = [&](const std::vector<uint8_t>& f, const std::string& message) {
    write_file(p, f);
    InputTrack t;
    t.genre = "g";
    ReadResult run = read(p, t);
    EXPECT_FALSE(run.ok) << message;
    EXPECT_EQ(refusal(run, p).compare(0, message.size(), message), 0) << message << "\n" << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(t.audio.empty() && t.dst_frames.frames.empty() && t.genre.empty());
  };
  auto with_size = [](std::vector<uint8_t> f, size_t at, uint64_t size) {
    put(f, at + 4, size, 8, true);
    return f;
  };
  auto with_byte = [](std::vector<uint8_t> f, size_t at, uint8_t v) {
    f[at] = v;
    return f;
  };
  const std::vector<uint8_t> good = dsdgen::build_dsdiff(2, 2822400, kSilence, {});
  const size_t dsd = top_chunk(good, "DSD ");
  check(with_byte(good, 0, 'X'), "not a DSDIFF file");
  check(with_byte(good, 15, 'X'), "not a DSDIFF file");
  for (size_t n : {size_t(16), dsd, good.size() - 1})
    check(cut(good, n), "FRM8 declares " + std::to_string(good.size()) + " bytes, but the file holds only " +
                            std::to_string(n) + " => truncated file");
  check(with_size(cut(good, 16), 0, 4), "PROP/SND chunk not found");
  check(with_size(cut(good, dsd), 0, dsd - 12), "DSD/DST data chunk not found");
  check(with_byte(good, top_chunk(good, "PROP") + 12, 'X'), "DSD/DST data chunk not found");
  check(with_size(good, dsd, ~uint64_t(0)), "chunk 'DSD ' at byte " + std::to_string(dsd) + " declares");
  check(with_size(good, dsd, 1), "the DSD chunk holds 1 bytes, not a whole number of samples for 2 channels");
  dsdgen::DffOptions o;
  o.write_chnl = false;
  check(dsdgen::build_dsdiff(2, 2822400, kSilence, o), "malformed DSDIFF (no CHNL channel info)");
  std::vector<uint8_t> six = dsdgen::build_dsdiff(6, 2822400, std::vector<uint8_t>(6 * 4704), {});
  check(with_byte(six, find_id(six, "CHNL") + 13, 5), "CHNL declares 5 channels but holds 24 bytes");
  for (uint32_t ch : {1u, 3u, 4u, 8u})
    check(dsdgen::build_dsdiff(ch, 2822400, std::vector<uint8_t>(ch * 100), {}), "unsupported channels");

  // DST-coded data: every frame must decode with the file's channel count.
  o = {};
  o.dst_frames = coded_frames(2, 3);
  const std::vector<uint8_t> dst = dsdgen::build_dsdiff(2, 2822400, {}, o);
  const size_t second = find_id(dst, "DSTF", find_id(dst, "DSTF") + 1);
  check(with_byte(dst, second + 12, dst[second + 12] ^ 0x40), "DST frame 2 of 3 cannot be used (");
  check(with_size(dst, find_id(dst, "DSTF", second + 1), uint64_t(1) << 40), "DST chunk entry 'DSTF' at byte ");
  check(with_byte(dst, find_id(dst, "FRTE") + 15, 4), "FRTE declares 4 DST frames, but the DST chunk holds 3");
  auto dst_with = [&](std::vector<std::vector<uint8_t>> frames, uint32_t channels) {
    dsdgen::DffOptions d;
    d.dst_frames = std::move(frames);
    return dsdgen::build_dsdiff(channels, 2822400, {}, d);
  };
  // (Empty, foreign and oversized frames are refused in the robustness suite.)
  check(dst_with({o.dst_frames[0], std::vector<uint8_t>(2 * 4704 + 2, 0)}, 2),
        "DST frame 2 of 2 cannot be used (larger than the plain frame)");
  InputTrack t;
  EXPECT_FALSE(read(dir.file("none.dff"), t).ok);
}

// The CHNL ids say which speaker each stored channel feeds: plain audio is
// put in the area's order (held or streamed from the file alike); DST
// frames in another order, and ids that name no area layout, are not
// reordered.
TEST(DsdiffReader, ChannelsFollowTheirIds) {
  ScratchDir dir;
  struct Case {
    uint32_t channels;
    std::string ids;
    bool dst;
    std::vector<uint8_t> from;  // file channel of each area channel; empty: refused
    std::string err;            // start of the warning or refusal
  };
  const std::vector<Case> cases = {
      {6, "MLFTMRGTLS  RS  C   LFE ", false, {0, 1, 4, 5, 2, 3}, ""},
      {2, "SRGTSLFT", false, {1, 0}, ""},
      {5, "MLFTMRGTC   LS  RS  ", false, {0, 1, 2, 3, 4}, ""},
      {6, "C000C001C002C003C004C005", false, {0, 1, 2, 3, 4, 5}, ""},
      {5, "MLFTMRGTLFE LS  RS  ", false, {0, 1, 2, 3, 4}, "  Warning: "},
      {2, "SRGTSLFT", true, {}, "the DST-coded channels are stored as SRGT SLFT, but an SACD area"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ids);
    std::vector<uint8_t> chnl = {0, uint8_t(c.channels)};
    chnl.insert(chnl.end(), c.ids.begin(), c.ids.end());
    dsdgen::DffOptions o;
    o.write_chnl = false;
    o.prop_extra.push_back({"CHNL", chnl});
    if (c.dst) o.dst_frames = coded_frames(c.channels, 2);
    const std::vector<uint8_t> payload = signal(c.channels, 2822400, 4704 * 8 + 24, 3);
    const std::string path = dff(dir, "ch.dff", c.channels, 2822400, payload, o);
    InputTrack held;
    ReadResult run = read(path, held);
    if (c.err.empty()) EXPECT_FALSE(testsupport::contains(run.err, "Warning")) << run.err;
    else EXPECT_TRUE(testsupport::contains(run.err, c.err)) << run.err;
    if (c.from.empty()) {
      EXPECT_FALSE(run.ok);
      continue;
    }
    ASSERT_TRUE(run.ok) << run.err;
    const InputTrack left = accepted(path, {}, true);
    std::vector<uint8_t> want = padded(payload, c.channels, 2822400);
    for (size_t at = 0; at < payload.size(); at += c.channels)
      for (size_t k = 0; k < c.channels; ++k) want[at + k] = payload[at + c.from[k]];
    EXPECT_TRUE(held.audio == want);
    varn::InputFile in;
    ASSERT_TRUE(varn::open_input(path, in));
    std::vector<uint8_t> got(want.size());
    ASSERT_TRUE(varn::read_payload(left, in, 0, got.data(), 7));  // a part of a sample byte row
    ASSERT_TRUE(varn::read_payload(left, in, 7, got.data() + 7, got.size() - 7));
    EXPECT_TRUE(got == want);
  }
}
