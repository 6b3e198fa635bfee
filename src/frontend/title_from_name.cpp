#include "frontend/title_from_name.h"

namespace varn {

std::string base_name(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string title_from_file_name(const std::string& path) {
  std::string name = base_name(path);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  size_t digits = 0;
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
  if (digits > 0 && digits < name.size()) {
    char sep = name[digits];
    if (sep == ' ' || sep == '-' || sep == '.' || sep == '_') {
      size_t p = digits + 1;
      while (p < name.size() && (name[p] == ' ' || name[p] == '_' || name[p] == '-')) ++p;
      return name.substr(p);
    }
  }
  return name;
}

}  // namespace varn
