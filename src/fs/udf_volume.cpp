// The UDF 1.02 volume: descriptor sequences, integrity, anchors, and the
// metadata (File Set Descriptor, directories, File Entries) at the tail of
// the partition behind the file data.
#include "fs/udf_volume.h"

#include <algorithm>

#include "fs/sector_io.h"
#include "platform/error.h"
#include "platform/platform.h"

namespace varn {

namespace {

constexpr uint32_t kMainSequenceLsn = 32;
constexpr uint32_t kReserveSequenceLsn = 48;
constexpr uint32_t kIntegrityLsn = 64;

std::vector<uint8_t> one_block() { return std::vector<uint8_t>(kSectorSize, 0); }

}  // namespace

bool plan_udf_volume(const std::vector<UdfFileEntry>& files, uint32_t partition_start,
                     uint32_t block_count, const std::string& volume_name, UdfVolume& v,
                     ReportLines& lines) {
  v = UdfVolume{};
  const uint32_t P = partition_start;
  if (P <= kUdfFirstAnchorLsn) {
    add_line(lines, ReportStream::Err, "Error: UDF partition start %u must lie after the anchor at LSN %u\n", P,
             kUdfFirstAnchorLsn);
    return false;
  }
  for (const UdfFileEntry& e : files) {
    if (e.is_directory || e.lsn >= P) continue;
    add_line(lines, ReportStream::Err, "Error: UDF file %s/%s starts at LSN %u, before the partition start %u\n",
             e.dir_path.c_str(), e.name.c_str(), e.lsn, P);
    return false;
  }
  const int64_t now = volume_time();
  const CivilTime t = civil_time_utc(now);
  if (Status e = build_udf_tree(files, v.dirs)) {
    add_line(lines, e->stream, "%s", e->text.c_str());
    return false;
  }
  size_t file_entries = 0;
  for (const UdfFileEntry& e : files) {
    if (e.is_directory) continue;
    ++file_entries;
    if (udf_extent_count(e.size) > kUdfMaxShortAds) {
      add_line(lines, ReportStream::Err, "Error: UDF file %s/%s is too large (%llu bytes) for one File Entry\n",
               e.dir_path.c_str(), e.name.c_str(), static_cast<unsigned long long>(e.size));
      return false;
    }
  }
  v.files = files;

  // Partition and metadata sizes.
  uint64_t blocks = block_count;
  uint64_t length = uint64_t(std::max<int64_t>(int64_t(block_count) - int64_t(P) - 1, 64));
  uint64_t dir_blocks = 0;
  for (const UdfDirectory& d : v.dirs) dir_blocks += udf_directory_blocks(d);
  uint64_t m = dir_blocks + (v.dirs.size() - 1) + files.size();
  // Blocks the metadata really occupies: FSD, terminator, root File Entry,
  // directory data, the other directory File Entries, the file File Entries.
  const uint64_t used = 3 + dir_blocks + (v.dirs.size() - 1) + file_entries;
  if (length < m + 8)
    m = std::max<int64_t>(1, int64_t(length) - 4);
  else
    m += 4;
  if (m < used) m = used;
  for (const UdfFileEntry& e : files) {
    if (e.is_directory) continue;
    v.data_end = std::max<uint64_t>(v.data_end, uint64_t(e.lsn - P) + udf_blocks_of(e.size));
  }
  // The metadata lies behind the last file data, so no file reaches into
  // it.
  const uint64_t need = std::max(v.data_end + 4 + m, v.data_end + 256);
  if (length < need) {
    uint64_t grown = blocks + (need - length);
    // The metadata must stay above the file data even when the block count
    // handed in was short of the data.
    grown = std::max<uint64_t>(grown, uint64_t(P) + 1 + v.data_end + 4 + m);
    if (grown > 0xFFFFFFFFull) {
      add_line(lines, ReportStream::Err, "Error: UDF volume would need %llu blocks, more than a 32-bit count\n",
               static_cast<unsigned long long>(grown));
      return false;
    }
    add_line(lines, ReportStream::Out, "  Partition extended: %u +%u = %u blocks (audio data needs room)\n",
             unsigned(blocks), unsigned(grown - blocks), unsigned(grown));
    blocks = grown;
    length = blocks - P - 1;
  }
  v.blocks = uint32_t(blocks);
  v.meta = uint32_t(m);
  const uint32_t B = uint32_t(length - m);

  // Block assignment: root File Entry at B + 2, directory data from B + 3,
  // then the other directory File Entries, then the file File Entries.
  uint32_t next = B + 3;
  for (UdfDirectory& d : v.dirs) {
    d.data_block = next;
    next += udf_directory_blocks(d);
  }
  v.dirs[0].entry_block = B + 2;
  for (size_t i = 1; i < v.dirs.size(); ++i) v.dirs[i].entry_block = next++;
  v.file_block.assign(files.size(), 0);
  for (size_t i = 0; i < files.size(); ++i)
    if (!files[i].is_directory) v.file_block[i] = next++;

  for (const UdfFileEntry& e : files) {
    const uint32_t par = e.lsn >= P ? e.lsn - P : 0;
    add_line(lines, ReportStream::Err, "[UDF] file: %s/%s data_lsn=%u data_length=%llu par_lsn=%u blocks=%u\n",
             e.dir_path.c_str(), e.name.c_str(), e.lsn, static_cast<unsigned long long>(e.size), par,
             udf_blocks_of(e.size));
  }
  add_line(lines, ReportStream::Out, "  UDF metadata at partition tail: base=%u fsd=%u blocks=%d\n", B, B, int(m));

  v.facts.time = t;
  v.facts.time_low = uint32_t(uint64_t(now) & 0xFFFFFFFFu);
  v.facts.name = volume_name;
  v.facts.partition_start = P;
  v.facts.partition_length = uint32_t(length);
  v.facts.base = B;
  v.facts.file_count = uint32_t(files.size());
  v.facts.directory_count = uint32_t(v.dirs.size());
  add_line(lines, ReportStream::Out, "  LVD.contentsUse → par-%u (FSD at par+%u = vol-%u)\n", B, P, B + P);

  // The front of the partition is cleared, but never into file data.
  v.cleared = std::min<uint32_t>(16, B);
  for (const UdfFileEntry& e : files)
    if (!e.is_directory) v.cleared = std::min(v.cleared, e.lsn - P);
  if (v.cleared > 0) add_line(lines, ReportStream::Out, "  Cleared partition front: %u blocks\n", v.cleared);

  // Anchors at 256, N - 256 and N - 1. The middle one is left out where it
  // would land on file data or on the metadata.
  const uint32_t N = v.blocks;
  v.anchors.push_back(kUdfFirstAnchorLsn);
  uint32_t second = kUdfFirstAnchorLsn;
  if (N >= 513) {
    const uint32_t lsn = N - 256;
    const bool on_data = lsn < uint64_t(P) + v.data_end;
    const bool on_meta = lsn >= uint64_t(P) + B && lsn < uint64_t(P) + B + m;
    second = lsn;
    if (!on_data && !on_meta) v.anchors.push_back(lsn);
  }
  if (N - 1 > second && N != 257) v.anchors.push_back(N - 1);
  return true;
}

std::vector<SectorRun> udf_volume_runs(const UdfVolume& v) {
  std::vector<SectorRun> runs;
  const UdfVolumeFacts& facts = v.facts;
  const uint32_t P = facts.partition_start;
  const uint32_t B = facts.base;
  auto add = [&runs](uint32_t lsn, std::vector<uint8_t> bytes, std::string name) {
    runs.push_back({lsn, std::move(bytes), std::move(name)});
  };

  add(kUdfFirstAnchorLsn, one_block(), "UDF anchor");
  udf_make_anchor(runs.back().bytes.data(), kUdfFirstAnchorLsn);
  add(kMainSequenceLsn, udf_volume_descriptor_sequence(facts, kMainSequenceLsn), "UDF main descriptor sequence");
  add(kReserveSequenceLsn, udf_volume_descriptor_sequence(facts, kReserveSequenceLsn),
      "UDF reserve descriptor sequence");
  add(kIntegrityLsn, one_block(), "UDF integrity descriptor");
  udf_make_integrity(runs.back().bytes.data(), facts, kIntegrityLsn);
  add(kIntegrityLsn + 1, one_block(), "UDF integrity terminator");
  udf_make_terminating(runs.back().bytes.data(), kIntegrityLsn + 1);
  if (v.cleared > 0)
    add(P, std::vector<uint8_t>(size_t(v.cleared) * kSectorSize, 0), "UDF partition front");

  auto dir_entry = [&](size_t i) {
    const UdfDirectory& d = v.dirs[i];
    UdfFileEntryFields fe;
    fe.directory = true;
    fe.link_count = i == 0 ? 2 : 1;
    fe.information_length = d.data_size;
    fe.unique_id = i == 0 ? 0 : i + 1;
    fe.extents = udf_split_extent(d.data_size, d.data_block);
    add(P + d.entry_block, one_block(), "UDF directory File Entry");
    udf_make_file_entry(runs.back().bytes.data(), fe, facts.time, d.entry_block);
  };

  add(P + B, one_block(), "UDF File Set Descriptor");
  udf_make_file_set(runs.back().bytes.data(), facts);
  add(P + B + 1, one_block(), "UDF File Set terminator");
  udf_make_terminating(runs.back().bytes.data(), B + 1);
  dir_entry(0);
  for (size_t i = 0; i < v.dirs.size(); ++i) {
    const UdfDirectory& d = v.dirs[i];
    std::vector<uint8_t> data;
    udf_append_fid(data, 0x0A, "", v.dirs[d.parent].entry_block, d.data_block);
    for (size_t c : d.children) udf_append_fid(data, 0x02, v.dirs[c].name, v.dirs[c].entry_block, d.data_block);
    for (size_t fi : d.files) udf_append_fid(data, 0x00, v.files[fi].name, v.file_block[fi], d.data_block);
    data.resize(size_t(udf_directory_blocks(d)) * kSectorSize, 0);
    add(P + d.data_block, std::move(data), "UDF directory");
  }
  for (size_t i = 1; i < v.dirs.size(); ++i) dir_entry(i);
  uint64_t unique = v.dirs.size() + 1;
  for (size_t i = 0; i < v.files.size(); ++i) {
    const UdfFileEntry& e = v.files[i];
    if (e.is_directory) continue;
    UdfFileEntryFields fe;
    fe.directory = false;
    fe.link_count = 1;
    fe.information_length = e.size;
    fe.unique_id = unique++;
    fe.extents = udf_split_extent(e.size, e.lsn - P);
    add(P + v.file_block[i], one_block(), "UDF File Entry of " + e.name);
    udf_make_file_entry(runs.back().bytes.data(), fe, facts.time, v.file_block[i]);
  }
  for (size_t k = 1; k < v.anchors.size(); ++k) {
    add(v.anchors[k], one_block(), "UDF anchor");
    udf_make_anchor(runs.back().bytes.data(), v.anchors[k]);
  }
  std::stable_sort(runs.begin(), runs.end(), [](const SectorRun& a, const SectorRun& b) { return a.lsn < b.lsn; });
  return runs;
}

}  // namespace varn
