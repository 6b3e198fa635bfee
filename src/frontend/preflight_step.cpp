// The metadata pre-flight of a run: the album as it will be written,
// checked on its own and against what the disc structures can hold.
#include <cstdio>

#include "frontend/album_fields.h"
#include "frontend/stages.h"
#include "metadata/preflight.h"
#include "sacd/layout.h"
#include "sacd/master_toc.h"
#include "sacd/text_encoding.h"

namespace varn {

AlbumMeta album_meta_for_run(const PackRun& run) {
  const PackJob& job = run.job;
  AlbumMeta a;
  // The disc text falls back to the first track's tags when the options
  // give no album or artist; check what will be written.
  a.album = !job.album.empty() || run.tracks.empty() ? job.album : run.tracks[0].album;
  a.artist = !job.artist.empty() || run.tracks.empty() ? job.artist : run.tracks[0].artist;
  a.genre = job.genre;
  a.year = job.year;
  a.date = job.date;
  a.catalog = job.catalog;
  a.barcode = job.barcode;
  a.copyright = job.copyright;
  a.label = job.label;
  a.composer = job.composer;
  a.conductor = job.conductor;
  a.orchestra = job.orchestra;
  a.disc_number = job.disc_number;
  a.disc_total = job.disc_total;
  a.cover_path = job.cover_path;
  for (size_t i = 0; i < run.tracks.size(); ++i) {
    TrackMeta t;
    t.number = static_cast<int32_t>(i + 1);
    t.title = run.tracks[i].title;
    t.artist = run.tracks[i].artist;
    auto isrc = job.track_isrcs.find(static_cast<int32_t>(i));
    if (isrc != job.track_isrcs.end()) t.isrc = isrc->second;
    a.tracks.push_back(std::move(t));
  }
  return a;
}

// Limits of the SACD structures themselves that depend on the planned
// layout: the album and disc texts must fit the Master Text, or the disc
// would carry them cut.
std::vector<MetaIssue> preflight_layout_checks(const PackRun& run, const AlbumMeta&) {
  std::vector<MetaIssue> issues;
  DiscLayout layout = run.layout;  // planned with the run's tracks
  copy_album_fields(run.job, layout);
  const uint8_t charset = disc_charset(layout.album, layout.artist, run.tracks, layout.label);
  if (!master_text_fits(layout, charset)) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "album and disc texts need %zu bytes of the Master Text, which holds %zu -- "
                  "shorten the album title, artist, label or copyright",
                  master_text_bytes(layout, charset), kMasterTextRoom);
    issues.push_back(MetaIssue{2, "disc", text});
  }
  // Players and rippers read DSD64 areas only; other rates are written as
  // asked, with one warning that names them.
  std::string rates;
  for (const InputTrack& t : run.tracks) {
    const std::string rate = std::to_string(t.sample_rate) + " Hz";
    if (t.sample_rate != 2822400 && rates.find(rate) == std::string::npos)
      rates += (rates.empty() ? "" : ", ") + rate;
  }
  if (!rates.empty())
    issues.push_back(MetaIssue{
        1, "disc",
        "audio at " + rates +
            ": SACD players and rippers read only 2822400 Hz (DSD64) areas (an SACD ripper processes 0 "
            "frames of a DSD128 area); the image is written as asked -- --dsd-disc keeps the files at "
            "their own rate"});
  return issues;
}



// Errors stop the run unless the job allows them.
StageResult stage_preflight(PackRun& run) {
  const AlbumMeta album = album_meta_for_run(run);
  std::vector<MetaIssue> issues = preflight_album(album);
  for (MetaIssue& extra : preflight_layout_checks(run, album)) issues.push_back(std::move(extra));
  print_meta_issues(issues);
  const int errors = count_issues(issues, 2);
  if (errors > 0 && !run.job.allow_meta_errors) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "\n\xE2\x9D\x8C Metadata pre-flight failed (%d error(s)) -- packing stopped: a disc with wrong "
                 "metadata costs more than no disc at all.\n   Fix the metadata and re-run; to pack with errors "
                 "deliberately, add --allow-meta-errors.\n",
                 errors);
    return 1;
  }
  return std::nullopt;
}

}  // namespace varn
