#include "fs/iso9660_tree.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "fs/iso9660_records.h"
#include "fs/sector_io.h"
#include "platform/report_lines.h"

namespace varn {

namespace {

std::string dir_part(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string last_part(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

size_t level_of(const std::string& full_path) {
  return full_path.empty() ? 0 : size_t(std::count(full_path.begin(), full_path.end(), '/')) + 1;
}

// A path whose components are all non-empty and short enough for a record.
bool check_path(const std::string& path, ReportLines& lines) {
  size_t begin = 0;
  while (true) {
    size_t slash = path.find('/', begin);
    size_t end = slash == std::string::npos ? path.size() : slash;
    size_t len = end - begin;
    bool is_file = slash == std::string::npos;
    if (len == 0) {
      add_line(lines, ReportStream::Err, "Error: ISO 9660 path has an empty component: \"%s\"\n", path.c_str());
      return false;
    }
    size_t id_len = is_file ? len + 2 : len;
    if (id_len > kIsoMaxIdentifier) {
      add_line(lines, ReportStream::Err, "Error: ISO 9660 name too long (%zu bytes, at most %zu): \"%s\"\n",
                   len, is_file ? kIsoMaxIdentifier - 2 : kIsoMaxIdentifier, path.c_str());
      return false;
    }
    if (is_file) return true;
    begin = slash + 1;
  }
}

}  // namespace

uint64_t iso_pack_records(const std::vector<uint32_t>& lengths, std::vector<uint64_t>* offsets) {
  uint64_t at = 0;
  for (uint32_t len : lengths) {
    if (at % kSectorSize + len > kSectorSize) at = (at / kSectorSize + 1) * kSectorSize;
    if (offsets) offsets->push_back(at);
    at += len;
  }
  return at;
}

uint32_t iso_path_table_size(const std::vector<IsoDirectory>& dirs) {
  uint32_t total = 0;
  for (const IsoDirectory& d : dirs)
    total += d.full_path.empty() ? iso_path_record_length(1)
                                 : iso_path_record_length(iso_directory_identifier(d.name).size());
  return total;
}

bool plan_iso_tree(const std::vector<IsoFileEntry>& files, uint32_t dir_limit,
                   std::vector<IsoDirectory>& dirs, ReportLines& lines) {
  dirs.clear();
  for (const IsoFileEntry& f : files)
    if (!check_path(f.path, lines)) return false;

  // Every directory named by a file's directory part, and all its ancestors.
  std::map<std::string, size_t> paths;  // full path -> level
  for (const IsoFileEntry& f : files) {
    std::string d = dir_part(f.path);
    while (!d.empty() && !paths.count(d)) {
      paths[d] = level_of(d);
      d = dir_part(d);
    }
  }

  // Root first, then level by level; inside a level by parent number, then
  // by identifier.
  IsoDirectory root;
  root.number = 1;
  dirs.push_back(root);
  std::map<std::string, size_t> index;  // full path -> position in dirs
  index[""] = 0;
  size_t max_level = 0;
  for (const auto& [p, lvl] : paths) max_level = std::max(max_level, lvl);
  for (size_t lvl = 1; lvl <= max_level; ++lvl) {
    std::vector<IsoDirectory> level;
    for (const auto& [p, l] : paths) {
      if (l != lvl) continue;
      IsoDirectory d;
      d.full_path = p;
      d.name = last_part(p);
      d.parent = index.at(dir_part(p));
      level.push_back(d);
    }
    std::stable_sort(level.begin(), level.end(), [](const IsoDirectory& a, const IsoDirectory& b) {
      if (a.parent != b.parent) return a.parent < b.parent;
      std::string ia = iso_directory_identifier(a.name), ib = iso_directory_identifier(b.name);
      if (ia != ib) return ia < ib;
      return a.full_path < b.full_path;
    });
    for (IsoDirectory& d : level) {
      if (dirs.size() >= 0xFFFF) {
        add_line(lines, ReportStream::Err, "Error: ISO 9660 volume has too many directories\n");
        dirs.clear();
        return false;
      }
      d.number = uint16_t(dirs.size() + 1);
      index[d.full_path] = dirs.size();
      dirs[d.parent].children.push_back(dirs.size());
      dirs.push_back(d);
    }
  }
  for (size_t i = 0; i < files.size(); ++i) dirs[index.at(dir_part(files[i].path))].files.push_back(i);

  // Sizes: ".", "..", the subdirectories, then one record per file extent.
  // A file without data (lsn 0, not embedded) gets no record but keeps its
  // room in the directory.
  for (IsoDirectory& d : dirs) {
    std::vector<uint32_t> all = {34, 34};
    for (size_t c : d.children) all.push_back(iso_record_length(iso_directory_identifier(dirs[c].name).size()));
    std::vector<uint32_t> written = all;
    for (size_t fi : d.files) {
      const IsoFileEntry& f = files[fi];
      uint32_t len = iso_record_length(iso_file_identifier(last_part(f.path)).size());
      bool has_record = !f.content.empty() || f.lsn != 0;
      uint64_t size = f.content.empty() ? f.size : f.content.size();
      uint64_t n = iso_extent_count(size);
      for (uint64_t k = 0; k < n; ++k) {
        all.push_back(len);
        if (has_record) written.push_back(len);
      }
    }
    uint64_t end = std::max(iso_pack_records(all, nullptr), iso_pack_records(written, nullptr));
    uint64_t size = sectors_of(end) * kSectorSize;
    if (size > 0xFFFFF800u) {
      add_line(lines, ReportStream::Err, "Error: ISO 9660 directory \"%s\" is too large\n", d.full_path.c_str());
      dirs.clear();
      return false;
    }
    d.size = uint32_t(size);
  }
  if (dirs[0].size > kSectorSize) {
    add_line(lines, ReportStream::Err, "Error: ISO 9660 root directory needs %u bytes, more than one sector (too many "
                 "files)\n",
                 dirs[0].size);
    dirs.clear();
    return false;
  }
  uint32_t table = iso_path_table_size(dirs);
  if (table > kSectorSize) {
    add_line(lines, ReportStream::Err, "Error: ISO 9660 path table needs %u bytes, more than one sector (too many "
                 "directories)\n",
                 table);
    dirs.clear();
    return false;
  }

  // Sectors: the root at 68, the others one after another.
  uint64_t next = kIsoRootLsn;
  for (IsoDirectory& d : dirs) {
    d.lsn = uint32_t(next);
    next += d.size / kSectorSize;
  }
  if (next > dir_limit) {
    add_line(lines, ReportStream::Err, "Error: ISO 9660 directories need sectors %u..%llu, which reaches LSN %u (too many "
                 "files)\n",
                 kIsoRootLsn, static_cast<unsigned long long>(next - 1), dir_limit);
    dirs.clear();
    return false;
  }
  return true;
}

}  // namespace varn
