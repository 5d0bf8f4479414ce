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
  const char* usage;
  const char* summary;
};

// Each function gets the words from the command's name on (argv[0] is the
// name) and returns the exit code.
constexpr Command kCommands[] = {
    // name        entry point         usage / summary
    {"scan", runScanCommand,
     "scan IMAGE [--split] [--signature-rules] [--check] [--map FILE] [--json]",
     "scan a disk image and list the candidates (name, start, end, size, model, date, GPS, "
     "maker, byte order; --json: a JSON array; --split: every JPEG stream separately; "
     "--signature-rules: find by the header/footer rules instead of the precise scan; "
     "--check: also decode every find on both cores and add its verdict (intact, damaged, "
     "truncated, unknown), width and height). With a rescue map (--map FILE, ours or GNU "
     "ddrescue's, else IMAGE.map unless an IMAGE.part without an IMAGE.part.map lies beside it) "
     "every candidate also gets "
     "its 512-byte sectors the copy could not read (last column; JSON \"unreadableSectors\"), "
     "and an incomplete image is warned about"},
    {"restore", runRestoreCommand,
     "restore IMAGE DEST [--split] [--signature-rules] [--set-file-time] [--tidy PREFIX:DIGITS] "
     "[--check [--only intact|damaged|truncated]] [--map FILE] [NAME...]",
     "scan (--split, --signature-rules as for scan), optionally rename (PREFIX + DIGITS-digit "
     "serial + extension), and write the named "
     "candidates (all when none is named) into the existing folder DEST; --set-file-time dates "
     "the files from the EXIF shot date; --check --only VERDICT writes only the candidates "
     "the check gives that verdict; exit 1 when any file could not be written"},
    {"report", runReportCommand, "report IMAGE [--split] [--signature-rules] [--map FILE]",
     "scan (--split, --signature-rules as for scan) and print the restore list (CR LF line ends)"},
    {"decode", runDecodeCommand, "decode FILE OUT",
     "decode a JPEG with the program's own decoder into a binary PPM (PGM for greyscale); "
     "exit 2 when nothing decodes, 3 when decoding stopped part-way (the rows decoded are "
     "written)"},
    {"thumbnail", runThumbnailCommand, "thumbnail FILE OUT.ppm",
     "load a .jpg or .bmp file and write its 100 x 75 thumbnail as a PPM"},
    {"drives", runDrivesCommand, "drives",
     "list the drives (disks, partitions, card readers) that can be copied"},
    {"image", runImageCommand, "image SOURCE OUT [--yes | --resume] [--retries N]",
     "copy a whole drive (a block device, or a file standing in for one) into the disk image "
     "OUT: good areas first, then the edges and insides of failed areas sector by sector, then "
     "N more passes over bad sectors (--retries). OUT.map (GNU ddrescue's mapfile format) says "
     "which bytes were read; until the copy finishes the image is OUT.part and its map "
     "OUT.part.map. --resume continues from OUT.part.map (else OUT.map) and reads only what is "
     "not finished (the map of another drive is refused; "
     "bad sectors of a finished copy are read again only with --retries). "
     "Ctrl-C saves the map. An existing OUT, OUT.part, OUT.part.map or OUT.map is replaced only "
     "with --yes, and OUT and OUT.map only once the new copy is complete. A destination on the "
     "source drive is refused."},
};

void printUsage(std::FILE* to, const Command& command) {
  std::fprintf(to, "  kestrix-cli %s\n      %s\n", command.usage, command.summary);
}

void printHelp(std::FILE* to) {
  std::fprintf(to, "kestrix-cli: recover photos and movie clips from a disk image\n\n");
  for (const Command& command : kCommands) printUsage(to, command);
  std::fprintf(to,
               "\nExit codes: 0 done; 1 some files could not be written, or the copy failed; "
               "2 bad arguments, an unreadable image or drive, or nothing decoded; 3 a decode "
               "stopped part-way.\n");
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
