// The UDF 1.02 volume: descriptor sequences, integrity, anchors, and the
// metadata (File Set Descriptor, directories, File Entries) at the tail of
// the partition behind the file data.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fs/sector_io.h"
#include "fs/udf.h"
#include "fs/udf_descriptors.h"
#include "fs/udf_tree.h"
#include "platform/platform.h"
#include "platform/report.h"

namespace varn {

namespace {

constexpr uint32_t kAnchorLsn = 256;
constexpr uint32_t kMainSequenceLsn = 32;
constexpr uint32_t kReserveSequenceLsn = 48;
constexpr uint32_t kIntegrityLsn = 64;

struct UdfPlan {
  uint64_t blocks = 0;       // N
  uint64_t length = 0;       // L
  uint64_t meta = 0;         // M
  uint64_t base = 0;         // B
  uint64_t data_end = 0;     // E: partition block after the last file data
};

}  // namespace

bool write_udf_volume(const std::string& image_path, const std::vector<UdfFileEntry>& files,
                      uint32_t partition_start, uint32_t block_count,
                      const std::string& volume_name) {
  FILE* f = platform_fopen(image_path, "r+b");
  if (!f) {
    report_error("Error: cannot open %s for UDF write\n", image_path.c_str());
    return false;
  }
  const uint32_t P = partition_start;
  if (P <= kAnchorLsn) {
    report_error("Error: UDF partition start %u must lie after the anchor at LSN %u\n", P,
                 kAnchorLsn);
    std::fclose(f);
    return false;
  }
  for (const UdfFileEntry& e : files) {
    if (e.is_directory || e.lsn >= P) continue;
    report_error("Error: UDF file %s/%s starts at LSN %u, before the partition start %u\n",
                 e.dir_path.c_str(), e.name.c_str(), e.lsn, P);
    std::fclose(f);
    return false;
  }

  int64_t now = volume_time();
  CivilTime t = civil_time_utc(now);

  std::vector<UdfDirectory> dirs;
  if (!build_udf_tree(files, dirs)) {
    std::fclose(f);
    return false;
  }
  size_t file_entries = 0;
  for (const UdfFileEntry& e : files)
    if (!e.is_directory) ++file_entries;
  for (const UdfFileEntry& e : files) {
    if (e.is_directory) continue;
    if (udf_extent_count(e.size) > kUdfMaxShortAds) {
      report_error("Error: UDF file %s/%s is too large (%llu bytes) for one File Entry\n",
                   e.dir_path.c_str(), e.name.c_str(), static_cast<unsigned long long>(e.size));
      std::fclose(f);
      return false;
    }
  }

  // Partition and metadata sizes.
  UdfPlan plan;
  plan.blocks = block_count;
  int64_t l0 = int64_t(block_count) - int64_t(P) - 1;
  plan.length = uint64_t(std::max<int64_t>(l0, 64));
  uint64_t dir_blocks = 0;
  for (const UdfDirectory& d : dirs) dir_blocks += udf_directory_blocks(d);
  uint64_t m = dir_blocks + (dirs.size() - 1) + files.size();
  // Blocks the metadata really occupies: FSD, terminator, root File Entry,
  // directory data, the other directory File Entries, the file File Entries.
  uint64_t used = 3 + dir_blocks + (dirs.size() - 1) + file_entries;
  if (plan.length < m + 8)
    m = std::max<int64_t>(1, int64_t(plan.length) - 4);
  else
    m += 4;
  if (m < used) m = used;
  plan.meta = m;
  for (const UdfFileEntry& e : files) {
    if (e.is_directory) continue;
    plan.data_end = std::max<uint64_t>(plan.data_end, uint64_t(e.lsn - P) + udf_blocks_of(e.size));
  }
  uint64_t need = std::max(plan.data_end + 4 + plan.meta, plan.data_end + 256);
  if (plan.length < need) {
    uint64_t grown = plan.blocks + (need - plan.length);
    // The metadata must stay above the file data even when the block count
    // handed in was short of the data.
    grown = std::max<uint64_t>(grown, uint64_t(P) + 1 + plan.data_end + 4 + plan.meta);
    if (grown > 0xFFFFFFFFull) {
      report_error("Error: UDF volume would need %llu blocks, more than a 32-bit count\n",
                   static_cast<unsigned long long>(grown));
      std::fclose(f);
      return false;
    }
    uint8_t zero = 0;
    write_at(f, grown * kSectorSize - 1, &zero, 1);
    std::fflush(f);
    report_note("  Partition extended: %u +%u = %u blocks (audio data needs room)\n",
                 unsigned(plan.blocks), unsigned(grown - plan.blocks), unsigned(grown));
    plan.blocks = grown;
    plan.length = plan.blocks - P - 1;
  }
  plan.base = plan.length - plan.meta;
  const uint32_t N = uint32_t(plan.blocks);
  const uint32_t L = uint32_t(plan.length);
  const uint32_t B = uint32_t(plan.base);

  // Block assignment: root File Entry at B + 2, directory data from B + 3,
  // then the other directory File Entries, then the file File Entries.
  uint32_t next = B + 3;
  for (UdfDirectory& d : dirs) {
    d.data_block = next;
    next += udf_directory_blocks(d);
  }
  dirs[0].entry_block = B + 2;
  for (size_t i = 1; i < dirs.size(); ++i) dirs[i].entry_block = next++;
  std::vector<uint32_t> file_block(files.size(), 0);
  for (size_t i = 0; i < files.size(); ++i)
    if (!files[i].is_directory) file_block[i] = next++;

  for (const UdfFileEntry& e : files) {
    uint32_t par = e.lsn >= P ? e.lsn - P : 0;
    report_error("[UDF] file: %s/%s data_lsn=%u data_length=%llu par_lsn=%u blocks=%u\n",
                 e.dir_path.c_str(), e.name.c_str(), e.lsn, static_cast<unsigned long long>(e.size),
                 par, udf_blocks_of(e.size));
  }
  report_note("  UDF metadata at partition tail: base=%u fsd=%u blocks=%d\n", B, B,
               int(plan.meta));

  // Directory data.
  std::vector<std::vector<uint8_t>> dir_data(dirs.size());
  for (size_t i = 0; i < dirs.size(); ++i) {
    const UdfDirectory& d = dirs[i];
    std::vector<uint8_t>& data = dir_data[i];
    udf_append_fid(data, 0x0A, "", dirs[d.parent].entry_block, d.data_block);
    for (size_t c : d.children) udf_append_fid(data, 0x02, dirs[c].name, dirs[c].entry_block, d.data_block);
    for (size_t fi : d.files) udf_append_fid(data, 0x00, files[fi].name, file_block[fi], d.data_block);
  }

  UdfVolumeFacts facts;
  facts.time = t;
  facts.time_low = uint32_t(uint64_t(now) & 0xFFFFFFFFu);
  facts.name = volume_name;
  facts.partition_start = P;
  facts.partition_length = L;
  facts.base = B;
  facts.file_count = uint32_t(files.size());
  facts.directory_count = uint32_t(dirs.size());

  // Volume descriptor sequences.
  report_note("  LVD.contentsUse → par-%u (FSD at par+%u = vol-%u)\n", B, P, B + P);
  std::vector<uint8_t> vds = udf_volume_descriptor_sequence(facts, kMainSequenceLsn);
  write_at(f, uint64_t(kMainSequenceLsn) * kSectorSize, vds.data(), vds.size());
  vds = udf_volume_descriptor_sequence(facts, kReserveSequenceLsn);
  write_at(f, uint64_t(kReserveSequenceLsn) * kSectorSize, vds.data(), vds.size());

  uint8_t block[kSectorSize];
  udf_make_integrity(block, facts, kIntegrityLsn);
  write_at(f, uint64_t(kIntegrityLsn) * kSectorSize, block, kSectorSize);
  udf_make_terminating(block, kIntegrityLsn + 1);
  write_at(f, uint64_t(kIntegrityLsn + 1) * kSectorSize, block, kSectorSize);

  auto at_block = [&](uint32_t pb) { return (uint64_t(P) + pb) * kSectorSize; };
  auto write_dir_entry = [&](size_t i) {
    const UdfDirectory& d = dirs[i];
    UdfFileEntryFields fe;
    fe.directory = true;
    fe.link_count = i == 0 ? 2 : 1;
    fe.information_length = d.data_size;
    fe.unique_id = i == 0 ? 0 : i + 1;
    fe.extents = udf_split_extent(d.data_size, d.data_block);
    udf_make_file_entry(block, fe, t, d.entry_block);
    write_at(f, at_block(d.entry_block), block, kSectorSize);
  };

  write_dir_entry(0);
  udf_make_file_set(block, facts);
  write_at(f, at_block(B), block, kSectorSize);
  udf_make_terminating(block, B + 1);
  write_at(f, at_block(B + 1), block, kSectorSize);

  for (size_t i = 0; i < dirs.size(); ++i) {
    std::vector<uint8_t>& data = dir_data[i];
    data.resize(size_t(udf_directory_blocks(dirs[i])) * kSectorSize, 0);
    write_at(f, at_block(dirs[i].data_block), data.data(), data.size());
  }
  for (size_t i = 1; i < dirs.size(); ++i) write_dir_entry(i);

  uint64_t unique = dirs.size() + 1;
  for (size_t i = 0; i < files.size(); ++i) {
    const UdfFileEntry& e = files[i];
    if (e.is_directory) continue;
    uint32_t pos = e.lsn - P;
    uint64_t length = e.size;
    uint64_t blocks = udf_blocks_of(length);
    if (blocks > 0 && uint64_t(pos) + blocks > B) {
      uint64_t cut_blocks = pos < B ? B - pos : 0;
      report_note("    [clip] FE par-%u: %llu blocks → %llu (metadata at par-%u)\n",
                   file_block[i], static_cast<unsigned long long>(blocks),
                   static_cast<unsigned long long>(cut_blocks), B);
      length = cut_blocks * kSectorSize;
    }
    UdfFileEntryFields fe;
    fe.directory = false;
    fe.link_count = 1;
    fe.information_length = length;
    fe.unique_id = unique++;
    fe.extents = udf_split_extent(length, pos);
    udf_make_file_entry(block, fe, t, file_block[i]);
    write_at(f, at_block(file_block[i]), block, kSectorSize);
  }

  // Clear the front of the partition, but never into file data.
  uint32_t clear = std::min<uint32_t>(16, B);
  for (const UdfFileEntry& e : files)
    if (!e.is_directory) clear = std::min(clear, e.lsn - P);
  if (clear > 0) {
    write_zero_sectors(f, P, clear);
    report_note("  Cleared partition front: %u blocks\n", clear);
  }

  // Anchors at 256, N - 256 and N - 1. The middle one is left out where it
  // would land on file data or on the metadata.
  udf_make_anchor(block, kAnchorLsn);
  write_at(f, uint64_t(kAnchorLsn) * kSectorSize, block, 512);
  uint32_t second = kAnchorLsn;
  if (N >= 513) {
    uint32_t lsn = N - 256;
    bool on_data = lsn < uint64_t(P) + plan.data_end;
    bool on_meta = lsn >= uint64_t(P) + B && lsn < uint64_t(P) + B + plan.meta;
    second = lsn;
    if (!on_data && !on_meta) {
      udf_make_anchor(block, lsn);
      write_at(f, uint64_t(lsn) * kSectorSize, block, 512);
    }
  }
  if (N - 1 > second && N != 257) {
    udf_make_anchor(block, N - 1);
    write_at(f, uint64_t(N - 1) * kSectorSize, block, 512);
  }

  int64_t pos = platform_ftell64(f);
  if (pos > 0 && pos % kSectorSize != 0) {
    static const uint8_t zero[kSectorSize] = {};
    std::fwrite(zero, 1, size_t(kSectorSize - pos % kSectorSize), f);
  }
  if (!close_written_file(f)) {
    report_error("Error: writing the UDF volume to %s failed: %s\n", image_path.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace varn
