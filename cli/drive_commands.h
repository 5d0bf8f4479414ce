// The commands that touch drives: list them, and copy one into a disk image.
// Each takes the words from the command's name on (argv[0] is the name) and
// returns the exit code: 0 done; 1 the copy started but failed (image not
// created, drive not opened, write error, interrupted); 2 bad arguments, an
// existing image without --yes, or a drive the probe refused.
#pragma once

namespace kestrix {

// kestrix-cli drives: one drive-list entry per line.
int runDrivesCommand(int argc, char** argv);
// kestrix-cli image SOURCE OUT [--yes]: the result text on stdout as it is
// (CR LF line ends), progress on stderr when that is a terminal, messages on
// stderr.
int runImageCommand(int argc, char** argv);

}  // namespace kestrix
