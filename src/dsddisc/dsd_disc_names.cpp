// Names on the DSD Disc: the album and file name rule, the disc file name
// of a track and the playlist text.
#include <cstdio>

#include "dsddisc/dsd_disc_plan.h"
#include "fs/udf_dstring.h"
#include "platform/error.h"

namespace varn {

Status check_dsd_name(const std::string& name, const char* subject) {
  if (name.empty()) {
    return make_error("Error: %s is empty\n", subject);
  }
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
    return make_error("Error: %s must not contain path separators: '%s'\n", subject,
                      name.c_str());
  }
  if (name == "." || name == "..") {
    return make_error("Error: reserved %s: '%s'\n", subject, name.c_str());
  }
  return std::nullopt;
}

size_t disc_name_bytes(const std::string& name) {
  return name.empty() ? 0 : udf_identifier(name).size() - 1;
}

namespace {

// The longest leading part of `text` that, followed by `tail`, fits the
// disc's name limit (cut between characters).
std::string fit_before(std::string text, const std::string& tail) {
  while (!text.empty() && disc_name_bytes(text + tail) > kDsdDiscMaxName)
    text = cut_utf8(text, text.size() - 1);
  return text + tail;
}

}  // namespace

std::string disc_file_name(const std::string& source_path) {
  // Only '/' separates folders here; a backslash belongs to the name (and the
  // name rule refuses it, as readers on other systems would split there).
  size_t sep = source_path.rfind('/');
  std::string name = sep == std::string::npos ? source_path : source_path.substr(sep + 1);
  if (disc_name_bytes(name) <= kDsdDiscMaxName) return name;
  size_t dot = name.rfind('.');
  // An extension that alone exceeds the limit cannot be kept.
  if (dot != std::string::npos && disc_name_bytes(name.substr(dot)) <= kDsdDiscMaxName)
    return fit_before(name.substr(0, dot), name.substr(dot));
  return fit_before(name, std::string());
}

std::string playlist_text(const std::string& album, const std::vector<std::string>& names) {
  std::string text = "#Playlist " + album + ".ddp\n";
  for (const std::string& n : names) text += "./" + album + "/" + n + "\n";
  return text;
}

}  // namespace varn
