#include "cli/stop_signals.h"

#include <signal.h>

#include <atomic>

namespace kestrix {

namespace {

std::atomic<int> caughtSignal{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "the handler may only touch lock-free atomics");

void noteSignal(int number) { caughtSignal.store(number); }

}  // namespace

void catchStopSignals() {
  struct sigaction action {};
  action.sa_handler = noteSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocking write returns EINTR and the loop asks again.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested() { return caughtSignal.load() != 0; }

int stopExitCode() { return 128 + caughtSignal.load(); }

}  // namespace kestrix
