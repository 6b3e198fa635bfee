// Where a track's DST frames lie: per frame only its length and its offset
// in a file, either the track's own DSDIFF input (frames passed through) or
// the run's spool of coded frames. The bytes are read when the image is
// written, so memory holds about 16 bytes a frame, never the frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace varn {

struct DstFrameRef {
  uint64_t offset = 0;
  uint32_t length = 0;
};

// The run's coded frames, appended in frame order to a temporary file with
// no name, so that no way the run ends leaves it behind.
struct DstSpool {
  FILE* file = nullptr;
  uint64_t size = 0;  // bytes appended
  int error = 0;      // errno of the first failed write; nothing is appended after it
  bool reading = false;  // the position was moved by a read
  DstSpool() = default;
  DstSpool(const DstSpool&) = delete;
  DstSpool& operator=(const DstSpool&) = delete;
  ~DstSpool();
};

// Opens a spool in the platform's temporary folder; false with errno set.
bool open_dst_spool(DstSpool& spool);

struct DstFrameStore {
  std::string path;                  // the input file holding the frames
  std::shared_ptr<DstSpool> spool;   // or the spool holding them
  std::vector<DstFrameRef> frames;   // in frame order
};

inline size_t dst_frame_count(const DstFrameStore& store) { return store.frames.size(); }

// Appends a frame to the store's spool and lists it. False, with the
// spool's error set, when the write failed.
bool spool_dst_frame(DstFrameStore& store, const uint8_t* bytes, size_t length);
// Writes out what the spool buffers; false (error set) when that failed.
bool flush_dst_spool(DstSpool& spool);

// Reads frames through a bounded window of their file: frames read in file
// order cost one read for many.
struct DstFrameReader {
  const DstSpool* spool = nullptr;  // the spool in use, or
  std::string path;                 // the input file in use,
  FILE* input = nullptr;            // open
  std::vector<uint8_t> window;
  uint64_t window_at = 0;   // file offset of window[0]
  size_t window_len = 0;    // bytes valid in the window
  DstFrameReader() = default;
  DstFrameReader(const DstFrameReader&) = delete;
  DstFrameReader& operator=(const DstFrameReader&) = delete;
  ~DstFrameReader();
};

// The bytes of frame `index` of `store`, valid until the next call; null
// when they cannot be read.
const uint8_t* read_dst_frame(DstFrameReader& reader, const DstFrameStore& store, size_t index);

// The file a store's frames come from, for messages.
std::string dst_frame_origin(const DstFrameStore& store);

}  // namespace varn
