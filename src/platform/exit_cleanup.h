// Files that must not outlive an interrupted run: while a path is listed
// here, SIGINT, SIGTERM and SIGHUP remove it before the signal takes its
// course. While anything is listed, SIGXFSZ is ignored, so that a file-size
// limit turns into a failed write the run can report instead of killing it.
//
// A run that polls cancel_requested() can instead take the first SIGINT or
// SIGTERM as a request to stop (stop_on_signal): the handler only records
// it, and the run removes its files itself and ends. A second signal, or
// SIGHUP, still removes the listed files at once and takes its course.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// Lists a path; returns its slot, or -1 when the list is full.
int guard_path(const std::string& path);

// Takes a slot off the list (a negative slot is ignored).
void unguard_path(int slot);

// While on, the first SIGINT or SIGTERM is recorded as a stop (see
// platform/cancel.h) instead of ending the process. Only for a caller that
// owns the process: it replaces the process's own handlers until it is
// turned off.
void stop_on_signal(bool on);

// Keeps the handlers in place while nothing is listed, for files that have
// no name to remove: SIGXFSZ then still turns into a failed write. Each hold
// is released once.
void hold_signal_guard();
void release_signal_guard();

// A private temporary file of the run: created exclusively, listed above,
// and removed when the record ends.
struct ScratchFile {
  std::string path;
  int guard = -1;
  ScratchFile() = default;
  ScratchFile(ScratchFile&& other) noexcept;
  ScratchFile& operator=(ScratchFile&& other) noexcept;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile();
};

// Creates the file from a pattern whose first "XXXXXX" is replaced, and
// writes `bytes` into it. False (errno set, nothing left) on failure.
bool make_scratch_file(ScratchFile& file, const std::string& pattern, const std::vector<uint8_t>& bytes);

// Removes the file now.
void remove_scratch_file(ScratchFile& file);

}  // namespace varn
