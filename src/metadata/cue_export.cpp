// CUE sheet export beside a finished image. Lines end with CR LF on every
// platform, as CUE sheets traditionally do.
#include "metadata/cue_export.h"

#include <cstdarg>
#include <cstdio>

#include "platform/text_format.h"

namespace varn {

namespace {

struct CueWriter {
  std::string text;
  // One formatted line followed by CR LF.
  __attribute__((format(printf, 2, 3))) void line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    append_vformat(text, format, args);
    va_end(args);
    text += "\r\n";
  }
};
}  // namespace

std::string cue_quoted_value(const std::string& value) {
  std::string out = value;
  for (char& c : out)
    if (c == '"') c = '\'';
  return out;
}

std::string cue_path_for_image(const std::string& image_path) {
  const size_t dot = image_path.rfind('.');
  const size_t slash = image_path.rfind('/');
  // A dot inside a directory name is not the image's extension.
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return image_path + ".cue";
  return image_path.substr(0, dot) + ".cue";
}

std::string cue_image_file_name(const std::string& image_path) {
  const size_t slash = image_path.rfind('/');
  return slash == std::string::npos ? image_path : image_path.substr(slash + 1);
}

std::string cue_sheet_text(const std::vector<InputTrack>& tracks, const std::vector<uint64_t>& frames,
                           const Album& album, const std::string& image_file_name) {
  CueWriter w;
  // The barcode is the code a CUE sheet's CATALOG means; the catalog number
  // stands in when there is none.
  const std::string& catalog = album.barcode.empty() ? album.catalog : album.barcode;
  if (!album.genre.empty()) w.line("REM GENRE \"%s\"", cue_quoted_value(album.genre).c_str());
  if (!album.year.empty()) w.line("REM DATE \"%s\"", cue_quoted_value(album.year).c_str());
  if (!album.artist.empty()) w.line("PERFORMER \"%s\"", cue_quoted_value(album.artist).c_str());
  if (!album.title.empty()) w.line("TITLE \"%s\"", cue_quoted_value(album.title).c_str());
  if (!catalog.empty()) w.line("CATALOG %s", catalog.c_str());
  w.line("FILE \"%s\" WAVE",
         image_file_name.empty() ? "SACD.iso" : cue_quoted_value(image_file_name).c_str());

  uint64_t position = 0;  // SACD frames from the start of the image's audio
  for (size_t k = 1; k <= tracks.size(); ++k) {
    const InputTrack& t = tracks[k - 1];
    w.line("  TRACK %02zu AUDIO", k);
    if (!t.artist.empty()) w.line("    PERFORMER \"%s\"", cue_quoted_value(t.artist).c_str());
    if (!t.title.empty()) w.line("    TITLE \"%s\"", cue_quoted_value(t.title).c_str());
    auto isrc = album.isrcs.find(static_cast<int32_t>(k - 1));
    if (isrc != album.isrcs.end() && !isrc->second.empty()) w.line("    ISRC %s", isrc->second.c_str());
    w.line("    INDEX 01 %02u:%02u:%02u", static_cast<unsigned>(position / 75 / 60),
           static_cast<unsigned>((position / 75) % 60), static_cast<unsigned>(position % 75));
    position += t.pause_frames + (k - 1 < frames.size() ? frames[k - 1] : 0);
  }
  return w.text;
}

}  // namespace varn
