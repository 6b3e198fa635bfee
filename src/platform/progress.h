// How far the long steps have come, for a front end that shows it. Nothing
// is shown, and the calls cost one atomic operation, until a front end sets
// a sink.
#pragma once

#include <cstdint>

namespace varn {

// The units of `done` and `total`: files for reading, frames for DST
// coding, bytes for writing and hashing.
enum class ProgressStep : uint8_t { Reading, Encoding, Writing, Hashing };
constexpr int kProgressSteps = 4;

enum class ProgressPhase : uint8_t { Begin, Update, End };

struct ProgressEvent {
  ProgressStep step = ProgressStep::Reading;
  ProgressPhase phase = ProgressPhase::Update;
  uint64_t done = 0;
  uint64_t total = 0;
};

// Receives every event, from whichever thread made it; an update sink is
// expected to return at once (it is called per frame or per megabyte).
using ProgressSink = void (*)(const ProgressEvent& event);

// Routes the events to `sink`; nullptr drops them.
void set_progress_sink(ProgressSink sink);

// A step of `total` units starts, advances by `units` (any thread), ends.
void progress_begin(ProgressStep step, uint64_t total);
void progress_add(ProgressStep step, uint64_t units);
void progress_end(ProgressStep step);

}  // namespace varn
