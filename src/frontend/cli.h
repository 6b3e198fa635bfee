#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "frontend/pack_job.h"

namespace varn {

// A number an option cannot read (no digits, or outside 32 bits). Caught at
// the entry point, which reports it and ends the run with 1.
struct InvalidNumber : std::runtime_error {
  std::string text;
  std::string option;
  InvalidNumber(std::string t, std::string o)
      : std::runtime_error("invalid number"), text(std::move(t)), option(std::move(o)) {}
};

// A value an option refuses (a negative --pause, a track number 0) or a
// value option without its value. Reported at the entry
// point with its message; exit 1.
struct InvalidOption : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads a decimal integer: the whole text must be an optional sign and
// digits within 32 bits, else InvalidNumber is thrown.
int32_t parse_int32(const std::string& text, const std::string& option);

// Parses the command line (args[0] is the program name) by the option
// table. Returns an exit code when the run ends here (help, version, --api,
// no arguments, unknown option), or nullopt with `job` filled.
std::optional<int> parse_command_line(const std::vector<std::string>& args, PackJob& job);

// Input recognition by the last four characters, case-insensitively.
enum class InputKind { Unknown, Dsf, Dsdiff };
InputKind input_kind(const std::string& name);

// Output names.
std::string sacd_image_name(const std::string& output_path);  // ".iso" rule
std::string dsd_disc_image_name(const std::string& output_path);

}  // namespace varn
