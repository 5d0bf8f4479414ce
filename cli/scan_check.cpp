#include "cli/scan_check.h"
#include "cli/cli_texts.h"

#include <cstdio>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/scan_session.h"
#include "core/candidate_check.h"
#include "core/fragment_joiner.h"

namespace kestrix {

namespace {

// Two checking threads: one for each core of a small machine; the checks
// are decoding work with little waiting, so more would only share the same
// cores.
constexpr int kCheckThreads = 2;

}  // namespace

void checkSessionRows(ScanSession& session, const std::function<bool()>& stopRequested) {
  if (session.image() == nullptr) return;
  CandidateList& list = session.list();
  CheckRowQueue rows(list.itemCount());
  CheckCallbacks callbacks;
  if (stopRequested) callbacks.shouldContinue = [&stopRequested] { return !stopRequested(); };
  // The extra threads get their own engines (an extraction binds one); the
  // calling thread uses the session's.
  std::vector<EngineSet> engineSets;
  for (int i = 1; i < kCheckThreads && rows.total() > 1; ++i) {
    engineSets.push_back(session.createEngineSet());
  }
  std::vector<std::thread> threads;
  for (EngineSet& engines : engineSets) {
    try {
      threads.emplace_back([&session, &engines, &list, &rows, &callbacks] {
        checkCandidates(*session.image(), &engines, list, rows, callbacks);
      });
    } catch (const std::system_error&) {
      break;  // no thread to be had: this one checks the rest alone
    }
  }
  checkCandidates(*session.image(), &session.engines(), list, rows, callbacks);
  for (std::thread& thread : threads) thread.join();
  // Split photos are searched for their pieces once every row is judged;
  // the signature rules list what they always listed.
  if (!isPrecise(session.mode()) || (stopRequested && stopRequested())) return;
  const JoinOutcome outcome = joinFragments(*session.image(), list);
  if (outcome.photosAtSeamLimit != 0) {
    std::fprintf(stderr, cliText(CliText::SeamLimitReached),
                 static_cast<unsigned long long>(outcome.photosAtSeamLimit),
                 static_cast<unsigned long long>(JoinLimits{}.seamsPerPhoto));
  }
  if (outcome.budget.cardLimitHit) {
    std::fprintf(stderr, cliText(CliText::JoinWorkLimitReached),
                 static_cast<unsigned long long>(JoinLimits{}.decodedBytesPerCard >> 20));
  }
}

}  // namespace kestrix
