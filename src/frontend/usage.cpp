#include "frontend/usage.h"

namespace varn {

// %s is the program name, %u the default pause, %% a percent sign.
static const char kUsage[] =
    "Usage: %s [-o OUTPUT] [-i] INPUT.dsf [...] [options]\n"
    "\n"
    "Convert DSF/DFF audio files to SACD ISO image.\n"
    "\n"
    "Input:\n"
    "  INPUT.dsf/.dff    DSF or DSDIFF file(s), one per track\n"
    "\n"
    "Output:\n"
    "  -o FILE.iso       Write SACD ISO image (default: auto)\n"
    "  -o DIR/           Inspect mode: dump TOC structures to directory\n"
    "  -i                Force next argument to be treated as input\n"
    "\n"
    "Metadata:\n"
    "  --album TEXT      Album title (overrides file metadata)\n"
    "  --artist TEXT     Artist/performer (overrides file metadata)\n"
    "  --track-title N:TEXT  Set title for track N (1-based)\n"
    "  --cover PATH      Album cover image (JPEG/PNG) -> stored in ISO as COVER.<EXT>\n"
    "  --genre TEXT      Genre (e.g. Classical, Jazz)\n"
    "  --catalog TEXT    Catalog / UPC / EAN number\n"
    "  --year YYYY       Release year\n"
    "  --copyright TEXT  Copyright notice\n"
    "  --disc N          Disc number (for multi-disc sets)\n"
    "  --disc-total M    Total discs in set\n"
    "  --label TEXT      Record label / publisher\n"
    "  --composer TEXT   Composer\n"
    "  --conductor TEXT  Conductor\n"
    "  --orchestra TEXT  Orchestra\n"
    "  --barcode TEXT    Barcode / UPC\n"
    "  --date YYYY-MM-DD Precise release date\n"
    "  --track-artist N:TEXT  Per-track artist (N is 1-based)\n"
    "  --isrc N:CODE     Per-track ISRC (N is 1-based)\n"
    "  --cue PATH.cue    Import metadata from CUE sheet\n"
    "\n"
    "Audio:\n"
    "  --pause N         Pause frames between tracks (default %u)\n"
    "  --no-encode       Store raw DSD instead of DST for multi-channel\n"
    "  --allow-meta-errors  Pack even if the metadata pre-flight found errors\n"
    "  --dst-stereo      Also DST-compress the stereo (2ch) area\n"
    "  --no-manifest     Do not write <iso>.delivery.txt (per-track SHA256 manifest)\n"
    "  --verify FILE.iso Re-check an ISO against its .delivery.txt (exit 0=ok, 3=mismatch)\n"
    "                    (multi-channel is always DST unless --no-encode)\n"
    "  --dst-fast          Fast packing: DST at medium precision (about +11%% size, about 2.6x speed; recommended on slow machines)\n"
    "  --dst-threads N      DST encoding threads (default 0 = all cores; set lower to leave cores free)\n"
    "  --dst-compression N  DST prediction order 1-128 (default 128; lower=faster)\n"
    "\n"
    "Varn DSD Disc (DVD-R/RW):\n"
    "  --dsd-disc        Build Varn DSD Disc instead of SACD ISO\n"
    "  --title TEXT      Disc title / volume identifier\n"
    "  --track-album N:Name  Assign album to track N (default: ALBUM)\n"
    "  --no-playlist     Skip auto-generating .ddp playlists\n"
    "\n"
    "Examples:\n"
    "  %s album.dsf                                Single-track ISO\n"
    "  %s -o disc.iso track1.dsf track2.dsf       Multi-track ISO\n"
    "  %s -o disc.iso --album 'My Album' *.dsf    With metadata\n"
    "  %s -o disc.iso --cover cover.jpg *.dsf     With cover art\n"
    "  %s -o disc.iso --genre 'Classical' --year 1987 *.dsf   More metadata\n"
    "  %s -o disc.iso --label 'Vireo' --composer 'Ravenhold' *.dsf  Classical metadata\n"
    "  %s -o disc.iso --cue album.cue *.dsf       Import from CUE\n"
    "  %s -o ./toc-dump/ album.dsf               Inspect TOC structure\n"
    "\n"
    "Varn DSD Disc:\n"
    "  %s -o disc.iso --dsd-disc *.dsf                          Simple Varn DSD Disc\n"
    "  %s -o disc.iso --dsd-disc --title='Live' *.dsf          With title\n"
    "  %s -o disc.iso --dsd-disc --track-album=1:Rock *.dsf     Per-track album\n"
    "  %s -o disc.iso --dsd-disc --no-playlist *.dsf           No .ddp file\n";

std::string usage_text(const std::string& program_name) {
  // Formatted as into an 8192-byte buffer: at most 8191 bytes.
  std::string out;
  for (const char* p = kUsage; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += program_name;
      ++p;
    } else if (p[0] == '%' && p[1] == 'u') {
      out += "150";
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      out += '%';
      ++p;
    } else {
      out += *p;
    }
  }
  if (out.size() > 8191) out.resize(8191);
  return out;
}

}  // namespace varn
