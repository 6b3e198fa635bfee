#include "sacd/album_info.h"

#include <cstdio>

namespace varn {

static void add_line(std::string& out, const std::string& line) {
  // A line holds at most 255 bytes with its line feed; a longer value is
  // cut so that the line still ends and the next key stays on its own line.
  out.append(line, 0, 254);
  out += '\n';
}

std::string album_info_text(const DiscLayout& layout,
                            const std::function<std::string(const std::string&)>& encode) {
  const std::vector<InputTrack> empty;
  const std::vector<InputTrack>& tracks = layout.tracks ? *layout.tracks : empty;
  const Album& a = *layout.album;
  std::string out;
  std::string album = a.title;
  if (album.empty() && !tracks.empty()) album = tracks[0].album;
  std::string artist = a.artist;
  if (artist.empty() && !tracks.empty()) artist = tracks[0].artist;
  if (!a.track_artists.empty() && !tracks.empty() && !tracks[0].artist.empty()) artist = tracks[0].artist;
  add_line(out, "Album=" + encode(album));
  add_line(out, "Artist=" + encode(artist));
  const std::pair<const char*, const std::string*> fields[] = {
      {"Genre", &a.genre},         {"Year", &a.year},   {"Catalog", &a.catalog},     {"Copyright", &a.copyright},
      {"Label", &a.label},         {"Composer", &a.composer}, {"Conductor", &a.conductor}, {"Orchestra", &a.orchestra},
      {"Barcode", &a.barcode},     {"Date", &a.date},
  };
  for (const auto& [key, value] : fields)
    if (!value->empty()) add_line(out, std::string(key) + "=" + encode(*value));
  if (!a.disc_number.empty()) {
    std::string disc = "Disc=" + a.disc_number;
    if (!a.disc_total.empty()) disc += " of " + a.disc_total;
    add_line(out, disc);
  }
  out += "\n[TrackInfo]\n";
  int n = 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < tracks.size(); ++i) {
      const InputTrack& t = tracks[i];
      if (in_stereo_area(t) != (pass == 0)) continue;
      ++n;
      char key[32];
      std::snprintf(key, sizeof key, "Track%03d", n);
      std::string title = t.title.empty() ? "Track " + std::to_string(n) : t.title;
      add_line(out, std::string(key) + "=" + encode(title));
      if (!t.artist.empty()) add_line(out, std::string(key) + "Artist=" + encode(t.artist));
      auto isrc = a.isrcs.find(static_cast<int32_t>(i));
      if (isrc != a.isrcs.end() && !isrc->second.empty())
        add_line(out, std::string(key) + "ISRC=" + isrc->second);
    }
  }
  return out;
}

}  // namespace varn
