#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace varn {

// One file of the ISO 9660 volume. An embedded file carries its bytes in
// `content` and is placed by the writer; any other file already lies in the
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

namespace varn {

// Writes the ISO 9660 volume (system area, volume descriptors, the UDF
// recognition sequence at 18..20, path tables at 66/67, directories from 68,
// embedded files). Embedded entries get their `lsn`; entries that fit no
// slot are dropped from the list. Returns false, after printing why, when
// the image cannot be opened or the tree does not fit the layout.
bool write_iso9660_volume(const std::string& image_path, uint32_t block_count,
                          std::vector<IsoFileEntry>& files, const std::string& label,
                          const EmbedWindow& window);

}  // namespace varn
