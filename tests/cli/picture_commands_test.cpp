// kestrix-cli decode and thumbnail on photos made at test time: exit codes
// for photos cut part-way and for output that cannot be written, and the
// thumbnail of a greyscale photo.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct CommandRun {
  int exitCode = -1;
  std::string output;  // stdout and stderr
};

CommandRun Execute(const std::string& command) {
  CommandRun run;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

std::string Cli() { return std::string(std::getenv("KESTRIX_BIN_DIR")) + "/kestrix-cli"; }

class PictureCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = "/tmp/kx_picture_commands_" + std::to_string(getpid());
    const std::string make =
        "mkdir -p " + folder_ + " && convert -size 320x240 -seed 4 plasma:fractal " + folder_ +
        "/source.ppm && cjpeg -progressive " + folder_ + "/source.ppm > " + folder_ +
        "/progressive.jpg && cjpeg " + folder_ + "/source.ppm > " + folder_ +
        "/baseline.jpg && cjpeg -grayscale " + folder_ + "/source.ppm > " + folder_ +
        "/grey.jpg && convert -size 16x16 xc:gray " + folder_ + "/tiny.jpg";
    ASSERT_EQ(std::system(make.c_str()), 0);
  }
  static void TearDownTestSuite() { std::system(("rm -rf '" + folder_ + "'").c_str()); }

  static std::vector<char> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // The first `percent` per cent of a photo, as a file.
  static std::string CutCopy(const std::string& name, int percent) {
    const std::vector<char> bytes = Read(folder_ + "/" + name);
    const std::string path = folder_ + "/cut_" + std::to_string(percent) + "_" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(),
              static_cast<std::streamsize>(bytes.size() * std::size_t(percent) / 100));
    return path;
  }

  static std::string folder_;
};

std::string PictureCommands::folder_;

// Regression: a progressive photo cut anywhere decoded its filler without an
// error and exited 0, as if whole.
TEST_F(PictureCommands, DecodeOfAPhotoCutPartWayExits3) {
  struct Cut {
    const char* name;
    int percent;
  };
  // A baseline photo cut inside its headers has no rows at all (exit 2);
  // a progressive one has its headers and first scan in the first 5 %.
  for (const Cut& cut :
       {Cut{"progressive.jpg", 5}, Cut{"progressive.jpg", 20}, Cut{"progressive.jpg", 50},
        Cut{"progressive.jpg", 80}, Cut{"progressive.jpg", 95}, Cut{"baseline.jpg", 20},
        Cut{"baseline.jpg", 50}, Cut{"baseline.jpg", 95}}) {
    {
      const char* name = cut.name;
      const int percent = cut.percent;
      const CommandRun run =
          Execute(Cli() + " decode " + CutCopy(name, percent) + " " + folder_ + "/out.ppm");
      EXPECT_EQ(run.exitCode, 3) << name << " cut at " << percent << "%: " << run.output;
    }
  }
}

TEST_F(PictureCommands, DecodeOfAWholePhotoExits0) {
  for (const char* name : {"progressive.jpg", "baseline.jpg", "grey.jpg"}) {
    const CommandRun run =
        Execute(Cli() + " decode " + folder_ + "/" + name + " " + folder_ + "/out.ppm");
    EXPECT_EQ(run.exitCode, 0) << name << ": " << run.output;
  }
}

// Regression: the write error of the final flush went unnoticed (an output
// smaller than the stream's buffer is written only when it is closed).
TEST_F(PictureCommands, OutputThatCannotBeWrittenFails) {
  const CommandRun decode = Execute(Cli() + " decode " + folder_ + "/tiny.jpg /dev/full");
  EXPECT_EQ(decode.exitCode, 1) << decode.output;
  EXPECT_NE(decode.output.find("cannot write"), std::string::npos);
  const CommandRun thumbnail = Execute(Cli() + " thumbnail " + folder_ + "/baseline.jpg /dev/full");
  EXPECT_EQ(thumbnail.exitCode, 1) << thumbnail.output;
}

// Regression: a write that failed part-way (a full disk) left a partial
// picture at OUT, or cut short the file that was there. Now the picture goes
// to a temporary beside OUT and is renamed only once whole. A file size limit
// (ulimit -f, its signal ignored) makes writes in the folder fail like a full
// disk does.
struct WriteFailure {
  const char* name;
  const char* command;  // decode or thumbnail
  bool limitFileSize;   // the folder's disk is "full"
  bool outExists;       // OUT holds an older file, which must stay
  const char* out;      // under the scratch folder; absolute when it starts with '/'
};

