// Thin layer over the operating system: file opening by UTF-8 name, 64-bit
// positions, terminal test, temporary files, console set-up and the volume
// time rule. Everything else in the system is portable C++.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace varn {

// Opens a file named by a UTF-8 byte string (native on POSIX).
FILE* platform_fopen(const std::string& path, const char* mode);

// Opens a file to be written from its start, created when missing; its old
// bytes are cut off only when it has any.
FILE* platform_fopen_write(const std::string& path);

// 64-bit seek and tell; 0 / position on success, -1 on failure.
int platform_fseek64(FILE* f, int64_t offset, int whence);
int64_t platform_ftell64(FILE* f);

// Size of an open file in bytes (position restored), -1 on failure.
int64_t platform_file_size(FILE* f);

// True when the path exists and is a directory.
bool platform_is_directory(const std::string& path);

// True when standard input or standard error is a terminal.
bool platform_stdin_is_tty();
bool platform_stderr_is_tty();

// Width of the terminal on standard error in columns, 0 when unknown.
unsigned platform_stderr_columns();

// Temporary directory: TEMP when set and not empty, else TMP, else ".";
// fixed at first use for the whole process (512-byte buffer, cut to fit).
const char* platform_temp_dir();

// Replaces the last "XXXXXX" of the pattern and creates the file
// exclusively (read-write). Returns the descriptor, or -1 with errno set:
// EINVAL for a null pattern or one without "XXXXXX", EEXIST when every name
// tried was taken, else the reason the file could not be created.
int platform_make_unique_file(char* pattern);
int platform_close_fd(int fd);

// A read-write temporary file in platform_temp_dir() that has no name from
// the moment it exists: the system frees it when it is closed, however the
// process ends. Null with errno set when it cannot be made.
FILE* platform_nameless_temp_file();

// Console output set to UTF-8 (native on POSIX: nothing to do).
void platform_set_console_utf8();

// Re-attaches the standard streams to the host's standard handles
// (-inproc-host). POSIX processes share descriptors 0..2 already.
void platform_reattach_std_handles();

// Number of hardware threads, 0 when unknown.
unsigned platform_hardware_threads();

// SOURCE_DATE_EPOCH rule: set, not empty, begins (after blanks, an optional
// sign) with a decimal number that is not negative. Returns true and the
// value, or false.
bool source_date_epoch(int64_t& seconds);

// Volume time: SOURCE_DATE_EPOCH when it qualifies, else the current time.
int64_t volume_time();

// Broken-down time (UTC or local) of a time value.
struct CivilTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
CivilTime civil_time_utc(int64_t t);
CivilTime civil_time_local(int64_t t);

// Character conversion through iconv. Characters the target cannot
// represent become '?', so a text always converts and the loss stays visible.
// Returns false when the conversion is not available or the input is not
// valid in the source encoding.
bool platform_convert(const std::string& in, const char* from_charset,
                      const char* to_charset, std::string& out);

}  // namespace varn
