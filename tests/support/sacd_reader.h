// An independent SACD reader (sacd_extract) as a test peer: where to find
// it, running it on a pseudo terminal (it reports only to a terminal),
// its -P report parsed into fields, its extraction results, and the audio
// of an extracted DSF/DSDIFF file compared with an input file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// The reader named by VARN_SACD_READER; empty when the variable is unset
// or names no executable file (the caller skips and says why).
std::string sacd_reader();
// Why the reader suite is skipped, for GTEST_SKIP().
std::string sacd_reader_skip_reason();

// Runs the reader with `args` inside `workdir`; returns its terminal
// output with carriage returns turned into line feeds. A run the reader
// does not survive (killed by a signal) is run again, up to three times in
// all, and the output says so: the reader now and then crashes in its own
// tag writing when a track decodes very fast (a silent DST track), on the
// same image it reads in full on the next run. A crash every time stays a
// failure.
std::string run_sacd_reader(const std::string& reader, const std::vector<std::string>& args,
                            const std::string& workdir);

// Fields of one "Name: value" line keyed by the name; an indexed name such
// as "Title[3]" is keyed "Title".
using ReaderFields = std::map<std::string, std::string>;
// The value of a field, empty when the report has none.
std::string field(const ReaderFields& fields, const std::string& name);
struct ReaderArea {
  ReaderFields fields;               // Version, Track Count, Speaker config, ...
  std::vector<ReaderFields> tracks;  // Title, Performer, Duration, ISRC, ...
};
struct ReaderReport {
  ReaderFields disc;   // "Disc Information:"
  ReaderFields album;  // "Album Information:"
  std::vector<ReaderArea> areas;
  std::string text;    // the whole report
};
ReaderReport parse_reader_report(const std::string& text);
ReaderReport read_sacd_info(const std::string& reader, const std::string& iso,
                            const std::string& workdir);

// One extracted track: the reader's processed and specified frame counts
// and the file it wrote.
struct ReaderTrackResult {
  uint64_t processed = 0;
  uint64_t specified = 0;
  std::string file;
};
struct ReaderExtraction {
  std::vector<ReaderTrackResult> tracks;
  std::string text;  // the reader's output
};
// Extracts one area (`multichannel`) as DSF (`dsf`) or DSDIFF, decoding DST,
// into `dir`; the files in track order.
ReaderExtraction extract_sacd_area(const std::string& reader, const std::string& iso,
                                   const std::string& dir, bool multichannel, bool dsf);
// Extracts with the reader's own mode options (such as -2 -e -p) into
// `dir`; the files in the order the reader wrote them.
ReaderExtraction extract_sacd(const std::string& reader, const std::string& iso,
                              const std::string& dir, const std::vector<std::string>& mode);

// Empty when the audio of `extracted` equals that of `input` bit for bit
// (channels, rate and payload); else what differs. Both files are read with
// the project's DSF/DSDIFF readers.
std::string compare_dsd_audio(const std::string& extracted, const std::string& input);

}  // namespace testsupport