class PictureOutputFailures : public PictureCommands,
                              public ::testing::WithParamInterface<WriteFailure> {};

TEST_P(PictureOutputFailures, LeaveNothingBehindAndSayWhy) {
  const WriteFailure& row = GetParam();
  const std::string folder = folder_ + "/" + row.name;
  ASSERT_EQ(std::system(("rm -rf '" + folder + "' && mkdir '" + folder + "'").c_str()), 0);
  const std::string out = row.out[0] == '/' ? row.out : folder + "/" + row.out;
  if (row.outExists) std::ofstream(out) << "older picture";
  const std::string limit = row.limitFileSize ? "trap '' XFSZ; ulimit -f 8; " : "";
  const CommandRun run = Execute("sh -c \"" + limit + Cli() + " " + row.command + " " + folder_ +
                                 "/baseline.jpg " + out + "\"");
  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("cannot write " + out + ": "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("nothing was written"), std::string::npos) << run.output;
  const CommandRun listing = Execute("ls -A '" + folder + "'");
  EXPECT_EQ(listing.output, row.outExists ? std::string(row.out) + "\n" : "")
      << "left in the folder";
  if (row.outExists) {
    const std::vector<char> kept = Read(out);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "older picture");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, PictureOutputFailures,
    ::testing::Values(
        WriteFailure{"decode_to_full_device", "decode", false, false, "/dev/full"},
        WriteFailure{"decode_into_full_folder", "decode", true, false, "out.ppm"},
        WriteFailure{"decode_over_older_file_on_full_disk", "decode", true, true, "out.ppm"},
        WriteFailure{"decode_into_missing_folder", "decode", false, false, "missing/out.ppm"},
        WriteFailure{"thumbnail_to_full_device", "thumbnail", false, false, "/dev/full"},
        WriteFailure{"thumbnail_into_full_folder", "thumbnail", true, false, "thumb.ppm"},
        WriteFailure{"thumbnail_over_older_file_on_full_disk", "thumbnail", true, true,
                     "thumb.ppm"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PictureCommands, AWrittenPictureLeavesNoTemporaryBeside) {
  const std::string folder = folder_ + "/whole";
  ASSERT_EQ(std::system(("rm -rf '" + folder + "' && mkdir '" + folder + "'").c_str()), 0);
  std::ofstream(folder + "/out.ppm") << "older picture";
  ASSERT_EQ(Execute(Cli() + " decode " + folder_ + "/baseline.jpg " + folder + "/out.ppm").exitCode,
            0);
  ASSERT_EQ(
      Execute(Cli() + " thumbnail " + folder_ + "/baseline.jpg " + folder + "/thumb.ppm").exitCode,
      0);
  EXPECT_EQ(Execute("ls -A '" + folder + "'").output, "out.ppm\nthumb.ppm\n");
  EXPECT_EQ(Read(folder + "/out.ppm").size(),
            std::string("P6\n320 240\n255\n").size() + 320 * 240 * 3);
  struct stat info {};
  ASSERT_EQ(stat((folder + "/out.ppm").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~CurrentUmask())
      << "a new file's permissions, not the temporary's 0600";
}

// Regression: the thumbnail of a greyscale photo was all white.
TEST_F(PictureCommands, ThumbnailOfAGreyscalePhotoIsItsPicture) {
  const CommandRun run =
      Execute(Cli() + " thumbnail " + folder_ + "/grey.jpg " + folder_ + "/thumb.ppm");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::vector<char> ppm = Read(folder_ + "/thumb.ppm");
  const std::string header = "P6\n100 75\n255\n";
  ASSERT_EQ(ppm.size(), header.size() + 100 * 75 * 3);
  int white = 0;
  int grey = 0;
  for (std::size_t i = header.size(); i + 2 < ppm.size(); i += 3) {
    white += static_cast<unsigned char>(ppm[i]) == 255;
    grey += ppm[i] == ppm[i + 1] && ppm[i] == ppm[i + 2];
  }
  EXPECT_LT(white, 100 * 75 / 10);
  EXPECT_EQ(grey, 100 * 75);
}

}  // namespace
