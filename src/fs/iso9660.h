#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// One file of the ISO 9660 volume. An embedded file carries its bytes in
// `content` and is placed by the volume's plan; any other file lies in the
// image at `lsn` (0: no directory record). Sizes are 64-bit: a file of 4 GiB
// or more is recorded as a multi-extent file.
struct IsoFileEntry {
  std::string path;
  std::vector<uint8_t> content;
  uint32_t lsn = 0;
  uint64_t size = 0;
};

// Where embedded files may go: the front gap [gap_first, gap_end) or a tail
// slot at tail_lsn (0: none).
struct EmbedWindow {
  uint32_t gap_first = 289;
  uint32_t gap_end = 510;
  uint32_t tail_lsn = 0;
};

}  // namespace varn
