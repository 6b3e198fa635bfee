// The command line's one table: every option with its value form, its usage
// row and what it sets.
#include "frontend/options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "frontend/cli.h"
#include "frontend/host.h"
#include "frontend/usage.h"
#include "metadata/codes.h"

#ifndef VARN_VERSION
#error "VARN_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace varn {

const char* program_version() { return VARN_VERSION; }

namespace {

// The usage text, the version and the schema are the run's whole output:
// one that did not reach standard output (a full disk, a closed pipe) must
// not end the run as a success.
void print_out(const std::string& text) {
  std::clearerr(stdout);
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    throw std::runtime_error(std::string("cannot write to standard output: ") + std::strerror(errno));
}

// The N of an N:TEXT or N:CODE form; tracks are numbered from 1 (the last
// track is checked once the inputs are known).
int32_t track_number(const std::string& text, const char* option) {
  const int32_t n = parse_int32(text, option);
  if (n < 1)
    throw InvalidOption(std::string(option) + ": track number " + std::to_string(n) +
                        " is out of range (tracks are numbered from 1)");
  return n;
}

// N:TEXT sets track N; a value without a colon goes to the next track in
// the option's own sequence.
void numbered_text(const std::string& v, const char* option, std::map<int32_t, std::string>& map, int& counter) {
  const size_t colon = v.find(':');
  if (colon != std::string::npos) {
    const int32_t n = track_number(v.substr(0, colon), option);
    std::string text = v.substr(colon + 1);
    if (!text.empty()) map[n - 1] = text;
    return;
  }
  if (!v.empty()) map[counter++ - 1] = v;
}

// N:CODE sets track N; a code without a colon goes to the next entry of
// the ISRC sequence, which moves on even when the code is refused.
void isrc(ParseState& s, const std::string& v) {
  const size_t colon = v.find(':');
  const bool numbered = colon != std::string::npos;
  if (!numbered && v.empty()) return;
  const int32_t n = numbered ? track_number(v.substr(0, colon), "--isrc") : s.isrc_counter++;
  const std::string code = normalize_isrc(numbered ? v.substr(colon + 1) : v);
  if (numbered && code.empty()) return;
  if (isrc_shape_ok(code)) {
    s.job.album.isrcs[n - 1] = code;
    return;
  }
  std::fprintf(stderr,
               numbered ? "  [ISRC] track %d: '%s' is not a valid ISRC (expected CC-OOO-YY-DDDDD, 12 chars), ignored\n"
                        : "  [ISRC] entry %d: '%s' is not a valid ISRC (expected CC-OOO-YY-DDDDD, 12 chars), ignored\n",
               n, code.c_str());
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

using K = OptionKind;
using S = Section;
using St = ParseState;
using V = const std::string&;

// A text option that sets one field as written, a flag that sets one.
template <std::string PackJob::*Field>
void text(St& s, V v) {
  s.job.*Field = v;
}
template <std::string Album::*Field>
void album_text(St& s, V v) {
  s.job.album.*Field = v;
}
template <bool PackJob::*Field, bool To = true>
void flag(St& s, V) {
  s.job.*Field = To;
}
void nothing(St&, V) {}

const OptionSpec kOptions[] = {
    {"INPUT.dsf/.dff", K::Operand, S::Input, "", "DSF or DSDIFF file(s), one per track", nothing, true},

    {"-o", K::Next, S::Output, "FILE.iso", "Write SACD ISO image (default: auto)", text<&PackJob::output_path>, true},
    {"-o", K::Next, S::Output, "DIR/", "Inspect mode: dump TOC structures to directory", text<&PackJob::output_path>,
     true},
    {"-i", K::NextIfAny, S::Output, "", "Force next argument to be treated as input",
     [](St& s, V v) { s.job.inputs.push_back(v); }, true},

    {"--album", K::Value, S::Metadata, "TEXT", "Album title (overrides file metadata)", album_text<&Album::title>},
    {"--artist", K::Value, S::Metadata, "TEXT", "Artist/performer (overrides file metadata)",
     album_text<&Album::artist>},
    {"--track-title", K::Value, S::Metadata, "N:TEXT", "Set title for track N (1-based)",
     [](St& s, V v) { numbered_text(v, "--track-title", s.job.track_titles, s.title_counter); }},
    {"--cover", K::Value, S::Metadata, "PATH", "Album cover image (JPEG/PNG) -> stored in ISO as COVER.<EXT>",
     album_text<&Album::cover_path>, true},
    {"--genre", K::Value, S::Metadata, "TEXT", "Genre (e.g. Classical, Jazz)", album_text<&Album::genre>},
    {"--catalog", K::Value, S::Metadata, "TEXT", "Catalog / UPC / EAN number", album_text<&Album::catalog>},
    {"--year", K::Value, S::Metadata, "YYYY", "Release year", album_text<&Album::year>},
    {"--copyright", K::Value, S::Metadata, "TEXT", "Copyright notice", album_text<&Album::copyright>},
    {"--disc", K::Value, S::Metadata, "N", "Disc number (for multi-disc sets)", album_text<&Album::disc_number>},
    {"--disc-total", K::Value, S::Metadata, "M", "Total discs in set", album_text<&Album::disc_total>},
    {"--label", K::Value, S::Metadata, "TEXT", "Record label / publisher", album_text<&Album::label>},
    {"--composer", K::Value, S::Metadata, "TEXT", "Composer", album_text<&Album::composer>},
    {"--conductor", K::Value, S::Metadata, "TEXT", "Conductor", album_text<&Album::conductor>},
    {"--orchestra", K::Value, S::Metadata, "TEXT", "Orchestra", album_text<&Album::orchestra>},
    {"--barcode", K::Value, S::Metadata, "TEXT", "Barcode / UPC",
     [](St& s, V v) { s.job.album.barcode = normalize_barcode(v); }},
    {"--date", K::Value, S::Metadata, "YYYY-MM-DD", "Precise release date", album_text<&Album::date>},
    {"--track-artist", K::Value, S::Metadata, "N:TEXT", "Per-track artist (N is 1-based)",
     [](St& s, V v) { numbered_text(v, "--track-artist", s.job.album.track_artists, s.artist_counter); }},
    {"--isrc", K::Value, S::Metadata, "N:CODE", "Per-track ISRC (N is 1-based)", isrc},
    {"--cue", K::Value, S::Metadata, "PATH.cue", "Import metadata from CUE sheet", text<&PackJob::cue_path>, true},

    {"--pause", K::Value, S::Audio, "N", "Pause frames between tracks (default 150)",
     [](St& s, V v) {
       const int32_t n = parse_int32(v, "--pause");
       if (n < 0) throw InvalidOption("--pause must not be negative (got " + std::to_string(n) + " frames)");
       s.job.pause_frames = n;
     }},
    {"--no-encode", K::Flag, S::Audio, "", "Store raw DSD instead of DST for multi-channel",
     flag<&PackJob::no_encode>},
    {"--allow-meta-errors", K::Flag, S::Audio, "", "Pack even if the metadata pre-flight found errors",
     flag<&PackJob::allow_meta_errors>},
    {"--dst-stereo", K::Flag, S::Audio, "", "Also DST-compress the stereo (2ch) area", flag<&PackJob::dst_stereo>},
    {"--no-manifest", K::Flag, S::Audio, "", "Do not write <iso>.delivery.txt (per-track SHA256 manifest)",
     flag<&PackJob::no_manifest>},
    {"--verify", K::Next, S::Audio, "FILE.iso", "Re-check an ISO against its .delivery.txt (exit 0=ok, 3=mismatch)",
     text<&PackJob::verify_path>, true},
    {"", K::Note, S::Audio, "", "(multi-channel is always DST unless --no-encode)", nothing},
    {"--dst-fast", K::Flag, S::Audio, "",
     "Fast packing: DST at medium precision (about +11% size, about 2.6x speed; recommended on slow machines)",
     flag<&PackJob::dst_fast>, false, 22},
    {"--dst-threads", K::Value, S::Audio, "N",
     "DST encoding threads (default 0 = all cores; set lower to leave cores free)",
     [](St& s, V v) { s.job.dst_threads = static_cast<uint32_t>(clamp(parse_int32(v, "--dst-threads"), 0, 64)); },
     false, 23},
    {"--dst-compression", K::Value, S::Audio, "N", "DST prediction order 1-128 (default 128; lower=faster)",
     [](St& s, V v) {
       s.job.dst_order = static_cast<uint32_t>(clamp(parse_int32(v, "--dst-compression"), 1, 128));
       s.job.dst_order_given = true;
     }},

    {"--dsd-disc", K::Flag, S::DsdDisc, "", "Build Varn DSD Disc instead of SACD ISO", flag<&PackJob::dsd_disc>},
    {"--title", K::Value, S::DsdDisc, "TEXT", "Disc title / volume identifier", text<&PackJob::disc_title>},
    {"--track-album", K::Value, S::DsdDisc, "N:Name", "Assign album to track N (default: ALBUM)",
     [](St& s, V v) { numbered_text(v, "--track-album", s.job.track_albums, s.album_counter); }},
    {"--no-playlist", K::Flag, S::DsdDisc, "", "Skip auto-generating .ddp playlists", flag<&PackJob::playlists, false>},

    {"--help", K::Exit, S::Hidden, "", "Print the usage text and exit", [](St& s, V) { print_out(usage_text(s.program)); }},
    {"-h", K::Exit, S::Hidden, "", "Same as --help", [](St& s, V) { print_out(usage_text(s.program)); }},
    {"--version", K::Exit, S::Hidden, "", "Print the program name and version and exit",
     [](St&, V) { print_out(std::string("varntessel ") + program_version() + "\n"); }},
    {"--api", K::Exit, S::Hidden, "", "Print the options as one line of JSON (for graphical front ends) and exit",
     [](St& s, V) { print_out(api_schema_json(s.program)); }},
    {"--no-simd", K::Flag, S::Hidden, "", "Use the plain DST filter code instead of the vector instructions",
     flag<&PackJob::no_simd>},
    // Arguments of an in-process host: the host pre-pass reads them before
    // parsing; here they only must not be taken for inputs.
    {"-inproc-host", K::Flag, S::Hidden, "", nullptr, nothing},
    {"-inproc-ctl", K::Value, S::Hidden, "N", nullptr, nothing},
    {"-inproc-ctl-fn", K::Value, S::Hidden, "N", nullptr, nothing},
};

const UsageExample kExamples[] = {
    {false, "album.dsf", 32, "Single-track ISO"},
    {false, "-o disc.iso track1.dsf track2.dsf", 7, "Multi-track ISO"},
    {false, "-o disc.iso --album 'My Album' *.dsf", 4, "With metadata"},
    {false, "-o disc.iso --cover cover.jpg *.dsf", 5, "With cover art"},
    {false, "-o disc.iso --genre 'Classical' --year 1987 *.dsf", 3, "More metadata"},
    {false, "-o disc.iso --label 'Vireo' --composer 'Ravenhold' *.dsf", 2, "Classical metadata"},
    {false, "-o disc.iso --cue album.cue *.dsf", 7, "Import from CUE"},
    {false, "-o ./toc-dump/ album.dsf", 15, "Inspect TOC structure"},
    {true, "-o disc.iso --dsd-disc *.dsf", 26, "Simple Varn DSD Disc"},
    {true, "-o disc.iso --dsd-disc --title='Live' *.dsf", 10, "With title"},
    {true, "-o disc.iso --dsd-disc --track-album=1:Rock *.dsf", 5, "Per-track album"},
    {true, "-o disc.iso --dsd-disc --no-playlist *.dsf", 11, "No .ddp file"},
};

// "  NAME ARG" and the spaces up to the description's column (at least
// one; two when the name and value reach the column).
std::string usage_head(const OptionSpec& o) {
  std::string head = std::string("  ") + o.name;
  if (*o.arg) head += std::string(" ") + o.arg;
  const size_t col = static_cast<size_t>(o.column);
  head += std::string(head.size() < col ? col - head.size() : 2, ' ');
  return head;
}

}  // namespace

std::span<const OptionSpec> option_table() { return kOptions; }
std::span<const UsageExample> usage_examples() { return kExamples; }

std::string usage_line(const OptionSpec& o) { return usage_head(o) + o.help; }

std::string usage_after_name(const OptionSpec& o) {
  const std::string rest = usage_head(o).substr(2 + std::string(o.name).size());
  const size_t p = rest.find_first_not_of(' ');
  return (p == std::string::npos ? std::string() : rest.substr(p)) + o.help;
}

}  // namespace varn
