#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_arguments.h"
#include "cli/cli_texts.h"
#include "cli/scan_check.h"
#include "cli/scan_commands.h"
#include "cli/scan_session.h"
#include "cli/stop_signals.h"
#include "core/tidy_names.h"
#include "jobs/copy_job.h"
#include "jobs/job_reporter.h"
#include "jobs/restore_job.h"
#include "jobs/restore_preflight.h"
#include "media/device_identity.h"
#include "texts/job_texts.h"

namespace kestrix {

namespace {

bool isFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The rows named, in row order; every row when no name is given. False
// with the first unknown name in `unknown`.
bool chooseRows(const CandidateList& list, const std::vector<std::string>& names,
                std::vector<int32_t>& chosen, std::string& unknown) {
  const std::set<std::string> wanted(names.begin(), names.end());
  std::set<std::string> found;
  chosen.clear();
  for (int32_t row = 0; row < list.itemCount(); ++row) {
    std::string rowName;
    if (!list.itemName(row, rowName)) continue;
    if (!names.empty() && wanted.count(rowName) == 0) continue;
    chosen.push_back(row);
    found.insert(rowName);
  }
  for (const std::string& name : names) {
    if (found.count(name) == 0) {
      unknown = name;
      return false;
    }
  }
  return true;
}

// Keeps only the chosen rows whose check gave `verdict`.
void keepVerdict(const CandidateList& list, Verdict verdict, std::vector<int32_t>& chosen) {
  std::erase_if(chosen, [&](int32_t row) {
    const Candidate* candidate = list.candidateAt(row + 1);
    return candidate == nullptr || !candidate->checked() || candidate->check().verdict != verdict;
  });
}

}  // namespace

int runRestoreCommand(int argc, char** argv) {
  const CommandArguments arguments = CommandArguments::parse(
      argc, argv, {"--split", "--signature-rules", "--set-file-time", "--check"},
      {"--tidy", "--only", "--map"});
  if (!arguments.problem.empty() || arguments.positional.size() < 2) {
    printError(arguments.problem.empty() ? cliText(CliText::RestoreUsage) : arguments.problem);
    return 2;
  }
  const std::string& imagePath = arguments.positional[0];
  std::string destination = arguments.positional[1];
  while (destination.size() > 1 && destination.back() == '/') destination.pop_back();
  const std::vector<std::string> names(arguments.positional.begin() + 2,
                                       arguments.positional.end());

  const bool withCheck = arguments.flags.count("--check") != 0;
  // "unknown" is not offered: a restore by verdict is for finds that were
  // judged, and --only without --check would select by a verdict never made.
  Verdict onlyVerdict = Verdict::Unknown;
  const auto onlyValue = arguments.values.find("--only");
  if (onlyValue != arguments.values.end()) {
    if (!withCheck || !VerdictFromText(onlyValue->second, &onlyVerdict) ||
        onlyVerdict == Verdict::Unknown) {
      printError(cliText(withCheck ? CliText::OnlyWhichVerdict : CliText::OnlyNeedsCheck));
      printError(cliText(CliText::RestoreUsage));
      return 2;
    }
  }

  TidySettings tidy;
  const auto tidyValue = arguments.values.find("--tidy");
  if (tidyValue != arguments.values.end()) {
    const size_t colon = tidyValue->second.rfind(':');
    // Without a colon the digits are missing.
    TidyProblem problem = TidyProblem::DigitsInvalid;
    if (colon == std::string::npos ||
        !validateTidySettings(std::string_view(tidyValue->second).substr(0, colon),
                              std::string_view(tidyValue->second).substr(colon + 1), tidy,
                              &problem)) {
      printError(tidyProblemText(problem));
      return 2;
    }
  }
  // Checked before the scan: a typo should not cost a whole image load.
  if (!isFolder(destination)) {
    printError(cliFormat(CliText::NoDestinationFolder, destination.c_str()));
    return 2;
  }

  // Restoring onto the card being read would write over the very bytes
  // still to be rescued; an image file says nothing of where it came from.
  if (isOnSourceDevice(imagePath, destination)) {
    printError(destination + ": " + copyNoticeText(CopyNoticeDestinationOnSource));
    return 2;
  }

  ScanSession session;
  if (!session.hasEngines()) return 2;
  std::string error;
  if (!session.chooseMap(imagePath, mapArgument(arguments), error)) {
    printError(error);
    return 2;
  }
  catchStopSignals();
  if (!session.scan(imagePath, scanSettingsFrom(arguments), error, stopRequested)) {
    printError(error);
    return 2;
  }
  if (stopRequested()) {
    printError(cliText(CliText::StoppedBeforeRestore));
    return stopExitCode();
  }
  if (const int problem = checkScanOutcome(session)) return problem;
  CandidateList& list = session.list();
  if (!tidy.digitsText.empty()) tidyNames(list, tidy, list.itemCount());
  std::vector<int32_t> chosen;
  std::string unknown;
  if (!chooseRows(list, names, chosen, unknown)) {
    printError(cliFormat(CliText::NoSuchCandidate, unknown.c_str()));
    return 2;
  }
  if (withCheck) {
    checkSessionRows(session, stopRequested);
    if (stopRequested()) {
      printError(cliText(CliText::StoppedBeforeRestore));
      return stopExitCode();
    }
    if (onlyVerdict != Verdict::Unknown) keepVerdict(list, onlyVerdict, chosen);
    // The thumbnail of a photo the check joined is part of that photo now.
    std::erase_if(chosen, [&](int32_t row) {
      const Candidate* candidate = list.candidateAt(row + 1);
      return candidate != nullptr && !isListed(session.mode(), *candidate);
    });
  }

  // The chosen rows are known now: a folder that takes no files, has no room
  // for them or cannot hold one of their size is refused before the first
  // byte is written.
  const RestoreRefusal refusal = checkRestoreDestination(examineDestination(destination, imagePath),
                                                         plannedFiles(list, chosen));
  if (refusal) {
    std::string text;  // a terminal's lines end in LF alone
    for (const char ch : refusalText(refusal))
      if (ch != '\r') text += ch;
    printError(destination + ": " + text);
    return 2;
  }

  RestoreJob job;
  job.setDestination(destination);
  job.setSource(imagePath);
  job.setDateOption(arguments.flags.count("--set-file-time") ? kDateOptionSetFileTime : 0);
  job.restoreSelected(list, std::move(chosen), *session.image(), session.engines(), nullptr,
                      [] { return !stopRequested(); });

  const RestoreOutcome& outcome = job.outcome();
  for (const RestoredFile& file : outcome.files) {
    std::printf("%s\t%llu\n", file.path.c_str(), static_cast<unsigned long long>(file.bytes));
  }
  for (const RestoreFailure& failure : outcome.failures) {
    printError(cliFormat(CliText::NotRestored, failure.name.c_str(),
                         fileProblemText(failure.problem).c_str()));
  }
  if (outcome.stopped) {
    // The file being written when the signal came was removed; the listed
    // ones are complete but the folder was not flushed.
    std::printf(cliText(CliText::StoppedWhileRestoring), outcome.written);
    finishOutput();
    return stopExitCode();
  }
  std::printf(cliText(CliText::Restored), outcome.written);
  if (outcome.renamed != 0) {
    std::printf(cliText(CliText::RestoredRenamed), outcome.renamed);
  }
  if (!outcome.failures.empty()) {
    std::printf(cliText(CliText::RestoreFailures), outcome.failures.size());
  }
  if (finishOutput() != 0) return 2;
  return outcome.failures.empty() ? 0 : 1;
}

}  // namespace kestrix
