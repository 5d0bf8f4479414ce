// kestrix-cli: one table row per command. A command group lives in its own
// source file and declares its entry points in a header.
#include <cstdio>
#include <cstring>

#include "cli/image_commands.h"
#include "cli/cli_texts.h"
#include "cli/media_commands.h"
#include "cli/scan_commands.h"

namespace kestrix {
namespace {

using CommandFunction = int (*)(int argc, char** argv);

struct Command {
  const char* name;
  CommandFunction run;
  CliText usage;
  CliText summary;
};

// Each function gets the words from the command's name on (argv[0] is the
// name) and returns the exit code.
constexpr Command kCommands[] = {
    // name        entry point         usage / summary
    {"scan", runScanCommand, CliText::ScanHelp, CliText::ScanSummary},
    {"restore", runRestoreCommand, CliText::RestoreHelp, CliText::RestoreSummary},
    {"report", runReportCommand, CliText::ReportHelp, CliText::ReportSummary},
    {"decode", runDecodeCommand, CliText::DecodeHelp, CliText::DecodeSummary},
    {"thumbnail", runThumbnailCommand, CliText::ThumbnailHelp, CliText::ThumbnailSummary},
    {"drives", runDrivesCommand, CliText::DrivesHelp, CliText::DrivesSummary},
    {"image", runImageCommand, CliText::ImageHelp, CliText::ImageSummary},
};

void printUsage(std::FILE* to, const Command& command) {
  std::fprintf(to, "  kestrix-cli %s\n      %s\n", cliText(command.usage),
               cliText(command.summary));
}

void printHelp(std::FILE* to) {
  std::fputs(cliText(CliText::HelpHeading), to);
  for (const Command& command : kCommands) printUsage(to, command);
  std::fputs(cliText(CliText::HelpExitCodes), to);
}

}  // namespace
}  // namespace kestrix

int main(int argc, char** argv) {
  using namespace kestrix;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    printHelp(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) != 0) continue;
    // "--help" among a command's options asks for its usage, not for a
    // run; after "--" it is a file name like any other word.
    for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
      if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
        printUsage(stdout, command);
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
      }
    }
    return command.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, cliText(CliText::UnknownCommand), argv[1]);
  printHelp(stderr);
  return 2;
}
