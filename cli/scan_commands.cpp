#include "cli/scan_commands.h"

#include <cstdio>
#include <set>
#include <string>

#include "cli/command_arguments.h"
#include "cli/json_text.h"
#include "cli/scan_session.h"
#include "engine/scan_engine.h"
#include "jobs/restore_list_writer.h"

namespace kestrix {

namespace {

std::string cell(const CandidateList& list, int32_t row, int32_t column) {
  std::string text;
  list.itemText(row, column, text);
  return text;
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

// The default listing: name, start, end, then columns 3, 1, 2, 4, 5, 6.
void printRows(const CandidateList& list) {
  for (int32_t row = 0; row < list.itemCount(); ++row) {
    CandidateInfo info;
    if (!list.candidateInfo(row, info)) continue;
    std::printf("%s\t%llu\t%llu", field(info.name).c_str(),
                static_cast<unsigned long long>(info.start),
                static_cast<unsigned long long>(info.end));
    for (const int32_t column : {3, 1, 2, 4, 5, 6}) {
      std::printf("\t%s", field(cell(list, row, column)).c_str());
    }
    std::printf("\n");
  }
}

void printJson(const CandidateList& list) {
  std::string out = "[";
  for (int32_t row = 0; row < list.itemCount(); ++row) {
    CandidateInfo info;
    const Candidate* candidate = list.candidateAt(row + 1);
    if (!list.candidateInfo(row, info) || candidate == nullptr) continue;
    if (out.size() > 1) out += ",";
    out += "\n  {\"name\": " + jsonString(info.name);
    out += ", \"start\": " + std::to_string(info.start);
    out += ", \"end\": " + std::to_string(info.end);
    out += ", \"size\": " + std::to_string(info.end - info.start);
    out += ", \"sizeText\": " + jsonString(cell(list, row, CandidateList::ColumnSize));
    out += ", \"model\": " + jsonString(cell(list, row, CandidateList::ColumnModel));
    out += ", \"date\": " + jsonString(cell(list, row, CandidateList::ColumnShotDate));
    out += std::string(", \"gps\": ") +
           (cell(list, row, CandidateList::ColumnGps) == kGpsPresentText ? "true" : "false");
    out += ", \"maker\": " + jsonString(cell(list, row, CandidateList::ColumnMaker));
    out += ", \"endian\": " + jsonString(cell(list, row, CandidateList::ColumnEndian));
    out += ", \"shotDate\": " + jsonString(info.shotDate);
    out += std::string(", \"hasExif\": ") + (candidate->hasExif() ? "true" : "false") + "}";
  }
  out += out.size() > 1 ? "\n]\n" : "]\n";
  std::fputs(out.c_str(), stdout);
}

// Reads "IMAGE" and the given options, then scans the image as the Scan
// command does. 0 when the list is ready; 2 after printing the problem.
int scanFromArguments(int argc, char** argv, const std::set<std::string>& flagNames,
                      const char* usage, CommandArguments& arguments, ScanSession& session) {
  arguments = CommandArguments::parse(argc, argv, flagNames);
  if (!arguments.problem.empty() || arguments.positional.size() != 1) {
    printError(arguments.problem.empty() ? usage : arguments.problem);
    return 2;
  }
  std::string error;
  const int32_t mode = arguments.flags.count("--split") ? ScanModeSplit : ScanModeNormal;
  if (!session.scan(arguments.positional[0], mode, error)) {
    printError(error);
    return 2;
  }
  return 0;
}

}  // namespace

int runScanCommand(int argc, char** argv) {
  CommandArguments arguments;
  ScanSession session;
  if (const int problem = scanFromArguments(argc, argv, {"--split", "--json"},
                                            "使い方: kestrix-cli scan IMAGE [--split] [--json]",
                                            arguments, session)) {
    return problem;
  }
  if (arguments.flags.count("--json")) {
    printJson(session.list());
  } else {
    printRows(session.list());
  }
  return std::fflush(stdout) == 0 ? 0 : 2;
}

int runReportCommand(int argc, char** argv) {
  CommandArguments arguments;
  ScanSession session;
  if (const int problem = scanFromArguments(argc, argv, {"--split"},
                                            "使い方: kestrix-cli report IMAGE [--split]",
                                            arguments, session)) {
    return problem;
  }
  std::string text;
  // False for an empty list: the two headings are still the report.
  writeRestoreList(session.image(), session.list(), text);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 2;
}

}  // namespace kestrix
