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

// ID3v2 tag contents (frames written only when not empty).
struct Id3Tags {
  int version = 3;  // 3 or 4 (frame sizes syncsafe in 4)
  std::string title, artist, album, genre, date, track;  // TIT2 TPE1 TALB TCON TDRC TRCK
  std::vector<uint8_t> picture;  // APIC data
  int picture_type = 3;          // 3 = front cover
  std::string picture_mime = "image/jpeg";
  bool utf16 = false;  // text frames as UTF-16 with BOM (encoding 1)
  bool empty() const {
    return title.empty() && artist.empty() && album.empty() && genre.empty() && date.empty() &&
           track.empty() && picture.empty();
  }
};
std::vector<uint8_t> build_id3(const Id3Tags& tags);

struct DsfOptions {
  uint32_t block_size = 4096;  // per channel; 0 = the whole channel is one block
  bool lsb_first = true;       // bits per sample field 1 (LSB first) or 8
  Id3Tags tags;                // written at the end when not empty
};

// payload: system layout as from generate(); sample_count declared in the
// header (defaults to 8 * bytes per channel when 0).
bool write_dsf(const std::string& path, uint32_t channels, uint32_t sample_rate,
               const std::vector<uint8_t>& payload, const DsfOptions& opt,
               uint64_t sample_count = 0);

struct DffOptions {
  std::string didx_title, didx_artist;  // DIIN/DIDX when either is set
  std::string comt_genre, comt_date;    // COMT entries (types 3 and 4)
  Id3Tags tags;                         // trailing "ID3 " chunk when not empty
  // DST-coded file: when not empty, a "DST " chunk with one DSTF per frame
  // is written instead of the "DSD " chunk, and CMPR says "DST ".
  std::vector<std::vector<uint8_t>> dst_frames;
};

bool write_dsdiff(const std::string& path, uint32_t channels, uint32_t sample_rate,
                  const std::vector<uint8_t>& payload, const DffOptions& opt);

}  // namespace dsdgen
