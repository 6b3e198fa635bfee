// Helpers shared by the test suites: scratch directories, running the
// console program and capturing its streams, whole-file reads and writes.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

// A fresh empty directory under the system temp dir, removed by the
// destructor unless VARN_KEEP_TEST_FILES is set.
struct ScratchDir {
  std::string path;
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

struct RunResult {
  int exit_code = -1;  // exit status, or 128 + signal
  std::string out;     // standard output
  std::string err;     // standard error
};

// A program started in the background (no shell) with standard input from
// /dev/null and its streams in unlinked temporary files.
struct Child {
  int pid = -1;
  int out_fd = -1, err_fd = -1;
};
// `env` adds or replaces entries "NAME=value"; `file_size_limit` (bytes,
// when not 0) caps every file the program writes; standard error goes to
// `err_to` instead of a file when that is given.
Child start_program(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}, uint64_t file_size_limit = 0, int err_to = -1);
// Waits for the child and collects its streams. With `seconds`, a child
// still running after them is killed and the test fails.
RunResult finish(const Child& c, int seconds = 0);
// What a child has written so far to one of its stream files.
std::string text_so_far(int fd);

// Runs a program to its end and captures both streams.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {});

// Runs the console program varntessel.
RunResult run_varntessel(const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {});

// Runs dsdgen with `args`, the last one the file it writes; true on success.
bool dsdgen(const std::vector<std::string>& args);

// Runs a shell command line and captures its streams.
RunResult run_shell(const std::string& command_line);

// True when a program of that name is found on PATH.
bool have_program(const std::string& name);

std::vector<uint8_t> read_file(const std::string& path);
std::string read_text(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
void write_text(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);

// Every entry below a folder, by its name relative to the folder: type,
// size and modification time. Equal snapshots mean that nothing was added,
// removed or written.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::string& dir);
// The entries that differ between two snapshots ("" when none).
std::string changes(const Snapshot& before, const Snapshot& after);

// `n` bytes drawn from std::mt19937 seeded with `seed`.
inline std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = uint8_t(rng());
  return v;
}

// Big- and little-endian readers for byte checks.
inline uint32_t be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t le32(const uint8_t* p) {
  return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}
inline uint16_t le16(const uint8_t* p) { return uint16_t((p[1] << 8) | p[0]); }

}  // namespace testsupport
