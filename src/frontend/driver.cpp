// The packing driver: the body of varn_tessel_main.
#include "frontend/driver.h"

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "audio/dsdiff_reader.h"
#include "audio/dsf_reader.h"
#include "dst/dst_encoder.h"
#include "frontend/cli.h"
#include "frontend/console.h"
#include "frontend/host.h"
#include "frontend/input_checks.h"
#include "frontend/interactive.h"
#include "frontend/stages.h"
#include "frontend/title_from_name.h"
#include "frontend/track_order.h"
#include "platform/cancel.h"
#include "platform/exit_cleanup.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/report.h"

namespace varn {

namespace {

// The exit code of a run the host stopped.
constexpr int kHostStopped = -61;

// One input: read, complete the texts, stop check, DST.
// Returns an exit code when the run ends here.
std::optional<int> read_one_input(PackRun& run, const std::string& name) {
  InputTrack track;
  if (!run.job.album.title.empty()) track.album = run.job.album.title;
  if (!run.job.album.artist.empty()) track.artist = run.job.album.artist;

  // Every input is used or the run ends: a disc with a track missing is
  // no success.
  InputKind kind = input_kind(name);
  if (kind == InputKind::Unknown) {
    report_error("Unknown extension: %s\n", name.c_str());
    return 1;
  }
  // Plain audio stays in its file until the image is written (or the track
  // is coded), so that memory does not grow with the album.
  const Status error = kind == InputKind::Dsf ? read_dsf(name, track, true) : read_dsdiff(name, track, true);
  if (error) {
    report(*error);
    report_error("Failed to read: %s\n", name.c_str());
    return 1;
  }
  const bool title_from_tag = !track.title.empty();
  if (!title_from_tag) track.title = title_from_file_name(name);

  const size_t p = run.tracks.size();
  stage_cue_track_text(run, track, p, title_from_tag);
  auto title = run.job.track_titles.find(static_cast<int32_t>(p));
  if (title != run.job.track_titles.end()) track.title = title->second;
  auto artist = run.job.album.track_artists.find(static_cast<int32_t>(p));
  if (artist != run.job.album.track_artists.end()) track.artist = artist->second;
  // The album's composer for every track that names none of its own.
  if (track.composer.empty()) track.composer = run.job.album.composer;
  stage_cue_track_isrc(run, track, p);
  stage_dst_order(run, track);

  if (host_stop_requested()) return kHostStopped;
  if (auto r = stage_dst_encode(run, track, name)) return r;
  if (cancel_requested()) return 1;
  track.pause_frames = static_cast<uint32_t>(run.job.pause_frames);
  run.tracks.push_back(std::move(track));
  run.track_paths.push_back(name);
  return std::nullopt;
}

int pack(PackRun& run) {
  PackJob& job = run.job;
  if (auto r = stage_cue_import(run)) return *r;
  if (job.dsd_disc || job.verify_path.empty()) {
    if (auto r = check_track_numbers(job)) return *r;
    warn_repeated_inputs(job);
  }
  if (auto r = stage_dsd_disc(run)) return *r;
  if (auto r = stage_verify(run)) return *r;
  if (job.inputs.empty()) {
    std::fprintf(stderr, "No input files\n");
    return 1;
  }
  if (auto r = check_input_files(job)) return *r;
  if (auto r = check_cover_option(job)) return *r;
  if (!job.inspect_dir) {
    if (auto r = stage_check_outputs(run, sacd_image_name(job.output_path))) return *r;
  }
  progress_begin(ProgressStep::Reading, job.inputs.size());
  for (const std::string& name : job.inputs) {
    if (cancel_requested()) return 1;
    progress_add(ProgressStep::Reading, 1);
    if (auto r = read_one_input(run, name)) return *r;
  }
  progress_end(ProgressStep::Reading);
  if (run.tracks.empty()) {
    std::fprintf(stderr, "No valid tracks.\n");
    return 1;
  }
  sort_by_track_number(run);
  if (job.album.genre.empty() && !run.tracks[0].genre.empty()) job.album.genre = run.tracks[0].genre;
  if (job.album.year.empty() && !run.tracks[0].date.empty()) job.album.year = run.tracks[0].date;
  drop_unusable_picture(run);
  extract_cover(run);
  if (platform_stdin_is_tty()) complete_metadata_interactively(run);
  if (cancel_requested()) return 1;

  run.stereo_list.clear();
  run.multi_list.clear();
  for (size_t i = 0; i < run.tracks.size(); ++i)
    (in_stereo_area(run.tracks[i]) ? run.stereo_list : run.multi_list).push_back(i);
  if (auto r = stage_plan_layout(run)) return *r;
  if (auto r = stage_toc_dump(run)) return *r;
  if (!job.inspect_dir) job.output_path = sacd_image_name(job.output_path);
  if (auto r = stage_preflight(run)) return *r;
  if (cancel_requested()) return 1;
  if (auto r = stage_build_image(run)) return *r;
  return 0;
}

int run_command_line(int argc, char** argv, size_t& tracks_read) {
  try {
    std::vector<std::string> args;
    if (argv) {
      for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
    }
    host_pre_pass(args);
    platform_set_console_utf8();
    PackRun run;
    if (auto code = parse_command_line(args, run.job)) return *code;
    // The coder's switch is the process's: each run sets it, so that a
    // host's later runs do not inherit an earlier run's --no-simd.
    set_simd_enabled(!run.job.no_simd);
    const int code = pack(run);
    tracks_read = run.tracks.size();
    return code;
  } catch (const InvalidNumber& e) {
    std::fprintf(stderr, "Error: invalid number '%s' for %s\n", e.text.c_str(), e.option.c_str());
  } catch (const InvalidOption& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Error: unexpected failure\n");
  }
  return 1;
}

// A run cut short by a stop says so once; its exit code is that of a
// process ended by the signal.
int report_interrupted() {
  const int sig = cancel_signal();
  std::fprintf(stderr,
               "Interrupted (%s): stopped before finishing; nothing was written and any earlier outputs are as "
               "they were\n",
               sig == SIGTERM ? "SIGTERM" : "SIGINT");
  return 128 + (sig > 0 ? sig : SIGINT);
}

}  // namespace

int run_entry_point(int argc, char** argv) {
  // Only a caller that owns the process gives its signal handling over: the
  // first Ctrl-C then stops the run, which removes what it has written.
  clear_cancel();
  const bool owner = process_owner();
  if (owner) stop_on_signal(true);
  console_open();
  size_t tracks_read = 0;
  int code = run_command_line(argc, argv, tracks_read);
  console_close();
  if (owner) stop_on_signal(false);
  // A run that completed keeps its result, whenever the stop came; a host's
  // stop is taken only by the run it ended.
  const bool host_stop = code == kHostStopped || (code != 0 && cancel_signal() == kStopByHost);
  if (host_stop && take_host_stop_request()) {
    std::fprintf(stderr,
                 "\n[tessel] host requested stop (inproc control channel) -- packing aborted after %d complete "
                 "track(s), ISO is incomplete\n",
                 static_cast<int>(tracks_read));
    return kHostStopped;
  }
  if (code != 0 && cancel_requested()) code = report_interrupted();
  return code;
}

}  // namespace varn
