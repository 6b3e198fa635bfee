#include "support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

ScratchDir::ScratchDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/varn_test_XXXXXX";
  std::vector<char> buf(base.begin(), base.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path = buf.data();
}

ScratchDir::~ScratchDir() {
  if (std::getenv("VARN_KEEP_TEST_FILES")) return;
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

Child start_program(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& env, uint64_t file_size_limit, int err_to) {
  // Everything the child needs is made before the fork: it only redirects,
  // sets the limit and runs the program.
  std::string path = program;
  if (program.find('/') == std::string::npos) {
    std::istringstream dirs(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    for (std::string d; std::getline(dirs, d, ':');)
      if (access((d + "/" + program).c_str(), X_OK) == 0) {
        path = d + "/" + program;
        break;
      }
  }
  std::vector<std::string> argv_s = {program}, env_s = env;
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& x : env) replaced = replaced || entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
    if (!replaced) env_s.push_back(entry);
  }
  std::vector<char*> argv, envp;
  for (auto& a : argv_s) argv.push_back(a.data());
  for (auto& e : env_s) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  auto unlinked_file = [] {
    char name[] = "/tmp/varn_stream_XXXXXX";
    const int fd = mkostemp(name, O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot make a stream file");
    unlink(name);
    return fd;
  };
  Child c;
  c.out_fd = unlinked_file();
  c.err_fd = err_to >= 0 ? -1 : unlinked_file();
  const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  c.pid = fork();
  if (c.pid == 0) {
    dup2(null_fd, 0);
    dup2(c.out_fd, 1);
    dup2(err_to >= 0 ? err_to : c.err_fd, 2);
    const rlimit limit{file_size_limit, file_size_limit};
    if (file_size_limit != 0) setrlimit(RLIMIT_FSIZE, &limit);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(null_fd);
  if (c.pid < 0) throw std::runtime_error("cannot start " + program);
  return c;
}

std::string text_so_far(int fd) {
  std::string text;
  char buf[65536];
  for (ssize_t n; (n = pread(fd, buf, sizeof buf, off_t(text.size()))) > 0;) text.append(buf, size_t(n));
  return text;
}

RunResult finish(const Child& c, int seconds) {
  int status = 0;
  bool ended = false;
  for (int i = 0; !ended && (seconds == 0 || i < seconds * 20); ++i) {
    ended = waitpid(c.pid, &status, seconds == 0 ? 0 : WNOHANG) == c.pid;
    if (!ended && seconds != 0) usleep(50000);
  }
  if (!ended) {
    kill(c.pid, SIGKILL);
    waitpid(c.pid, &status, 0);
    ADD_FAILURE() << "still running " << seconds << " s on";
  }
  RunResult r;
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = text_so_far(c.out_fd);
  close(c.out_fd);
  if (c.err_fd >= 0) {
    r.err = text_so_far(c.err_fd);
    close(c.err_fd);
  }
  return r;
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env) {
  return finish(start_program(program, args, env));
}

RunResult run_varntessel(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  return run_program(VARN_TEST_VARNTESSEL, args, env);
}

bool dsdgen(const std::vector<std::string>& args) {
  return run_program(VARN_TEST_DSDGEN, args).exit_code == 0;
}

RunResult run_shell(const std::string& command_line) {
  return run_program("/bin/sh", {"-c", command_line});
}

bool have_program(const std::string& name) {
  return run_shell("command -v " + name + " >/dev/null 2>&1").exit_code == 0;
}

std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << text;
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

Snapshot snapshot(const std::string& dir) {
  Snapshot s;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    struct stat st {};
    lstat(e.path().c_str(), &st);
    // A folder changes only through its entries.
    s[e.path().string().substr(dir.size())] =
        S_ISDIR(st.st_mode) ? "folder"
                            : std::to_string(st.st_mode & S_IFMT) + " " + std::to_string(st.st_size) + "@" +
                                  std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
  }
  return s;
}

std::string changes(const Snapshot& before, const Snapshot& after) {
  std::string out;
  for (const auto& [name, state] : before) {
    const auto it = after.find(name);
    if (it == after.end()) out += " removed " + name;
    else if (it->second != state) out += " changed " + name;
  }
  for (const auto& [name, state] : after)
    if (!before.count(name)) out += " added " + name;
  return out;
}

}  // namespace testsupport
