// Ctrl-C and SIGTERM for the long commands: instead of dying with a file
// half-written, the command hears the request between steps, removes what it
// had not finished, says what it did, and exits non-zero.
#pragma once

namespace kestrix {

// Installs the handlers (once); they only note the signal.
void catchStopSignals();
// True once SIGINT or SIGTERM arrived.
bool stopRequested();
// The exit code for a command stopped by a signal: 128 + its number.
int stopExitCode();

}  // namespace kestrix
