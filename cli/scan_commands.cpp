#include "cli/scan_commands.h"
#include "cli/cli_texts.h"

#include <cstdio>
#include <set>
#include <string>

#include "cli/command_arguments.h"
#include "cli/json_text.h"
#include "cli/scan_check.h"
#include "cli/scan_session.h"
#include "texts/restore_list_writer.h"
#include "texts/row_texts.h"

namespace kestrix {

namespace {

// One row as the listings print it, made once: where the find lies, its
// candidate (check, sectors, EXIF), and the window's texts of every column.
struct ListedRow {
  CandidateInfo info;
  const Candidate* candidate = nullptr;
  RowTexts texts;
};

bool listedRow(const CandidateList& list, int32_t row, ListedRow& out) {
  out.candidate = list.candidateAt(row + 1);
  if (out.candidate == nullptr || !list.candidateInfo(row, out.info)) return false;
  out.texts = rowTexts(*out.candidate, out.info.name);
  return true;
}

// EXIF texts come from the card and may hold any byte: a tab or a line
// break inside one would split the line, so control characters print as
// spaces in the tab-separated listing (the JSON listing escapes them).
std::string field(std::string text) {
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  return text;
}

// The verdict of a checked row, and its size in pixels (0 when unknown).
struct RowCheck {
  const char* verdict;
  int width;
  int height;
  bool reassembled;  // joined from pieces (core/fragment_joiner.h)
};

RowCheck rowCheck(const Candidate& candidate) {
  if (!candidate.checked()) return {VerdictText(Verdict::Unknown), 0, 0, false};
  const CheckResult& check = candidate.check();
  return {VerdictText(check.verdict), check.width, check.height,
          !candidate.find().fragments.empty()};
}

// The default listing: name, start, end, then size, model, shot date, GPS,
// maker and byte order;
// with `withCheck` then verdict, width and height; with `withMap` the find's
// unreadable sectors last. Rows not listed in `mode` are left out.
void printRows(const CandidateList& list, ScanMode mode, bool withCheck, bool withMap) {
  for (int32_t row = 0; row < list.itemCount(); ++row) {
    ListedRow listed;
    if (!listedRow(list, row, listed) || !isListed(mode, *listed.candidate)) continue;
    const CandidateInfo& info = listed.info;
    std::printf("%s\t%llu\t%llu", field(info.name).c_str(),
                static_cast<unsigned long long>(info.find.start),
                static_cast<unsigned long long>(info.find.end));
    using Column = RowTexts::Column;
    for (const Column column : {Column::Size, Column::Model, Column::ShotDate, Column::Gps,
                                Column::Maker, Column::Endian}) {
      std::printf("\t%s", field(listed.texts[column]).c_str());
    }
    const Candidate* candidate = listed.candidate;
    if (withCheck && candidate != nullptr) {
      const RowCheck check = rowCheck(*candidate);
      std::printf("\t%s%s\t%d\t%d", check.verdict,
                  check.reassembled ? cliText(CliText::ListedReassembled) : "", check.width,
                  check.height);
    }
    if (withMap) {
      std::printf("\t%llu", static_cast<unsigned long long>(candidate->unreadableSectors()));
    }
    std::printf("\n");
  }
}

// "unreadableSectors" only with a map: without one nothing is known, and 0
// would claim the find is whole.
void printJson(const CandidateList& list, ScanMode mode, bool withCheck, bool withMap) {
  std::string out = "[";
  for (int32_t row = 0; row < list.itemCount(); ++row) {
    ListedRow listed;
    if (!listedRow(list, row, listed) || !isListed(mode, *listed.candidate)) continue;
    const CandidateInfo& info = listed.info;
    const Candidate* candidate = listed.candidate;
    const RowTexts& texts = listed.texts;
    using Column = RowTexts::Column;
    if (out.size() > 1) out += ",";
    out += "\n  {\"name\": " + jsonString(info.name);
    out += ", \"start\": " + std::to_string(info.find.start);
    out += ", \"end\": " + std::to_string(info.find.end);
    out += ", \"type\": " + jsonString(typeText(info.find));
    if (!info.find.parent.empty()) out += ", \"parent\": " + jsonString(info.find.parent);
    out += ", \"size\": " + std::to_string(info.find.size());
    out += ", \"sizeText\": " + jsonString(texts[Column::Size]);
    out += ", \"model\": " + jsonString(texts[Column::Model]);
    out += ", \"date\": " + jsonString(texts[Column::ShotDate]);
    out += std::string(", \"gps\": ") + (candidate->hasGps() ? "true" : "false");
    out += ", \"maker\": " + jsonString(texts[Column::Maker]);
    out += ", \"endian\": " + jsonString(texts[Column::Endian]);
    out += ", \"shotDate\": " + jsonString(info.shotDate);
    out += std::string(", \"hasExif\": ") + (candidate->hasExif() ? "true" : "false");
    if (withCheck) {
      const RowCheck check = rowCheck(*candidate);
      out += std::string(", \"verdict\": \"") + check.verdict + "\"";
      out += ", \"width\": " + std::to_string(check.width);
      out += ", \"height\": " + std::to_string(check.height);
      if (check.reassembled) {
        out += ", \"fragments\": [";
        const FilePieces& fragments = info.find.fragments;
        for (size_t i = 0; i < fragments.size(); ++i) {
          out += (i == 0 ? "[" : ", [") + std::to_string(fragments[i].start) + ", " +
                 std::to_string(fragments[i].end) + "]";
        }
        out += "]";
      }
    }
    if (withMap)
      out += ", \"unreadableSectors\": " + std::to_string(candidate->unreadableSectors());
    out += "}";
  }
  out += out.size() > 1 ? "\n]\n" : "]\n";
  std::fputs(out.c_str(), stdout);
}

}  // namespace

std::string mapArgument(const CommandArguments& arguments) {
  const auto value = arguments.values.find("--map");
  return value != arguments.values.end() ? value->second : std::string();
}

ScanSettings scanSettingsFrom(const CommandArguments& arguments) {
  ScanSettings settings;
  const bool split = arguments.flags.count("--split") != 0;
  if (arguments.flags.count("--signature-rules") != 0) {
    settings.mode = split ? ScanMode::SignatureRulesSplit : ScanMode::SignatureRules;
  } else {
    settings.mode = split ? ScanMode::PreciseSplit : ScanMode::Precise;
  }
  return settings;
}

int finishOutput() {
  // A listing cut short by a full disk or a closed pipe must not pass for
  // a complete one.
  const bool flushed = std::fflush(stdout) == 0;
  return flushed && std::ferror(stdout) == 0 ? 0 : 2;
}

int scanFromArguments(int argc, char** argv, std::set<std::string> flagNames, const char* usage,
                      CommandArguments& arguments, ScanSession& session) {
  flagNames.insert({"--split", "--signature-rules"});
  arguments = CommandArguments::parse(argc, argv, flagNames, {"--map"});
  if (!arguments.problem.empty() || arguments.positional.size() != 1) {
    printError(arguments.problem.empty() ? usage : arguments.problem);
    return 2;
  }
  // Without an engine an empty list would read as an empty card.
  if (!session.hasEngines()) return 2;
  std::string error;
  if (!session.chooseMap(arguments.positional[0], mapArgument(arguments), error)) {
    printError(error);
    return 2;
  }
  if (!session.scan(arguments.positional[0], scanSettingsFrom(arguments), error)) {
    printError(error);
    return 2;
  }
  return checkScanOutcome(session);
}

int checkScanOutcome(const ScanSession& session) {
  // A row the list could not take is a find the user would never see.
  if (session.summary().appendFailures != 0) {
    printError(cliFormat(CliText::RowsNotAdded,
                         static_cast<unsigned long long>(session.summary().appendFailures)));
    return 2;
  }
  const uint64_t lost = session.image() != nullptr ? session.image()->unreadableBytes() : 0;
  if (lost != 0) {
    printError(cliFormat(CliText::ImageBytesUnreadable,
                         static_cast<unsigned long long>((lost + 1023) / 1024)));
  }
  if (session.map() != nullptr && session.image() != nullptr) {
    const uint64_t unread = unreadImageBytes(*session.map(), session.image()->size());
    if (unread != 0) {
      printError(cliFormat(CliText::ImageIncomplete,
                           static_cast<unsigned long long>(mebibytesRoundedUp(unread))));
    }
  }
  return 0;
}

int runScanCommand(int argc, char** argv) {
  CommandArguments arguments;
  ScanSession session;
  if (const int problem = scanFromArguments(argc, argv, {"--json", "--check"},
                                            cliText(CliText::ScanUsage), arguments, session)) {
    return problem;
  }
  // Nothing is decoded without --check: the plain scan stays a scan.
  const bool withCheck = arguments.flags.count("--check") != 0;
  if (withCheck) checkSessionRows(session);
  if (arguments.flags.count("--json")) {
    printJson(session.list(), session.mode(), withCheck, session.map() != nullptr);
  } else {
    printRows(session.list(), session.mode(), withCheck, session.map() != nullptr);
  }
  return finishOutput();
}

int runReportCommand(int argc, char** argv) {
  CommandArguments arguments;
  ScanSession session;
  if (const int problem =
          scanFromArguments(argc, argv, {}, cliText(CliText::ReportUsage), arguments, session)) {
    return problem;
  }
  std::string text;
  // False for an empty list: the two headings are still the report.
  writeRestoreList(session.image(), session.list(), text);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return finishOutput();
}

}  // namespace kestrix
