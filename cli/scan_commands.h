// The commands that scan an image: scan, restore and report. Each takes the
// arguments after the program name (argv[0] is the command's own name) and
// returns the process exit code: 0 done, 1 some files not restored, 2 bad
// arguments or an image that cannot be loaded.
#pragma once

namespace kestrix {

int runScanCommand(int argc, char** argv);
int runRestoreCommand(int argc, char** argv);
int runReportCommand(int argc, char** argv);

}  // namespace kestrix
