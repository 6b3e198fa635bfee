// Names on the DSD Disc: the album and file name rule, the disc file name
// of a track and the playlist text.
#include <cstdio>

#include "dsddisc/dsd_disc_plan.h"

namespace varn {

bool check_dsd_name(const std::string& name, const char* subject) {
  if (name.empty()) {
    std::fprintf(stderr, "Error: %s is empty\n", subject);
    return false;
  }
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
    std::fprintf(stderr, "Error: %s must not contain path separators: '%s'\n", subject,
                 name.c_str());
    return false;
  }
  if (name == "." || name == "..") {
    std::fprintf(stderr, "Error: reserved %s: '%s'\n", subject, name.c_str());
    return false;
  }
  return true;
}

std::string disc_file_name(const std::string& source_path) {
  // Paths typed the Windows way ("C:\Music\a.dsf") are split at "\" too, so
  // that no disc name carries a separator.
  size_t sep = source_path.find_last_of("/\\");
  std::string name = sep == std::string::npos ? source_path : source_path.substr(sep + 1);
  if (name.size() <= kDsdDiscMaxName) return name;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) {
    size_t ext_len = name.size() - dot;
    // An extension that alone exceeds the limit cannot be kept.
    if (ext_len <= kDsdDiscMaxName)
      return name.substr(0, kDsdDiscMaxName - ext_len) + name.substr(dot);
  }
  return name.substr(0, kDsdDiscMaxName);
}

std::string playlist_text(const std::string& album, const std::vector<std::string>& names) {
  std::string text = "#Playlist " + album + ".ddp\n";
  for (const std::string& n : names) text += "./" + album + "/" + n + "\n";
  return text;
}

}  // namespace varn
