#include "support/sacd_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "audio/dsdiff_reader.h"
#include "audio/dsf_reader.h"
#include "support/test_support.h"

namespace testsupport {

std::string sacd_reader() {
  const char* path = std::getenv("VARN_SACD_READER");
  if (!path || !*path || access(path, X_OK) != 0) return {};
  return path;
}

std::string sacd_reader_skip_reason() {
  const char* path = std::getenv("VARN_SACD_READER");
  if (!path || !*path)
    return "VARN_SACD_READER is not set, so the images are not read by an independent SACD reader "
           "(build one with shared/peers/build-sacd-reader.sh and set the variable to its path)";
  return std::string("VARN_SACD_READER names no executable file: ") + path;
}

namespace {

// One run of the reader; `signal` is the signal that ended it, 0 when it
// exited.
std::string run_once(const std::string& reader, const std::vector<std::string>& args,
                     const std::string& workdir, int& signal) {
  signal = 0;
  // The reader reports only to a terminal: its output goes to a pseudo
  // terminal of our own. It watches its input for a key that stops an
  // extraction, and looks more often on a busy machine; its input is a pipe
  // that we hold open and never write to, so that it never finds one (the
  // end of /dev/null, or the terminal itself, sometimes counts as a key).
  int input[2];
  if (pipe(input) != 0) return "cannot make a pipe";
  std::vector<std::string> argv_s = {reader};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "cannot open a pseudo terminal";
  const std::string slave_name = ptsname(master);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int slave = open(slave_name.c_str(), O_RDWR);
    if (slave < 0 || chdir(workdir.c_str()) != 0) _exit(127);
    dup2(input[0], 0);
    dup2(slave, 1);
    dup2(slave, 2);
    close(input[0]);
    close(input[1]);
    close(master);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(input[0]);
  // The slave stays open here too: when the reader's side closes first, a
  // loaded kernel may report the hang-up before it has handed over the last
  // lines, which cut a listing short. Instead, read until the reader has
  // exited and the terminal has stayed quiet for a while.
  const int keep = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
  std::string out;
  char buf[4096];
  int status = 0;
  bool exited = pid <= 0;
  for (;;) {
    pollfd p{master, POLLIN, 0};
    const int ready = poll(&p, 1, 250);
    if (ready < 0 && errno == EINTR) continue;
    if (ready > 0 && (p.revents & POLLIN)) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) {
        out.append(buf, size_t(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
    }
    if (!exited) exited = waitpid(pid, &status, WNOHANG) == pid;
    if (exited && ready <= 0) break;
    if (ready > 0 && !(p.revents & POLLIN)) break;  // hang-up with nothing left
  }
  if (keep >= 0) close(keep);
  close(master);
  if (!exited) waitpid(pid, &status, 0);
  close(input[1]);
  signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  std::replace(out.begin(), out.end(), '\r', '\n');
  return out;
}

}  // namespace

std::string run_sacd_reader(const std::string& reader, const std::vector<std::string>& args,
                            const std::string& workdir) {
  std::string crashes;
  for (int attempt = 0;; ++attempt) {
    int signal = 0;
    const std::string out = run_once(reader, args, workdir, signal);
    if (signal == 0) return crashes + out;
    crashes += "[the reader was killed by signal " + std::to_string(signal) + "; run again]\n";
    std::fprintf(stderr, "sacd reader killed by signal %d, run again\n", signal);
    if (attempt == 2) return crashes + out;
  }
}

std::string field(const ReaderFields& fields, const std::string& name) {
  const auto it = fields.find(name);
  return it == fields.end() ? std::string() : it->second;
}

ReaderReport parse_reader_report(const std::string& text) {
  ReaderReport r;
  r.text = text;
  enum { kNone, kDisc, kAlbum, kArea, kTracks } section = kNone;
  std::istringstream in(text);
  std::string line;
  long isrc_track = -1;
  while (std::getline(in, line)) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    const std::string body = line.substr(first);
    if (body.rfind("Disc Information:", 0) == 0) { section = kDisc; continue; }
    if (body.rfind("Album Information:", 0) == 0) { section = kAlbum; continue; }
    if (body.rfind("Area Information [", 0) == 0) {
      r.areas.emplace_back();
      section = kArea;
      continue;
    }
    if (body.rfind("Track list [", 0) == 0 && !r.areas.empty()) { section = kTracks; continue; }
    // Fields are indented with tabs; other lines are the reader's chatter.
    if (line[0] != '\t') continue;
    // "ISRC Track [i]:" names the track; the next line holds the code.
    if (body.rfind("ISRC Track [", 0) == 0 && !r.areas.empty()) {
      isrc_track = std::strtol(body.c_str() + 12, nullptr, 10);
      continue;
    }
    if (isrc_track >= 0) {
      std::vector<ReaderFields>& tracks = r.areas.back().tracks;
      if (size_t(isrc_track) >= tracks.size()) tracks.resize(size_t(isrc_track) + 1);
      tracks[size_t(isrc_track)]["ISRC"] = body;
      isrc_track = -1;
      continue;
    }
    const size_t colon = body.find(": ");
    if (colon == std::string::npos) continue;
    std::string key = body.substr(0, colon);
    const std::string value = body.substr(colon + 2);
    long index = -1;
    const size_t bracket = key.find('[');
    if (bracket != std::string::npos && key.back() == ']') {
      index = std::strtol(key.c_str() + bracket + 1, nullptr, 10);
      key.erase(bracket);
    }
    switch (section) {
      case kDisc: r.disc[key] = value; break;
      case kAlbum: r.album[key] = value; break;
      case kArea: r.areas.back().fields[key] = value; break;
      case kTracks: {
        std::vector<ReaderFields>& tracks = r.areas.back().tracks;
        if (index >= 0 && size_t(index) >= tracks.size()) tracks.resize(size_t(index) + 1);
        if (!tracks.empty()) tracks[index >= 0 ? size_t(index) : tracks.size() - 1][key] = value;
        break;
      }
      case kNone: break;
    }
  }
  return r;
}

ReaderReport read_sacd_info(const std::string& reader, const std::string& iso,
                            const std::string& workdir) {
  return parse_reader_report(run_sacd_reader(reader, {"-i", iso, "-P"}, workdir));
}

ReaderExtraction extract_sacd_area(const std::string& reader, const std::string& iso,
                                   const std::string& dir, bool multichannel, bool dsf) {
  return extract_sacd(reader, iso, dir, {multichannel ? "-m" : "-2", dsf ? "-s" : "-p", "-c"});
}

ReaderExtraction extract_sacd(const std::string& reader, const std::string& iso,
                              const std::string& dir, const std::vector<std::string>& mode) {
  std::vector<std::string> args = {"-i", iso};
  args.insert(args.end(), mode.begin(), mode.end());
  args.insert(args.end(), {"-y", dir});
  ReaderExtraction x;
  // On a busy machine the reader now and then stops on its own after a
  // track ("...stop processing"), whatever the image; that says nothing
  // about the image, so the extraction is run again (same files).
  for (int attempt = 0; attempt < 4; ++attempt) {
    x.text = run_sacd_reader(reader, args, dir);
    if (x.text.find("stop processing") == std::string::npos) break;
  }
  std::istringstream in(x.text);
  std::string line;
  while (std::getline(in, line)) {
    const size_t open = line.find("Processing [");
    if (open != std::string::npos) {
      const size_t close = line.find(']', open);
      ReaderTrackResult t;
      t.file = line.substr(open + 12, close - open - 12);
      if (t.file.empty() || t.file[0] != '/') t.file = dir + "/" + t.file;
      x.tracks.push_back(t);
      continue;
    }
    unsigned long long processed = 0, specified = 0;
    const size_t at = line.find("Processed ");
    if (at != std::string::npos && !x.tracks.empty() &&
        std::sscanf(line.c_str() + at, "Processed %llu audioframes. Duration specified: %llu",
                    &processed, &specified) == 2) {
      x.tracks.back().processed = processed;
      x.tracks.back().specified = specified;
    }
  }
  return x;
}

namespace {

bool read_any(const std::string& path, varn::InputTrack& t) {
  const bool dsf = path.size() > 4 && path.compare(path.size() - 4, 4, ".dsf") == 0;
  return !(dsf ? varn::read_dsf(path, t) : varn::read_dsdiff(path, t));
}

}  // namespace

std::string compare_dsd_audio(const std::string& extracted, const std::string& input) {
  varn::InputTrack a, b;
  if (!read_any(extracted, a)) return "cannot read " + extracted;
  if (!read_any(input, b)) return "cannot read " + input;
  std::ostringstream why;
  if (a.channels != b.channels || a.sample_rate != b.sample_rate)
    why << "format " << a.channels << " ch " << a.sample_rate << " Hz, input " << b.channels << " ch "
        << b.sample_rate << " Hz";
  else if (a.sample_count != b.sample_count)
    why << a.sample_count << " samples, input " << b.sample_count;
  else if (a.audio != b.audio) {
    const size_t n = std::min(a.audio.size(), b.audio.size());
    size_t i = 0;
    while (i < n && a.audio[i] == b.audio[i]) ++i;
    why << "payload differs from byte " << i << " of " << b.audio.size();
  }
  return why.str();
}

}  // namespace testsupport
