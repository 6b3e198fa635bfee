#include "frontend/album_fields.h"

namespace varn {

void copy_album_fields(const PackJob& job, DiscLayout& l) {
  l.output_path = job.output_path;
  l.album = job.album;
  l.artist = job.artist;
  l.genre = job.genre;
  l.catalog = job.catalog;
  l.year = job.year;
  l.label = job.label;
  l.composer = job.composer;
  l.conductor = job.conductor;
  l.orchestra = job.orchestra;
  l.barcode = job.barcode;
  l.date = job.date;
  l.copyright = job.copyright;
  l.disc_number = job.disc_number;
  l.disc_total = job.disc_total;
  l.track_artists = job.track_artists;
  l.isrc_by_track = job.track_isrcs;
  l.cover_path = job.cover_path;
  l.no_manifest = job.no_manifest;
}

}  // namespace varn
