// Checking an image against its delivery manifest.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/open_input_file.h"
#include "fs/sector_io.h"
#include "manifest/manifest.h"
#include "manifest/sha256.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/report_lines.h"

namespace varn {

namespace {

struct ExpectedTrack {
  std::string area;
  int number = 0;
  uint64_t start_lsn = 0;
  uint64_t sectors = 0;
  std::string sha256;
  std::string title;
};

struct ExpectedArea {
  std::string name;
  uint64_t start_lsn = 0;
  uint64_t total_sectors = 0;
};

struct Expected {
  bool have_bytes = false;
  uint64_t bytes = 0;
  bool have_sha = false;
  std::string sha256;
  std::vector<ExpectedArea> areas;
  std::vector<ExpectedTrack> tracks;
  bool ends_with_line_feed = false;
};

// Digests compare in lower case, however the manifest spells them.
std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool is_digest(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

uint64_t parse_unsigned(const std::string& text) {
  return std::strtoull(text.c_str(), nullptr, 10);
}

// Reads one line of any length; false at the end of the file. `complete`
// says whether a line feed ended it.
bool read_line(FILE* f, std::string& line, bool& complete) {
  line.clear();
  complete = false;
  int c;
  bool any = false;
  while ((c = std::fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') {
      complete = true;
      break;
    }
    line.push_back(static_cast<char>(c));
  }
  return any;
}

// The value of `key=` among the space-separated words of an area line.
uint64_t word_value(const std::string& line, const std::string& key) {
  const size_t at = line.find(" " + key + "=");
  return at == std::string::npos ? 0 : parse_unsigned(line.substr(at + key.size() + 2));
}

// "track=<area> <number> key=value ... title=<rest of line>"
bool parse_track_line(const std::string& rest, ExpectedTrack& t) {
  const size_t sp1 = rest.find(' ');
  if (sp1 == std::string::npos) return false;
  const size_t sp2 = rest.find(' ', sp1 + 1);
  if (sp2 == std::string::npos) return false;
  t.area = rest.substr(0, sp1);
  t.number = std::atoi(rest.substr(sp1 + 1, sp2 - sp1 - 1).c_str());
  size_t pos = sp2;
  while (pos < rest.size()) {
    while (pos < rest.size() && rest[pos] == ' ') ++pos;
    if (pos >= rest.size()) break;
    const size_t eq = rest.find('=', pos);
    size_t end = rest.find(' ', pos);
    if (end == std::string::npos) end = rest.size();
    if (eq == std::string::npos || eq > end) {  // a word without a value
      pos = end;
      continue;
    }
    const std::string key = rest.substr(pos, eq - pos);
    if (key == "title") {
      t.title = rest.substr(eq + 1);
      break;
    }
    const std::string value = rest.substr(eq + 1, end - eq - 1);
    if (key == "start_lsn") t.start_lsn = parse_unsigned(value);
    else if (key == "sectors") t.sectors = parse_unsigned(value);
    else if (key == "sha256") t.sha256 = lower(value);
    pos = end;
  }
  return true;
}

bool read_manifest(FILE* f, Expected& e) {
  std::string line;
  bool complete = false;
  while (read_line(f, line, complete)) {
    e.ends_with_line_feed = complete;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (starts_with(line, "iso_bytes=")) {
      e.have_bytes = true;
      e.bytes = parse_unsigned(line.substr(10));
    } else if (starts_with(line, "iso_sha256=")) {
      e.sha256 = lower(line.substr(11));
      e.have_sha = is_digest(e.sha256);
    } else if (starts_with(line, "area=")) {
      const size_t space = line.find(' ');
      e.areas.push_back(ExpectedArea{line.substr(5, space == std::string::npos ? std::string::npos : space - 5),
                                     word_value(line, "start_lsn"), word_value(line, "total_sectors")});
    } else if (starts_with(line, "track=")) {
      ExpectedTrack t;
      if (parse_track_line(line.substr(6), t)) e.tracks.push_back(std::move(t));
    }
  }
  return std::ferror(f) == 0;
}

// A manifest cut short loses its last lines: every area must still end
// with its last track, numbered on from 1, and the file with a line feed.
bool complete(const Expected& e) {
  if (!e.ends_with_line_feed) return false;
  for (const ExpectedArea& a : e.areas) {
    int number = 0;
    uint64_t end = 0;
    for (const ExpectedTrack& t : e.tracks) {
      if (t.area != a.name) continue;
      if (t.number != ++number) return false;
      end = t.start_lsn + t.sectors;
    }
    if (number == 0 || end != a.start_lsn + a.total_sectors) return false;
  }
  return true;
}

bool track_checked(const ExpectedTrack& t) { return !t.sha256.empty() && t.sha256 != "-" && t.sectors != 0; }

// True when [start_lsn, start_lsn + sectors) in sectors lies within `size` bytes.
bool range_within(uint64_t start_lsn, uint64_t sectors, uint64_t size) {
  const uint64_t size_sectors = size / kSectorSize;
  if (start_lsn > size_sectors || sectors > size_sectors) return false;
  return start_lsn + sectors <= size_sectors;
}

}  // namespace

Status verify_delivery(const std::string& image_path, const std::string& manifest_path, VerifyReport& report) {
  report = VerifyReport{};
  if (image_path.empty()) return Error{};
  const std::string path = manifest_path.empty() ? manifest_path_for(image_path) : manifest_path;
  FILE* mf = platform_fopen(path, "rb");
  if (!mf) {
    return make_error("[verify] manifest not found: %s\n", path.c_str());
  }
  Expected e;
  const bool read_ok = read_manifest(mf, e);
  std::fclose(mf);
  if (!read_ok) {
    return make_error("[verify] cannot read the manifest: %s\n", path.c_str());
  }
  // Passing a manifest that lost its digest, its tracks or its end would
  // report success for checks never made.
  const char* missing = !e.have_sha         ? "lacks its whole-image hash"
                        : e.tracks.empty()  ? "lacks its track lines"
                        : !complete(e)      ? "is cut short"
                                            : nullptr;
  if (missing) {
    return make_error("[verify] manifest %s: %s\n", missing, path.c_str());
  }

  FILE* image = open_input_file(image_path, "rb");
  if (!image) {
    return make_error("[verify] cannot open ISO: %s\n", image_path.c_str());
  }
  const int64_t size_signed = platform_file_size(image);
  if (size_signed < 0) {
    std::fclose(image);
    return make_error("[verify] cannot get the ISO size: %s\n", image_path.c_str());
  }
  const uint64_t size = static_cast<uint64_t>(size_signed);

  uint64_t to_hash = e.have_sha ? size : 0;
  for (const ExpectedTrack& t : e.tracks)
    if (track_checked(t) && range_within(t.start_lsn, t.sectors, size)) to_hash += t.sectors * kSectorSize;
  progress_begin(ProgressStep::Hashing, to_hash);
  // A read that fails part way ends the hashing step too.
  auto unreadable = [&]() -> Error {
    std::fclose(image);
    progress_end(ProgressStep::Hashing);
    return make_error("[verify] cannot read the ISO: %s\n", image_path.c_str());
  };
  int& mismatches = report.mismatches;
  ReportLines& lines = report.lines;
  if (e.have_bytes && e.bytes != 0 && e.bytes != size) {
    add_line(lines, ReportStream::Err, "[verify] size mismatch: manifest %llu / actual %llu\n",
                 static_cast<unsigned long long>(e.bytes), static_cast<unsigned long long>(size));
    ++mismatches;
  }
  if (e.have_sha) {
    std::string actual;
    if (!sha256_file_range(image, 0, size, actual)) return unreadable();
    if (actual == e.sha256) {
      add_line(lines, ReportStream::Out, "[verify] whole-image SHA256 OK  %s\n", actual.c_str());
    } else {
      add_line(lines, ReportStream::Err, "[verify] whole-image hash mismatch: manifest %s / actual %s\n",
               e.sha256.c_str(), actual.c_str());
      ++mismatches;
    }
  }
  for (const ExpectedTrack& t : e.tracks) {
    if (!track_checked(t)) continue;
    if (!range_within(t.start_lsn, t.sectors, size)) {
      add_line(lines, ReportStream::Err, "[verify] track %s%d range out of bounds\n", t.area.c_str(), t.number);
      ++mismatches;
      continue;
    }
    std::string actual;
    if (!sha256_file_range(image, t.start_lsn * kSectorSize, t.sectors * kSectorSize, actual)) return unreadable();
    if (actual != t.sha256) {
      add_line(lines, ReportStream::Err, "[verify] track %s%d hash mismatch: manifest %s / actual %s (%s)\n",
               t.area.c_str(), t.number, t.sha256.c_str(), actual.c_str(), t.title.c_str());
      ++mismatches;
    }
  }
  std::fclose(image);
  progress_end(ProgressStep::Hashing);
  if (mismatches > 0)
    add_line(lines, ReportStream::Err, "[verify] %d mismatch(es)\n", mismatches);
  else
    add_line(lines, ReportStream::Out, "[verify] all checks passed (%zu tracks)\n", e.tracks.size());
  return std::nullopt;
}

}  // namespace varn
