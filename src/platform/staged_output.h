// Outputs written beside their targets under temporary names and renamed
// into place only once every output of the run is complete, so that a
// failed, interrupted or killed run leaves the earlier outputs as they
// were and never a partial file under a final name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// Device and inode of the file a path names, links followed.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
};
// False when nothing can be found under the path.
bool file_identity(const std::string& path, FileIdentity& id);
// True when both paths exist and name one file (through links too).
bool same_file(const std::string& a, const std::string& b);

// Bytes an unprivileged writer may still use on the file system that holds
// (or would hold) `path`. False when it cannot be learnt.
bool free_bytes_at(const std::string& path, uint64_t& bytes);

// Whether `needed` bytes fit the file system of the staged file `temp`
// that stands for the image `target`; says both figures when they do not.
// True when the free space cannot be learnt (the writes are checked).
bool room_for_image(const std::string& temp, uint64_t needed, const std::string& target);

struct StagedFile {
  std::string target;  // the name the run was asked to write
  std::string place;   // where it lands: the target, a symbolic link followed
  std::string temp;    // the temporary file beside `place`
  int guard = -1;      // slot in the signal clean-up list
};

// The outputs of one run. Whatever has not been committed is removed when
// the set ends, whichever way the run ends.
struct OutputSet {
  std::vector<StagedFile> files;
  bool committed = false;
  OutputSet() = default;
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;
  ~OutputSet();
};

// Creates the empty temporary file that stands for `target` until the
// commit and returns its path; "" after printing why.
std::string stage_output(OutputSet& set, const std::string& target);

// Stages `target` with `bytes` as its whole content; every write, the
// flush and the close are checked. False after printing why.
bool stage_output_bytes(OutputSet& set, const std::string& target, const std::string& bytes);

// Renames every staged file onto its target, the first staged last, while
// holding a lock on their folders so that two runs replacing the same
// outputs do not interleave. False after printing why.
bool commit_outputs(OutputSet& set);

// Removes every temporary file of the set that has not been committed.
void discard_outputs(OutputSet& set);

}  // namespace varn
