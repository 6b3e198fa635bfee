// Block-wise copy of input files into the image.
#include "dsddisc/dsd_disc_copy.h"

#include <cstdio>
#include <cstring>

#include "audio/open_input_file.h"
#include "fs/sector_io.h"
#include "platform/cancel.h"

namespace varn {

namespace {

constexpr size_t kCopyBlock = 1u << 20;  // bytes per read, whole sectors

Status copy_open_file(SectorSink& sink, FILE* in, const std::string& source, uint64_t size,
                      std::vector<uint8_t>& buffer) {
  for (uint64_t done = 0; done < size;) {
    if (cancel_requested()) return Error{};
    if (sink.failed) return std::nullopt;
    const size_t want = size - done < buffer.size() ? size_t(size - done) : buffer.size();
    const size_t got = std::fread(buffer.data(), 1, want, in);
    done += got;
    if (got < want) {
      return make_error("Error: short read from %s (%zu of %lld)\n", source.c_str(), size_t(done),
                        static_cast<long long>(size));
    }
    const size_t padded = sectors_of(got) * kSectorSize;
    std::memset(buffer.data() + got, 0, padded - got);
    sink_put(sink, buffer.data(), padded);
  }
  // The file must end where it ended when it was measured.
  uint8_t extra;
  if (std::fread(&extra, 1, 1, in) == 1) {
    return make_error("Error: %s grew while it was copied (more than %lld bytes)\n", source.c_str(),
                      static_cast<long long>(size));
  }
  return std::nullopt;
}

}  // namespace

Status copy_file_into_sink(SectorSink& sink, const std::string& source, uint64_t size,
                           std::vector<uint8_t>& buffer) {
  FILE* in = open_input_file(source, "rb");
  if (!in) return make_error("Error: cannot open %s\n", source.c_str());
  if (buffer.size() < kCopyBlock) buffer.resize(kCopyBlock);
  Status failed = copy_open_file(sink, in, source, size, buffer);
  std::fclose(in);
  return failed;
}

}  // namespace varn
