#include "platform/staged_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <tuple>
#include <utility>

#include "platform/exit_cleanup.h"
#include "platform/small_file.h"

namespace varn {

namespace {

std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A symbolic link is written through, as opening the name would: the new
// file replaces the file the link points at and the link stays.
std::string landing_place(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
  char resolved[PATH_MAX];
  if (::realpath(target.c_str(), resolved)) return resolved;
  return target;  // a dangling link is replaced itself
}

// A new file beside `place`, readable as the final file will be: the mode
// of the file it replaces, else the usual mode under the umask.
int create_temp(const std::string& place, std::string& temp) {
  std::string stem = base_of(place);
  if (stem.size() > 200) stem.resize(200);  // room for the suffix in a 255-byte name
  const std::string prefix = folder_of(place) + "/" + stem + ".";
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  std::mt19937 rng(rd());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(6, 'a');
    for (char& c : suffix) c = alphabet[rng() % 36];
    temp = prefix + suffix + ".part";
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      struct stat old {};
      if (::stat(place.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

void drop(StagedFile& f) {
  if (!f.temp.empty()) ::unlink(f.temp.c_str());
  unguard_path(f.guard);
  f.guard = -1;
  f.temp.clear();
}

// Locks the folders the outputs land in, in one fixed order so that two
// runs cannot each hold one and wait for the other.
std::vector<int> lock_folders(const std::vector<StagedFile>& files) {
  std::vector<std::pair<FileIdentity, std::string>> folders;
  for (const StagedFile& f : files) {
    FileIdentity id;
    const std::string folder = folder_of(f.place);
    if (file_identity(folder, id)) folders.emplace_back(id, folder);
  }
  std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first.device, a.first.inode) < std::tie(b.first.device, b.first.inode);
  });
  std::vector<int> fds;
  for (size_t i = 0; i < folders.size(); ++i) {
    if (i > 0 && folders[i].first.device == folders[i - 1].first.device &&
        folders[i].first.inode == folders[i - 1].first.inode)
      continue;
    const int fd = ::open(folders[i].second.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    // Where the file system has no such locks the renames go ahead without.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    fds.push_back(fd);
  }
  return fds;
}

}  // namespace

bool file_identity(const std::string& path, FileIdentity& id) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool same_file(const std::string& a, const std::string& b) {
  FileIdentity x, y;
  return file_identity(a, x) && file_identity(b, y) && x.device == y.device && x.inode == y.inode;
}

bool free_bytes_at(const std::string& path, uint64_t& bytes) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0 && ::statvfs(folder_of(path).c_str(), &vfs) != 0) return false;
  bytes = static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
  return true;
}

bool room_for_image(const std::string& temp, uint64_t needed, const std::string& target) {
  uint64_t free_bytes = 0;
  if (!free_bytes_at(temp, free_bytes) || free_bytes >= needed) return true;
  std::fprintf(stderr, "Error: the image %s needs %llu bytes, but its file system has only %llu bytes free\n",
               target.c_str(), static_cast<unsigned long long>(needed), static_cast<unsigned long long>(free_bytes));
  return false;
}

OutputSet::~OutputSet() { discard_outputs(*this); }

std::string stage_output(OutputSet& set, const std::string& target) {
  StagedFile f;
  f.target = target;
  f.place = landing_place(target);
  struct stat st {};
  const bool exists = ::stat(f.place.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "Error: cannot write %s: it is a directory\n", target.c_str());
    return std::string();
  }
  // A device, a pipe or a socket cannot be replaced by a file: renaming
  // over /dev/null would do just that.
  if (exists && !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "Error: cannot write %s: it is not a regular file\n", target.c_str());
    return std::string();
  }
  // A file its owner made read-only stays so: replacing it by a rename
  // would get round what opening it for writing refuses.
  if (exists && ::access(f.place.c_str(), W_OK) != 0) {
    std::fprintf(stderr, "Error: cannot write %s: %s\n", target.c_str(), std::strerror(errno));
    return std::string();
  }
  const int fd = create_temp(f.place, f.temp);
  if (fd < 0) {
    std::fprintf(stderr, "Error: cannot create a file beside %s: %s\n", target.c_str(), std::strerror(errno));
    return std::string();
  }
  f.guard = guard_path(f.temp);
  ::close(fd);
  set.files.push_back(f);
  return f.temp;
}

bool stage_output_bytes(OutputSet& set, const std::string& target, const std::string& bytes) {
  const std::string temp = stage_output(set, target);
  if (temp.empty()) return false;
  const bool ok = write_small_file(temp, bytes);
  if (!ok) std::fprintf(stderr, "Error: cannot write %s: %s\n", target.c_str(), std::strerror(errno));
  return ok;
}

bool commit_outputs(OutputSet& set) {
  const std::vector<int> locks = lock_folders(set.files);
  bool ok = true;
  for (auto f = set.files.rbegin(); f != set.files.rend(); ++f) {
    if (::rename(f->temp.c_str(), f->place.c_str()) != 0) {
      std::fprintf(stderr, "Error: cannot put %s in place: %s\n", f->target.c_str(), std::strerror(errno));
      ok = false;
      break;
    }
    unguard_path(f->guard);
    f->guard = -1;
    f->temp.clear();
  }
  for (int fd : locks) ::close(fd);
  if (!ok) {
    discard_outputs(set);
    return false;
  }
  set.committed = true;
  return true;
}

void discard_outputs(OutputSet& set) {
  for (StagedFile& f : set.files) drop(f);
}

}  // namespace varn
