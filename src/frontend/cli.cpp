#include "frontend/cli.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "frontend/host.h"
#include "frontend/usage.h"
#include "metadata/codes.h"
#include "platform/platform.h"

namespace varn {

void set_simd_enabled(bool on);  // DST encoder's process-wide SIMD switch

int32_t parse_int32(const std::string& text, const std::string& option) {
  // The whole text is the number: an optional sign and decimal digits,
  // nothing before or after them.
  size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  if (i == text.size()) throw InvalidNumber(text, option);
  for (size_t k = i; k < text.size(); ++k)
    if (text[k] < '0' || text[k] > '9') throw InvalidNumber(text, option);
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) throw InvalidNumber(text, option);
  return static_cast<int32_t>(v);
}

namespace {

struct Parser {
  const std::vector<std::string>& a;
  PackJob& job;
  size_t i = 1;
  int title_counter = 1, artist_counter = 1, album_counter = 1, isrc_counter = 1;

  bool has_next() const { return i + 1 < a.size(); }

  // Value option matching: "NAME VALUE" or "NAME=VALUE". A separate value
  // may not look like an option; one that begins with '-' and a digit
  // (-1:Intro, -5) is a value all the same.
  bool value(const char* name, std::string& out) {
    const std::string& arg = a[i];
    const std::string n = name;
    if (arg == n) {
      if (!has_next()) throw InvalidOption(n + " needs a value");
      const std::string& next = a[i + 1];
      if (!next.empty() && next[0] == '-' && !(next.size() > 1 && next[1] >= '0' && next[1] <= '9'))
        throw InvalidOption(n + " needs a value (for one that begins with '-', write " + n + "=" + next + ")");
      out = a[++i];
      return true;
    }
    if (arg.size() > n.size() && arg.compare(0, n.size(), n) == 0 && arg[n.size()] == '=') {
      out = arg.substr(n.size() + 1);
      return true;
    }
    return false;
  }

  // The N of an N:TEXT or N:CODE form; tracks are numbered from 1 (the
  // last track is checked once the inputs are known).
  static int32_t track_number(const std::string& text, const char* option) {
    const int32_t n = parse_int32(text, option);
    if (n < 1)
      throw InvalidOption(std::string(option) + ": track number " + std::to_string(n) +
                          " is out of range (tracks are numbered from 1)");
    return n;
  }

  // N:TEXT forms.
  void n_text(const std::string& v, const char* option, std::map<int32_t, std::string>& map, int& counter) {
    size_t colon = v.find(':');
    if (colon != std::string::npos) {
      int32_t n = track_number(v.substr(0, colon), option);
      std::string text = v.substr(colon + 1);
      if (!text.empty()) map[n - 1] = text;
      return;
    }
    if (!v.empty()) map[counter++ - 1] = v;
  }

  void isrc(const std::string& v) {
    size_t colon = v.find(':');
    if (colon != std::string::npos) {
      int32_t n = track_number(v.substr(0, colon), "--isrc");
      std::string code = normalize_isrc(v.substr(colon + 1));
      if (code.empty()) return;
      if (isrc_shape_ok(code)) {
        job.track_isrcs[n - 1] = code;
      } else {
        std::fprintf(stderr,
                     "  [ISRC] track %d: '%s' is not a valid ISRC (expected CC-OOO-YY-DDDDD, 12 chars), ignored\n",
                     n, code.c_str());
      }
      return;
    }
    if (v.empty()) return;
    std::string code = normalize_isrc(v);
    if (isrc_shape_ok(code)) {
      job.track_isrcs[isrc_counter - 1] = code;
    } else {
      std::fprintf(stderr,
                   "  [ISRC] entry %d: '%s' is not a valid ISRC (expected CC-OOO-YY-DDDDD, 12 chars), ignored\n",
                   isrc_counter, code.c_str());
    }
    ++isrc_counter;
  }

