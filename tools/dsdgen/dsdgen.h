// dsdgen: DSD test signals from a 5th-order sigma-delta modulator, written as
// DSF or DSDIFF files. Used by the tests and benchmarks to make their inputs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dsdgen {

// What drives the modulator.
enum class SignalKind {
  Tone,     // one sine per channel (frequency varies a little per channel)
  Chirp,    // logarithmic sweep 20 Hz .. 20 kHz
  Noise,    // low-passed white noise
  Music,    // several tones with envelopes plus a little noise
  Silence,  // zero input: the modulator's idle pattern
};

struct SignalOptions {
  SignalKind kind = SignalKind::Music;
  uint32_t channels = 2;
  uint32_t sample_rate = 2822400;  // DSD rate in Hz
  uint64_t samples = 2822400;      // 1-bit samples per channel
  double amplitude = 0.5;          // peak of the modulator input (< 0.7)
  double frequency = 1000.0;       // Tone: base frequency
  uint64_t seed = 1;
};

// Plain DSD payload in the system's layout: byte i of channel c at
// i * channels + c, earliest sample in the most significant bit.
// samples / 8 bytes per channel (a trailing partial byte is dropped).
std::vector<uint8_t> generate(const SignalOptions& opt);

// Same, but only `period_bytes` bytes per channel are modulated and then
// repeated until `samples / 8` bytes per channel are filled: fast long files.
std::vector<uint8_t> generate_repeated(const SignalOptions& opt, uint64_t period_bytes);

// One extra picture for an APIC frame (written after the main picture).
struct Id3Picture {
  std::vector<uint8_t> data;
  int type = 0;
  std::string mime = "image/png";
  std::string description;
};

// A frame written as given: 4-character id and its body.
struct Id3RawFrame {
  std::string id;
  std::vector<uint8_t> body;
};

// ID3v2 tag contents (frames written only when not empty).
struct Id3Tags {
  int version = 3;  // 3 or 4 (frame sizes syncsafe in 4)
  std::string title, artist, album, genre, date, track;  // TIT2 TPE1 TALB TCON TDRC TRCK
  std::vector<uint8_t> picture;  // APIC data
  int picture_type = 3;          // 3 = front cover
  std::string picture_mime = "image/jpeg";
  bool utf16 = false;  // text frames as UTF-16 with BOM (encoding 1)
  bool utf16_big_endian = false;  // BOM FE FF and big-endian units instead of FF FE
  bool picture_first = false;     // APIC frames before the text frames
  std::vector<Id3Picture> more_pictures;  // further APIC frames after `picture`
  std::vector<Id3RawFrame> raw_frames;    // written after everything else
  uint32_t padding = 0;                   // zero bytes after the last frame
  bool empty() const {
    return title.empty() && artist.empty() && album.empty() && genre.empty() && date.empty() &&
           track.empty() && picture.empty() && more_pictures.empty() && raw_frames.empty();
  }
};
// Whole tag: 10-byte header (syncsafe body size) and frames.
std::vector<uint8_t> build_id3(const Id3Tags& tags);

// UTF-8 text as UTF-16 code units in bytes (surrogate pairs for code points
// above U+FFFF), without BOM or terminator.
std::vector<uint8_t> utf8_to_utf16_bytes(const std::string& text, bool big_endian);

struct DsfOptions {
  uint32_t block_size = 4096;  // per channel; 0 = the whole channel is one block
  bool lsb_first = true;       // bits per sample field 1 (LSB first) or 8
  Id3Tags tags;                // written at the end when not empty
};

// payload: system layout as from generate(); sample_count declared in the
// header (defaults to 8 * bytes per channel when 0).
// Returns false (with a message on stderr) when the file cannot be written
// or channels is 0.
bool write_dsf(const std::string& path, uint32_t channels, uint32_t sample_rate,
               const std::vector<uint8_t>& payload, const DsfOptions& opt,
               uint64_t sample_count = 0);

// A chunk written as given: 4-character id and its data (pad byte added
// for odd sizes).
struct DffRawChunk {
  std::string id;
  std::vector<uint8_t> data;
};

struct DffOptions {
  std::string didx_title, didx_artist;  // DIIN/DIDX when either is set
  bool didx_utf16 = false;              // DIDX as UTF-16LE with BOM FF FE
  std::vector<uint8_t> didx_raw;        // when not empty: the DIDX data as given
  std::string comt_genre, comt_date;    // COMT entries (types 3 and 4)
  Id3Tags tags;                         // trailing "ID3 " chunk when not empty
  // DST-coded file: when not empty, a "DST " chunk with one DSTF per frame
  // is written instead of the "DSD " chunk, and CMPR says "DST ".
  std::vector<std::vector<uint8_t>> dst_frames;
  bool dst_checksums = false;  // a DSTC chunk after every DSTF
  bool cmpr_dst = false;       // CMPR says "DST " even for a plain DSD chunk
  bool write_fs = true;        // FS property present
  bool write_chnl = true;      // CHNL property present
  bool write_cmpr = true;      // CMPR property present
  std::vector<DffRawChunk> prop_extra;  // extra PROP sub-chunks (after CMPR)
  std::vector<DffRawChunk> extra_chunks;  // after DIIN/COMT, before the ID3 chunk
};

// Whole file in memory / on disk. The payload is written unchanged as the
// DSD chunk (ignored when dst_frames is set).
std::vector<uint8_t> build_dsdiff(uint32_t channels, uint32_t sample_rate,
                                  const std::vector<uint8_t>& payload, const DffOptions& opt);
bool write_dsdiff(const std::string& path, uint32_t channels, uint32_t sample_rate,
                  const std::vector<uint8_t>& payload, const DffOptions& opt);

}  // namespace dsdgen
