// Placement of the embedded files (cover picture, album information text)
// of the ISO 9660 volume.
#include <cstdio>

#include "fs/iso9660_tree.h"
#include "fs/sector_io.h"
#include "platform/report_lines.h"

namespace varn {

void place_embedded_files(std::vector<IsoFileEntry>& files, const EmbedWindow& window,
                          uint32_t volume_blocks, ReportLines& lines) {
  uint64_t needed = 0;
  for (const IsoFileEntry& f : files)
    if (!f.content.empty()) needed += sectors_of(f.content.size());
  if (needed == 0) return;

  uint32_t capacity = window.gap_end > window.gap_first ? window.gap_end - window.gap_first : 0;
  uint64_t start = 0;
  if (needed <= capacity) {
    start = window.gap_first;
  } else if (window.tail_lsn != 0 && uint64_t(window.tail_lsn) + needed <= volume_blocks) {
    start = window.tail_lsn;
    add_line(lines, ReportStream::Out, "  [Embed] front gap %u..%u holds only %u blocks but the embedded file needs %u "
                 "=> relocated after the audio area (LSN %u..%u)\n",
                 window.gap_first, window.gap_end, capacity, unsigned(needed), window.tail_lsn,
                 unsigned(window.tail_lsn + needed));
  } else {
    add_line(lines, ReportStream::Err, "  [Embed] embedded file (%llu blocks) does not fit the front gap (%u..%u, "
                 "capacity %u blocks) and there is no usable tail slot (tail=%u, volume %u blocks) "
                 "=> **embedded file dropped** (no cover is better than overwriting the SACD "
                 "structures)\n",
                 static_cast<unsigned long long>(needed), window.gap_first, window.gap_end,
                 capacity, window.tail_lsn, volume_blocks);
    std::vector<IsoFileEntry> kept;
    kept.reserve(files.size());
    for (IsoFileEntry& f : files)
      if (f.content.empty()) kept.push_back(std::move(f));
    files = std::move(kept);
    return;
  }
  for (IsoFileEntry& f : files) {
    if (f.content.empty()) continue;
    f.lsn = uint32_t(start);
    f.size = f.content.size();
    start += sectors_of(f.content.size());
  }
}

}  // namespace varn
