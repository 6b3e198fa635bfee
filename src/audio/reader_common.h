// Pieces both audio readers share: positioned reads with the file's real
// size at hand, the sample-rate fields, SACD frame padding, tag lookups and
// the clean-up of a record after a failed read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/id3.h"
#include "audio/input_track.h"
#include "fs/bytes.h"
#include "platform/mapped_file.h"

namespace varn {

// An open input file and its size, and the window of it mapped for reading
// the audio in place. Closes the handle when it goes away.
struct InputFile {
  FILE* f = nullptr;
  uint64_t size = 0;
  MappedWindow window;
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { close(); }
  void close() {
    unmap_window(window);
    if (f) std::fclose(f);
    f = nullptr;
  }
};

// Opens through open_input_file and learns the size; false when the open
// fails (no message).
bool open_input(const std::string& path, InputFile& in);

// Reads up to n bytes at the offset; returns the count read (0 when the
// offset lies at or past the end or the seek fails).
size_t read_at(InputFile& in, uint64_t offset, void* buf, size_t n);

// Bytes of the file from the offset to its end (0 past the end).
inline uint64_t bytes_after(const InputFile& in, uint64_t offset) {
  return offset < in.size ? in.size - offset : 0;
}

// Stores the rate, its base and multiple; prints the unsupported-rate
// warning when the rate is a multiple of neither 44100 nor 48000.
void set_sample_rate(const std::string& path, InputTrack& track, uint32_t rate);

// Appends 0x69 idle bytes up to a whole number of SACD frames and prints
// the pad line when any were added. The rate must be at least 600.
void pad_to_sacd_frames(InputTrack& track);

// Prints the pad line for a payload of `length` bytes when it needs
// padding.
void note_padding(const InputTrack& track, uint64_t length);

// Length of the payload once padded to whole SACD frames.
uint64_t padded_to_sacd_frames(uint64_t length, uint32_t channels, uint32_t sample_rate);

// Title, artist, album, genre, date (each replaced, empty when absent) and
// a non-empty TRCK's leading number from an ID3v2 tag.
void apply_id3_texts(const Id3Tag& tag, InputTrack& track);

// What a failed read leaves behind.
void clear_failed_track(InputTrack& track);

}  // namespace varn
