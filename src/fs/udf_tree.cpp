#include "fs/udf_tree.h"

#include <cstdio>
#include <map>

#include "fs/udf_descriptors.h"
#include "fs/udf_dstring.h"
#include "platform/error.h"

namespace varn {

namespace {

constexpr size_t kMaxIdentifier = 255;  // the identifier's length is one byte

std::string parent_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string last_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

Status check_name(const std::string& name, const std::string& where) {
  if (name.empty()) return make_error("Error: UDF name is empty in \"%s\"\n", where.c_str());
  const size_t id = udf_identifier(name).size();
  if (id > kMaxIdentifier) {
    return make_error("Error: UDF name too long (%zu bytes as stored, at most %zu): \"%s\"\n", id,
                      kMaxIdentifier, name.c_str());
  }
  return std::nullopt;
}

}  // namespace

Status build_udf_tree(const std::vector<UdfFileEntry>& files, std::vector<UdfDirectory>& dirs) {
  dirs.clear();
  dirs.push_back(UdfDirectory{});
  std::map<std::string, size_t> index;
  index[""] = 0;
  for (const UdfFileEntry& e : files) {
    const std::string& p = e.dir_path;
    if (p.empty()) continue;
    size_t begin = 0;
    while (true) {
      size_t slash = p.find('/', begin);
      size_t end = slash == std::string::npos ? p.size() : slash;
      std::string full = p.substr(0, end);
      if (!index.count(full)) {
        UdfDirectory d;
        d.full_path = full;
        d.name = last_of(full);
        if (Status e = check_name(d.name, p)) return e;
        d.parent = index.at(parent_of(full));
        index[full] = dirs.size();
        dirs[d.parent].children.push_back(dirs.size());
        dirs.push_back(d);
      }
      if (slash == std::string::npos) break;
      begin = slash + 1;
    }
  }
  for (size_t i = 0; i < files.size(); ++i) {
    const UdfFileEntry& e = files[i];
    if (e.is_directory) continue;
    if (Status bad = check_name(e.name, e.dir_path + "/" + e.name)) return bad;
    dirs[index.at(e.dir_path)].files.push_back(i);
  }
  for (UdfDirectory& d : dirs) {
    uint64_t size = udf_fid_length(std::string());
    for (size_t c : d.children) size += udf_fid_length(dirs[c].name);
    for (size_t f : d.files) size += udf_fid_length(files[f].name);
    if (size > kUdfMaxExtentBytes) return make_error("Error: UDF directory \"%s\" is too large\n", d.full_path.c_str());
    d.data_size = uint32_t(size);
  }
  return std::nullopt;
}

}  // namespace varn
