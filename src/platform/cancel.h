// A stop the user asked for (Ctrl-C, SIGTERM), or a host through its
// control channel. The signal handler or the channel's reader only records
// it; the long loops (DST coding, image writing, copying, hashing) poll it
// and give up their work without a message, and the front end removes the
// run's files and says so once.
#pragma once

namespace varn {

// True once a stop was asked for. One relaxed atomic load: cheap enough to
// ask per frame or per megabyte.
bool cancel_requested();

// What `cancel_signal` says when a host asked for the stop.
constexpr int kStopByHost = -2;

// The signal that asked for the stop, kStopByHost, or 0 when nothing did.
int cancel_signal();

// Records a stop (a signal number, or kStopByHost); true when it is the
// first one. Async-signal-safe.
bool request_cancel(int signal_number);

// Forgets a recorded stop (the start of a run).
void clear_cancel();

}  // namespace varn
