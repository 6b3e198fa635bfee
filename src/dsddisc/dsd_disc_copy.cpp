// Block-wise copy of input files into the image.
#include "dsddisc/dsd_disc_copy.h"

#include "audio/open_input_file.h"
#include "fs/sector_io.h"
#include "platform/cancel.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/progress.h"

namespace varn {

namespace {

constexpr size_t kCopyBlock = 4u << 20;  // 4 MiB per read


bool seek_sector(FILE* image, uint32_t lsn) {
  return platform_fseek64(image, int64_t(lsn) * int64_t(kSectorSize), SEEK_SET) == 0;
}

bool pad_sector(FILE* image, uint64_t written) {
  static const uint8_t zeros[kSectorSize] = {};
  size_t pad = size_t((kSectorSize - written % kSectorSize) % kSectorSize);
  return pad == 0 || std::fwrite(zeros, 1, pad, image) == pad;
}

}  // namespace

Status copy_file_into_image(FILE* image, uint32_t lsn, const std::string& source, uint64_t size,
                            std::vector<uint8_t>& buffer) {
  FILE* in = open_input_file(source, "rb");
  if (!in) {
    return make_error("Error: cannot open %s\n", source.c_str());
  }
  if (buffer.size() < kCopyBlock) buffer.resize(kCopyBlock);
  if (!seek_sector(image, lsn)) {
    std::fclose(in);
    return make_error("Error: write failed at LSN %u\n", lsn);
  }
  uint64_t done = 0;
  while (done < size) {
    if (cancel_requested()) {
      std::fclose(in);
      return Error{};
    }
    size_t want = size - done < buffer.size() ? size_t(size - done) : buffer.size();
    size_t got = std::fread(buffer.data(), 1, want, in);
    if (got > 0 && std::fwrite(buffer.data(), 1, got, image) != got) {
      std::fclose(in);
      return make_error("Error: write failed at LSN %u\n", lsn);
    }
    done += got;
    progress_add(ProgressStep::Writing, got);
    if (got < want) {
      std::fclose(in);
      return make_error("Error: short read from %s (%zu of %lld)\n", source.c_str(),
                        size_t(done), static_cast<long long>(size));
    }
  }
  // The file must end where it ended when it was measured.
  uint8_t extra;
  bool grew = std::fread(&extra, 1, 1, in) == 1;
  std::fclose(in);
  if (grew) {
    return make_error("Error: %s grew while it was copied (more than %lld bytes)\n",
                      source.c_str(), static_cast<long long>(size));
  }
  if (!pad_sector(image, size)) {
    return make_error("Error: write failed at LSN %u\n", lsn);
  }
  return std::nullopt;
}

Status write_bytes_into_image(FILE* image, uint32_t lsn, const std::string& bytes) {
  if (!seek_sector(image, lsn) ||
      std::fwrite(bytes.data(), 1, bytes.size(), image) != bytes.size() ||
      !pad_sector(image, bytes.size())) {
    return make_error("Error: write failed at LSN %u\n", lsn);
  }
  return std::nullopt;
}

}  // namespace varn
