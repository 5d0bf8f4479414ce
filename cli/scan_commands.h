// The commands that scan an image: scan, restore and report. Each takes the
// arguments after the program name (argv[0] is the command's own name) and
// returns the process exit code: 0 done, 1 some files not restored, 2 bad
// arguments or an image that cannot be loaded.
#pragma once

#include <set>
#include <string>

#include "cli/command_arguments.h"
#include "core/image_scan.h"

namespace kestrix {

class ScanSession;

// The value of --map; empty when not given.
std::string mapArgument(const CommandArguments& arguments);
// The scan mode of --split and --signature-rules (default: precise).
ScanSettings scanSettingsFrom(const CommandArguments& arguments);
// Reads "IMAGE" and the options (flagNames plus --split,
// --signature-rules and --map FILE), chooses the rescue map (--map, else
// the one beside the image), then scans as the window's Scan command does. 0 when
// the list is ready; 2 after printing the problem (bad words, no plug-in,
// an image that cannot be opened, rows that could not be added).
int scanFromArguments(int argc, char** argv, std::set<std::string> flagNames, const char* usage,
                      CommandArguments& arguments, ScanSession& session);
// After a scan: 2 (with the message) when rows could not be added; else 0,
// with a warning on stderr when part of the image could not be read and
// was read as zeros, or when the rescue map says the copy is incomplete.
int checkScanOutcome(const ScanSession& session);
// Flushes standard output: 0, or 2 when anything written was lost.
int finishOutput();

int runScanCommand(int argc, char** argv);
int runRestoreCommand(int argc, char** argv);
int runReportCommand(int argc, char** argv);

}  // namespace kestrix
