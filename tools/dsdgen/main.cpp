// dsdgen: writes a DSD test signal as a DSF or DSDIFF file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dsdgen/dsdgen.h"
#include "dst/dst_parallel.h"

namespace {

const char kUsage[] =
    "Usage: dsdgen [options] OUT\n"
    "  --format dsf|dff         file format (default: from OUT's extension, else dsf)\n"
    "  --channels N             channel count (default 2)\n"
    "  --rate HZ                DSD sample rate (default 2822400)\n"
    "  --seconds S              length in seconds (default 1)\n"
    "  --samples N              length in 1-bit samples per channel\n"
    "  --signal KIND            music|tone|chirp|noise|silence (default music)\n"
    "  --freq HZ                tone frequency (default 1000)\n"
    "  --amplitude A            modulator input peak, below 0.7 (default 0.5)\n"
    "  --seed N                 noise seed (default 1)\n"
    "  --repeat-period-bytes N  modulate N bytes per channel and repeat them\n"
    "DSF:\n"
    "  --block-size B           bytes per channel block, 0 = one block (default 4096)\n"
    "  --msb-first              bits per sample 8 (default: 1, LSB first)\n"
    "Tags (ID3v2 at the end of a DSF file, \"ID3 \" chunk of a DSDIFF file):\n"
    "  --title T --artist A --album A --genre G --date D --track N\n"
    "  --cover FILE             APIC front cover (MIME from the extension)\n"
    "  --id3v 3|4               tag version (default 3)\n"
    "  --utf16                  text frames as UTF-16 with BOM\n"
    "DSDIFF:\n"
    "  --didx-title T --didx-artist A   DIIN/DIDX text\n"
    "  --comt-genre G --comt-date D     COMT entries\n"
    "  --dst                    DST-coded sound data (frames coded by the project's coder)\n"
    "  --help                   this text\n";

bool read_whole(const char* path, std::vector<uint8_t>& out) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return true;
}

bool ends_with_ci(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char a = s[s.size() - n + i];
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (a != suffix[i]) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  dsdgen::SignalOptions sig;
  dsdgen::Id3Tags tags;
  dsdgen::DsfOptions dsf;
  dsdgen::DffOptions dff;
  std::string format, out, cover;
  double seconds = 1.0;
  bool have_samples = false;
  bool dst = false;
  uint64_t period = 0;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "dsdgen: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--format") {
      format = value();
    } else if (a == "--channels") {
      sig.channels = uint32_t(std::strtoul(value(), nullptr, 10));
    } else if (a == "--rate") {
      sig.sample_rate = uint32_t(std::strtoul(value(), nullptr, 10));
    } else if (a == "--seconds") {
      seconds = std::strtod(value(), nullptr);
    } else if (a == "--samples") {
      sig.samples = std::strtoull(value(), nullptr, 10);
      have_samples = true;
    } else if (a == "--signal") {
      std::string k = value();
      if (k == "music") sig.kind = dsdgen::SignalKind::Music;
      else if (k == "tone") sig.kind = dsdgen::SignalKind::Tone;
      else if (k == "chirp") sig.kind = dsdgen::SignalKind::Chirp;
      else if (k == "noise") sig.kind = dsdgen::SignalKind::Noise;
      else if (k == "silence") sig.kind = dsdgen::SignalKind::Silence;
      else {
        std::fprintf(stderr, "dsdgen: unknown signal %s\n", k.c_str());
        return 2;
      }
    } else if (a == "--freq") {
      sig.frequency = std::strtod(value(), nullptr);
    } else if (a == "--amplitude") {
      sig.amplitude = std::strtod(value(), nullptr);
    } else if (a == "--seed") {
      sig.seed = std::strtoull(value(), nullptr, 10);
    } else if (a == "--repeat-period-bytes") {
      period = std::strtoull(value(), nullptr, 10);
    } else if (a == "--block-size") {
      dsf.block_size = uint32_t(std::strtoul(value(), nullptr, 10));
    } else if (a == "--msb-first") {
      dsf.lsb_first = false;
    } else if (a == "--title") {
      tags.title = value();
    } else if (a == "--artist") {
      tags.artist = value();
    } else if (a == "--album") {
      tags.album = value();
    } else if (a == "--genre") {
      tags.genre = value();
    } else if (a == "--date") {
      tags.date = value();
    } else if (a == "--track") {
      tags.track = value();
    } else if (a == "--cover") {
      cover = value();
    } else if (a == "--id3v") {
      tags.version = std::atoi(value()) == 4 ? 4 : 3;
    } else if (a == "--utf16") {
      tags.utf16 = true;
    } else if (a == "--didx-title") {
      dff.didx_title = value();
    } else if (a == "--didx-artist") {
      dff.didx_artist = value();
    } else if (a == "--comt-genre") {
      dff.comt_genre = value();
    } else if (a == "--comt-date") {
      dff.comt_date = value();
    } else if (a == "--dst") {
      dst = true;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "dsdgen: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    } else if (out.empty()) {
      out = a;
    } else {
      std::fprintf(stderr, "dsdgen: more than one output file\n");
      return 2;
    }
  }
  if (out.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (sig.channels == 0 || sig.sample_rate == 0) {
    std::fprintf(stderr, "dsdgen: channels and rate must not be 0\n");
    return 2;
  }
  if (format.empty()) format = (ends_with_ci(out, ".dff") || ends_with_ci(out, ".dsd")) ? "dff" : "dsf";
  if (format != "dsf" && format != "dff") {
    std::fprintf(stderr, "dsdgen: unknown format %s\n", format.c_str());
    return 2;
  }
  if (!have_samples) sig.samples = uint64_t(seconds * sig.sample_rate + 0.5);
  if (!cover.empty()) {
    if (!read_whole(cover.c_str(), tags.picture)) {
      std::fprintf(stderr, "dsdgen: cannot read %s\n", cover.c_str());
      return 1;
    }
    tags.picture_type = 3;
    tags.picture_mime = ends_with_ci(cover, ".png") ? "image/png" : "image/jpeg";
  }

  std::vector<uint8_t> payload =
      period ? dsdgen::generate_repeated(sig, period) : dsdgen::generate(sig);
  bool ok;
  if (format == "dsf") {
    dsf.tags = tags;
    ok = dsdgen::write_dsf(out, sig.channels, sig.sample_rate, payload, dsf, sig.samples);
  } else {
    dff.tags = tags;
    if (dst) {
      const uint32_t base = sig.sample_rate % 44100 == 0 ? 44100 : 48000;
      dff.dst_frames = varn::dst_encode_track(payload.data(), payload.size(), int(sig.channels),
                                              int(sig.sample_rate / base), int(base), 32, 0);
      if (dff.dst_frames.empty()) {
        std::fprintf(stderr, "dsdgen: the signal cannot be DST-coded (whole frames of DSD64, 128 or 256)\n");
        return 1;
      }
    }
    ok = dsdgen::write_dsdiff(out, sig.channels, sig.sample_rate, payload, dff);
  }
  return ok ? 0 : 1;
}
