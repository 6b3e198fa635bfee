#pragma once

#include <span>
#include <string>

#include "frontend/pack_job.h"

namespace varn {

// What the parser has gathered so far: the job, the sequence counters of
// the N:TEXT and N:CODE options, and the program name for the texts that
// end the run.
struct ParseState {
  PackJob& job;
  std::string program;
  int title_counter = 1, artist_counter = 1, album_counter = 1, isrc_counter = 1;
};

enum class OptionKind {
  Flag,       // the exact name, nothing more
  Value,      // NAME VALUE (a separate value may not look like an option) or NAME=VALUE
  Next,       // the exact name and the next argument, whatever it begins with
  NextIfAny,  // as Next, but a last one does nothing
  Exit,       // looked for before anything else; prints and ends the run with 0
  Operand,    // not an option: a usage row for the input files
  Note,       // not an option: a usage row continuing the one above
};

// Where the usage text lists a row; Hidden rows are accepted but not listed.
enum class Section { Hidden, Input, Output, Metadata, Audio, DsdDisc };

// One row of the command line: the parser, the usage text, the --api
// schema, the man page and the shell completion are all made from these.
struct OptionSpec {
  const char* name;
  OptionKind kind;
  Section section;
  const char* arg;   // value placeholder shown after the name, "" for none
  const char* help;  // nullptr: a host-only option, documented nowhere
  void (*apply)(ParseState& state, const std::string& value);
  bool file_value = false;  // the value names a file or directory
  int column = 20;          // where the usage line's description starts
};

// Every row in usage order; the same name may appear in two rows (-o has a
// file and a directory form), and the first one is the one parsed.
std::span<const OptionSpec> option_table();

// One example line of the usage text: the program name, args, then `gap`
// spaces and the description.
struct UsageExample {
  bool dsd_disc;  // listed under the DSD Disc examples
  const char* args;
  int gap;
  const char* what;
};
std::span<const UsageExample> usage_examples();

// The usage line of a row split where the --api schema splits it: the
// text up to the description's column, and the rest after the name.
std::string usage_line(const OptionSpec& o);
std::string usage_after_name(const OptionSpec& o);

// The project version, as --version and --api report it.
const char* program_version();

}  // namespace varn
