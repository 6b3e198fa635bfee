#include "audio/dst_frame_store.h"

#include <algorithm>
#include <cerrno>

#include "audio/open_input_file.h"
#include "platform/exit_cleanup.h"
#include "platform/platform.h"

namespace varn {

namespace {

// File bytes read at a time: frames are read in order, many per read.
constexpr size_t kWindowBytes = size_t(1) << 20;

}  // namespace

DstSpool::~DstSpool() {
  if (!file) return;
  std::fclose(file);
  release_signal_guard();
}

bool open_dst_spool(DstSpool& spool) {
  // A write past a file-size limit must fail like a full disk, not kill
  // the run.
  hold_signal_guard();
  spool.file = platform_nameless_temp_file();
  if (!spool.file) {
    const int error = errno;
    release_signal_guard();
    errno = error;
    return false;
  }
  spool.size = 0;
  spool.error = 0;
  return true;
}

bool spool_dst_frame(DstFrameStore& store, const uint8_t* bytes, size_t length) {
  DstSpool& spool = *store.spool;
  if (spool.error) return false;
  if (spool.reading) {
    if (platform_fseek64(spool.file, int64_t(spool.size), SEEK_SET) != 0) {
      spool.error = errno ? errno : EIO;
      return false;
    }
    spool.reading = false;
  }
  errno = 0;
  if (length > UINT32_MAX || std::fwrite(bytes, 1, length, spool.file) != length) {
    spool.error = errno ? errno : EIO;
    return false;
  }
  store.frames.push_back(DstFrameRef{spool.size, uint32_t(length)});
  spool.size += length;
  return true;
}

bool flush_dst_spool(DstSpool& spool) {
  errno = 0;
  if (!spool.error && std::fflush(spool.file) != 0) spool.error = errno ? errno : EIO;
  return spool.error == 0;
}

DstFrameReader::~DstFrameReader() {
  if (input) std::fclose(input);
}

const uint8_t* read_dst_frame(DstFrameReader& reader, const DstFrameStore& store, size_t index) {
  if (index >= store.frames.size()) return nullptr;
  const DstFrameRef ref = store.frames[index];
  // The window stays valid across stores that share a file (the spool).
  const bool same_file = store.spool ? reader.spool == store.spool.get()
                                     : !reader.spool && reader.input && reader.path == store.path;
  if (!same_file) {
    if (reader.input) std::fclose(reader.input);
    reader.input = nullptr;
    reader.window_len = 0;
    reader.spool = store.spool.get();
    reader.path = store.spool ? std::string() : store.path;
    if (!store.spool) {
      reader.input = open_input_file(store.path, "rb");
      if (!reader.input) return nullptr;
    }
  }
  if (ref.offset >= reader.window_at && ref.offset + ref.length <= reader.window_at + reader.window_len)
    return reader.window.data() + (ref.offset - reader.window_at);
  FILE* f = store.spool ? store.spool->file : reader.input;
  if (!f) return nullptr;
  // The spool is read back only once every frame is in, so nothing is
  // appended after this seek.
  if (store.spool) {
    if (!flush_dst_spool(*store.spool)) return nullptr;
    store.spool->reading = true;
  }
  const size_t want = std::max<size_t>(kWindowBytes, ref.length);
  if (reader.window.size() < want) reader.window.resize(want);
  reader.window_len = 0;
  if (platform_fseek64(f, int64_t(ref.offset), SEEK_SET) != 0) return nullptr;
  reader.window_at = ref.offset;
  reader.window_len = std::fread(reader.window.data(), 1, want, f);
  if (reader.window_len < ref.length) return nullptr;
  return reader.window.data();
}

std::string dst_frame_origin(const DstFrameStore& store) {
  return store.spool ? std::string("the DST spool in ") + platform_temp_dir() : store.path;
}

}  // namespace varn
