#include "frontend/usage.h"

#include "frontend/options.h"

namespace varn {

namespace {

const char* heading(Section s) {
  switch (s) {
    case Section::Input: return "Input:";
    case Section::Output: return "Output:";
    case Section::Metadata: return "Metadata:";
    case Section::Audio: return "Audio:";
    case Section::DsdDisc: return "Varn DSD Disc (DVD-R/RW):";
    case Section::Hidden: break;
  }
  return "";
}

}  // namespace

std::string usage_text(const std::string& program_name) {
  std::string out = "Usage: " + program_name + " [-o OUTPUT] [-i] INPUT.dsf [...] [options]\n\n" +
                    "Convert DSF/DFF audio files to SACD ISO image.\n";
  Section current = Section::Hidden;
  for (const OptionSpec& o : option_table()) {
    if (o.section == Section::Hidden) continue;
    if (o.section != current) {
      current = o.section;
      out += std::string("\n") + heading(current) + "\n";
    }
    out += usage_line(o) + "\n";
  }
  bool dsd_disc = true;
  for (const UsageExample& e : usage_examples()) {
    if (e.dsd_disc != dsd_disc) {
      dsd_disc = e.dsd_disc;
      out += dsd_disc ? "\nVarn DSD Disc:\n" : "\nExamples:\n";
    }
    out += "  " + program_name + " " + e.args + std::string(static_cast<size_t>(e.gap), ' ') + e.what + "\n";
  }
  // As formatted into an 8192-byte buffer: at most 8191 bytes.
  if (out.size() > 8191) out.resize(8191);
  return out;
}

}  // namespace varn
