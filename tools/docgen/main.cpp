// Writes the manual page varntessel(1) and the bash completion from the
// program's option table, so that neither can drift from the usage text.
// Usage: varn_docgen MAN_PAGE COMPLETION
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "frontend/options.h"

using namespace varn;

namespace {

// Text for roff: backslashes and hyphens escaped, no line taken for a
// request.
std::string roff(const std::string& text) {
  std::string out = (!text.empty() && (text[0] == '.' || text[0] == '\'')) ? "\\&" : "";
  for (char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  return out;
}

bool is_option(const OptionSpec& o) { return o.kind != OptionKind::Operand && o.kind != OptionKind::Note; }
bool documented(const OptionSpec& o) { return o.help != nullptr; }

const char* section_title(Section s) {
  switch (s) {
    case Section::Input: return "Input";
    case Section::Output: return "Output";
    case Section::Metadata: return "Metadata";
    case Section::Audio: return "Audio";
    case Section::DsdDisc: return "Varn DSD Disc (DVD\\-R/RW)";
    case Section::Hidden: break;
  }
  return "Other options";
}

void option_entries(std::string& m, Section section) {
  std::string notes;
  m += std::string(".SS ") + section_title(section) + "\n";
  for (const OptionSpec& o : option_table()) {
    if (o.section != section || !documented(o)) continue;
    if (o.kind == OptionKind::Note) {
      notes += ".PP\n";
      notes += roff(o.help);
      notes += "\n";
      continue;
    }
    m += ".TP\n";
    m += o.kind == OptionKind::Operand ? "\\fI" : "\\fB";
    m += roff(o.name);
    m += "\\fR";
    if (*o.arg) m += " \\fI" + roff(o.arg) + "\\fR";
    m += "\n";
    m += roff(o.help);
    m += "\n";
  }
  m += notes;
}

std::string man_page() {
  std::string m;
  m += ".TH VARNTESSEL 1 \"\" \"VarnTessel " + std::string(program_version()) + "\" \"User Commands\"\n";
  m += ".nh\n";  // option names are not to be broken at their hyphens
  m += ".SH NAME\nvarntessel \\- author Super Audio CD disc images from DSF and DSDIFF files\n";
  m += ".SH SYNOPSIS\n"
       ".B varntessel\n[\\fB\\-o\\fR \\fIOUTPUT\\fR] [\\fB\\-i\\fR] \\fIINPUT.dsf\\fR ... [\\fIoptions\\fR]\n.br\n"
       ".B varntessel \\-\\-verify\n\\fIFILE.iso\\fR\n.br\n"
       ".B varntessel \\-\\-dsd\\-disc\n[\\fB\\-o\\fR \\fIFILE.iso\\fR] \\fIINPUT.dsf\\fR ... [\\fIoptions\\fR]\n.br\n"
       ".B varntessel\n\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR | \\fB\\-\\-api\\fR\n";
  m += ".SH DESCRIPTION\n"
       ".B varntessel\n"
       "writes a Super Audio CD disc image (an .iso file) from DSD audio files, one file per track:\n"
       "DSF (.dsf) or DSDIFF (.dff, .dsd), plain or DST\\-coded.\n"
       "Tracks of two channels form the stereo area, all others the multichannel area.\n"
       "The image carries the SACD structures (Master TOC, Master Text, Manufacturer sector,\n"
       "an Area TOC per area with track text and ISRCs) and the audio, plain DSD or compressed with\n"
       "lossless DST by the program's own multithreaded encoder (always for the multichannel area\n"
       "unless \\fB\\-\\-no\\-encode\\fR is given; for the stereo area with \\fB\\-\\-dst\\-stereo\\fR).\n"
       "An ISO 9660 and a UDF 1.02 volume over the same sectors show the TOCs, the audio,\n"
       "an album information text and the cover picture as files.\n"
       ".PP\n"
       "Album and track texts come from the options, the files' tags, a CUE sheet and the file names;\n"
       "a pre\\-flight check of the titles, year, disc numbers and ISRCs reports errors, warnings and notes\n"
       "and refuses to pack on errors unless \\fB\\-\\-allow\\-meta\\-errors\\fR is given.\n"
       "Beside the image the program writes a SHA\\-256 delivery manifest and a CUE sheet.\n"
       ".PP\n"
       "Other modes: \\fB\\-\\-verify\\fR checks an image against its manifest;\n"
       "\\fB\\-o\\fR \\fIDIR/\\fR writes the planned TOC structures into a directory instead of an image;\n"
       "\\fB\\-\\-dsd\\-disc\\fR builds a Varn DSD Disc, a UDF disc holding the DSF files themselves with\n"
       ".I .ddp\nplaylists; \\fB\\-\\-api\\fR prints the options as JSON for graphical front ends.\n"
       "Progress goes to standard output, warnings and errors to standard error.\n"
       ".PP\n"
       "A value option takes its value as the next argument or after an equals sign\n"
       "(\\fB\\-\\-album=\\-live\\-\\fR); a separate value may not begin with a hyphen unless a digit follows.\n"
       "An \\fIN\\fR:\\fITEXT\\fR value names its track (counted from 1); a value without a track number\n"
       "goes to the next track in the order the option is given.\n";
  m += ".SH OPTIONS\n";
  for (Section s : {Section::Input, Section::Output, Section::Metadata, Section::Audio, Section::DsdDisc,
                    Section::Hidden})
    option_entries(m, s);
  m += ".SH EXIT STATUS\n"
       ".TP\n.B 0\nThe image (or dump, or Varn DSD Disc) was written; \\-\\-verify found the image as its manifest says;\n"
       "help, version and schema were printed.\n"
       ".TP\n.B 1\nThe run failed: a command\\-line error, an input that cannot be used, metadata errors found by\n"
       "the pre\\-flight, too little room, or a write that failed. Nothing half\\-written is left;\n"
       "outputs of an earlier run stay as they were.\n"
       ".TP\n.B 2\n\\-\\-verify could not read the image or its manifest.\n"
       ".TP\n.B 3\n\\-\\-verify found a digest that does not match.\n"
       ".TP\n.B 130\nInterrupted (Ctrl\\-C); as for 1, nothing half\\-written is left.\n";
  m += ".SH ENVIRONMENT\n"
       ".TP\n.B SOURCE_DATE_EPOCH\n"
       "Seconds since 1970\\-01\\-01 UTC used for every date written into the image and the manifest\n"
       "instead of the current time; the same inputs and options then give the same bytes.\n"
       ".TP\n.BR VARN_DVD_CAP_BYTES \", \" VARN_DVD9_CAP_BYTES\n"
       "Capacities in bytes of a single\\- and a dual\\-layer disc for the capacity report\n"
       "(default 4700372992 and 8547991552).\n"
       ".TP\n.BR TEMP \", \" TMP\n"
       "Directory for temporary files (a cover picture taken from the tags); the current directory\n"
       "when neither is set.\n";
  m += ".SH FILES\n"
       ".TP\n.I OUTPUT.iso\nThe SACD image; \\fB.iso\\fR is appended to \\fB\\-o\\fR unless the name ends with it.\n"
       ".TP\n.I OUTPUT.iso.delivery.txt\n"
       "The delivery manifest: SHA\\-256 of the whole image and of every track's sectors\n"
       "(not with \\fB\\-\\-no\\-manifest\\fR); \\fB\\-\\-verify\\fR reads it.\n"
       ".TP\n.I OUTPUT.cue\nThe CUE sheet of the album, beside the image.\n"
       ".TP\n.IR OUTPUT _cover.jpg \", \" OUTPUT _cover.png\n"
       "The cover picture found in the first track's tags, when no \\fB\\-\\-cover\\fR is given.\n"
       ".TP\n.I DIR/\n"
       "In inspect mode: toc.txt, tracks.txt, toc_detail.txt, master_toc.bin, area_toc_2ch.bin,\n"
       "area_toc_mch.bin and sacd_text.bin.\n"
       ".TP\n.I dsd_disc.iso\nThe Varn DSD Disc image when \\fB\\-o\\fR is not given.\n";
  m += ".SH EXAMPLES\n";
  for (const UsageExample& e : usage_examples())
    m += ".TP\n.B \"varntessel " + roff(e.args) + "\"\n" + roff(e.what) + "\n";
  m += ".TP\n.B \"varntessel \\-\\-verify disc.iso\"\nCheck an image against disc.iso.delivery.txt\n"
       ".TP\n.B \"SOURCE_DATE_EPOCH=0 varntessel \\-o disc.iso *.dsf\"\nA reproducible image\n";
  m += ".SH SEE ALSO\n.BR xorriso (1),\n.BR 7z (1)\n";
  return m;
}

std::string words(bool (*keep)(const OptionSpec&)) {
  std::set<std::string> seen;
  std::string out;
  for (const OptionSpec& o : option_table()) {
    if (!is_option(o) || !documented(o) || !keep(o) || !seen.insert(o.name).second) continue;
    if (!out.empty()) out += ' ';
    out += o.name;
  }
  return out;
}

std::string alternatives(bool (*keep)(const OptionSpec&)) {
  std::string w = words(keep);
  for (char& c : w)
    if (c == ' ') c = '|';
  return w;
}

std::string completion() {
  const std::string all = words([](const OptionSpec&) { return true; });
  const std::string files = alternatives([](const OptionSpec& o) { return o.file_value; });
  const std::string values = alternatives([](const OptionSpec& o) {
    return !o.file_value && (o.kind == OptionKind::Value || o.kind == OptionKind::Next);
  });
  return "# bash completion for varntessel\n"
         "_varntessel() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} f\n"
         "  COMPREPLY=()\n"
         "  case $prev in\n"
         "    " + files + ")\n"
         "      mapfile -t COMPREPLY < <(compgen -f -- \"$cur\"); return ;;\n"
         "    " + values + ")\n"
         "      return ;;\n"
         "  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    mapfile -t COMPREPLY < <(compgen -W \"" + all + "\" -- \"$cur\"); return\n"
         "  fi\n"
         "  while IFS= read -r f; do\n"
         "    case ${f,,} in\n"
         "      *.dsf|*.dff|*.dsd) COMPREPLY+=(\"$f\") ;;\n"
         "      *) [[ -d $f ]] && COMPREPLY+=(\"$f\") ;;\n"
         "    esac\n"
         "  done < <(compgen -f -- \"$cur\")\n"
         "}\n"
         "complete -o filenames -F _varntessel varntessel\n";
}

bool write_file(const char* path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: varn_docgen MAN_PAGE COMPLETION\n");
    return 2;
  }
  if (!write_file(argv[1], man_page()) || !write_file(argv[2], completion())) {
    std::fprintf(stderr, "varn_docgen: cannot write %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
