#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env, const std::string& stdin_text) {
  int out_pipe[2], err_pipe[2], in_pipe[2];
  if (pipe(out_pipe) || pipe(err_pipe) || pipe(in_pipe)) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err_pipe[1], 2);
  for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], in_pipe[0], in_pipe[1]})
    posix_spawn_file_actions_addclose(&fa, fd);

  std::vector<std::string> argv_s;
  argv_s.push_back(program);
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env_s;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool overridden = false;
    for (const auto& x : env) {
      auto eq = x.find('=');
      if (entry.compare(0, eq + 1, x, 0, eq + 1) == 0) overridden = true;
    }
    if (!overridden) env_s.push_back(entry);
  }
  for (const auto& x : env) env_s.push_back(x);
  std::vector<char*> envp;
  for (auto& e : env_s) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid;
  int rc = posix_spawnp(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(out_pipe[1]);
  close(err_pipe[1]);
  close(in_pipe[0]);
  if (rc != 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    close(in_pipe[1]);
    throw std::runtime_error("cannot start " + program);
  }
  signal(SIGPIPE, SIG_IGN);
  if (!stdin_text.empty()) {
    ssize_t w = write(in_pipe[1], stdin_text.data(), stdin_text.size());
    (void)w;
  }
  close(in_pipe[1]);

  RunResult r;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      } else {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) r.exit_code = 128 + WTERMSIG(status);
  return r;
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