  // Returns an exit code when the argument ends the run.
  std::optional<int> step() {
    const std::string& arg = a[i];
    std::string v;
    if (arg == "--dsd-disc") { job.dsd_disc = true; return std::nullopt; }
    if (arg == "--no-playlist") { job.playlists = false; return std::nullopt; }
    if (arg == "--no-encode") { job.no_encode = true; return std::nullopt; }
    if (arg == "--allow-meta-errors") { job.allow_meta_errors = true; return std::nullopt; }
    if (arg == "--dst-stereo") { job.dst_stereo = true; return std::nullopt; }
    if (arg == "--no-manifest") { job.no_manifest = true; return std::nullopt; }
    if (arg == "--verify" || arg == "-o") {
      // The next argument, whatever its first character.
      if (!has_next()) throw InvalidOption(arg + " needs a value");
      (arg == "-o" ? job.output_path : job.verify_path) = a[++i];
      return std::nullopt;
    }
    if (arg == "-i") {
      if (has_next()) job.inputs.push_back(a[++i]);
      return std::nullopt;
    }
    if (value("--title", v)) { job.disc_title = v; return std::nullopt; }
    if (value("--track-album", v)) { n_text(v, "--track-album", job.track_albums, album_counter); return std::nullopt; }
    if (arg == "--no-simd") { set_simd_enabled(false); return std::nullopt; }
    if (arg == "--dst-fast") { job.dst_fast = true; return std::nullopt; }
    if (value("--dst-threads", v)) {
      int32_t n = parse_int32(v, "--dst-threads");
      job.dst_threads = static_cast<uint32_t>(n < 0 ? 0 : (n > 64 ? 64 : n));
      return std::nullopt;
    }
    if (value("--dst-compression", v)) {
      int32_t n = parse_int32(v, "--dst-compression");
      job.dst_order = static_cast<uint32_t>(n < 1 ? 1 : (n > 128 ? 128 : n));
      job.dst_order_given = true;
      return std::nullopt;
    }
    if (value("--pause", v)) {
      int32_t n = parse_int32(v, "--pause");
      if (n < 0) throw InvalidOption("--pause must not be negative (got " + std::to_string(n) + " frames)");
      job.pause_frames = n;
      return std::nullopt;
    }
    if (value("--album", v)) { job.album = v; return std::nullopt; }
    if (value("--artist", v)) { job.artist = v; return std::nullopt; }
    if (value("--cover", v)) { job.cover_path = v; return std::nullopt; }
    if (value("--track-title", v)) { n_text(v, "--track-title", job.track_titles, title_counter); return std::nullopt; }
    struct Field { const char* name; std::string PackJob::*field; };
    static const Field fields[] = {
        {"--genre", &PackJob::genre},         {"--catalog", &PackJob::catalog},
        {"--year", &PackJob::year},           {"--copyright", &PackJob::copyright},
        {"--disc-total", &PackJob::disc_total}, {"--disc", &PackJob::disc_number},
        {"--label", &PackJob::label},         {"--composer", &PackJob::composer},
        {"--conductor", &PackJob::conductor}, {"--orchestra", &PackJob::orchestra},
    };
    for (const Field& f : fields) {
      if (value(f.name, v)) { job.*(f.field) = v; return std::nullopt; }
    }
    if (value("--barcode", v)) { job.barcode = normalize_barcode(v); return std::nullopt; }
    if (value("--date", v)) { job.date = v; return std::nullopt; }
    if (value("--track-artist", v)) { n_text(v, "--track-artist", job.track_artists, artist_counter); return std::nullopt; }
    if (value("--cue", v)) { job.cue_path = v; return std::nullopt; }
    if (value("--isrc", v)) { isrc(v); return std::nullopt; }
    if (arg == "-inproc-host") return std::nullopt;
    if (value("-inproc-ctl", v) || value("-inproc-ctl-fn", v)) return std::nullopt;
    if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "Unknown option: %s\n", arg.c_str());
      return 1;
    }
    job.inputs.push_back(arg);
    return std::nullopt;
  }
};

}  // namespace

std::optional<int> parse_command_line(const std::vector<std::string>& args, PackJob& job) {
  const std::string program = args.empty() ? std::string() : args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--api") {
      std::string json = api_schema_json(program);
      std::fwrite(json.data(), 1, json.size(), stdout);
      std::fflush(stdout);
      return 0;
    }
    if (args[i] == "--help" || args[i] == "-h") {
      std::string u = usage_text(program);
      std::fwrite(u.data(), 1, u.size(), stdout);
      std::fflush(stdout);
      return 0;
    }
  }
  if (args.size() <= 1) {
    std::string u = usage_text(program);
    std::fwrite(u.data(), 1, u.size(), stderr);
    return 1;
  }
  Parser p{args, job};
  for (; p.i < args.size(); ++p.i) {
    if (auto code = p.step()) return code;
  }
  const std::string& out = job.output_path;
  job.inspect_dir = !out.empty() && (out.back() == '/' || platform_is_directory(out));
  return std::nullopt;
}

InputKind input_kind(const std::string& name) {
  if (name.size() <= 4) return InputKind::Unknown;
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".dsf") return InputKind::Dsf;
  if (ext == ".dff" || ext == ".dsd") return InputKind::Dsdiff;
  return InputKind::Unknown;
}

std::string sacd_image_name(const std::string& output_path) {
  size_t dot = output_path.rfind('.');
  if (dot != std::string::npos) {
    std::string ext = output_path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".iso") return output_path;
  }
  return output_path + ".iso";
}

std::string dsd_disc_image_name(const std::string& output_path) {
  return output_path.empty() ? std::string("dsd_disc.iso") : output_path;
}

}  // namespace varn
