#include "frontend/interactive.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "frontend/title_from_name.h"
#include "platform/cancel.h"

namespace varn {

static std::string ask(const std::string& prompt) {
  if (cancel_requested()) return {};
  std::fwrite(prompt.data(), 1, prompt.size(), stdout);
  std::fflush(stdout);
  std::string line;
  if (!std::getline(std::cin, line)) {
    // Ctrl-C at a prompt: the interrupted line ends before the run says so.
    if (cancel_requested()) std::fputs("\n", stdout);
    return {};
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void complete_metadata_interactively(PackRun& run) {
  auto& tracks = run.tracks;
  bool missing = false;
  for (const InputTrack& t : tracks)
    if (t.title.empty() || t.artist.empty() || t.album.empty()) missing = true;
  if (!missing) return;

  std::printf("\n");
  std::printf("\033[1;36m\u2550\u2550\u2550\u2550\u2550\u2550\u2550 Metadata Input \u2550\u2550\u2550\u2550\u2550\u2550\u2550\033[0m\n");
  std::printf("Empty fields below. Press Enter to skip.\n\n");
  if (tracks[0].album.empty()) {
    std::string a = ask("\033[33mAlbum Title\033[0m (empty=Unknown Album) : ");
    if (!a.empty())
      for (InputTrack& t : tracks) t.album = a;
  }
  if (tracks[0].artist.empty()) {
    std::string a = ask("\033[33mArtist Name\033[0m (empty=Unknown Artist): ");
    if (!a.empty())
      for (InputTrack& t : tracks) t.artist = a;
  }
  bool any_title_missing = false;
  for (const InputTrack& t : tracks)
    if (t.title.empty()) any_title_missing = true;
  if (any_title_missing) {
    std::printf("\n");
    for (size_t i = 0; i < tracks.size(); ++i) {
      if (!tracks[i].title.empty()) continue;
      char head[64];
      std::snprintf(head, sizeof head, "\033[33mTrack %zu Title\033[0m", i + 1);
      std::string prompt = head;
      std::string base = i < run.track_paths.size() ? base_name(run.track_paths[i]) : std::string();
      if (!base.empty()) prompt += " (\033[2m" + base + "\033[0m)";
      prompt += " : ";
      std::string a = ask(prompt);
      if (!a.empty()) tracks[i].title = a;
    }
  }
  if (cancel_requested()) return;
  std::printf("\033[1;36m\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\u2550\033[0m\n\n");
}

}  // namespace varn
