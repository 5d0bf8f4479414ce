// Disk image throughput: the copy job over a file-backed drive against
// dd bs=1M over the same source, both writing an image file, in one run;
// and a copy stopped half-way then resumed, with the bytes each part read.
// Run by hand: image_copy_bench [SOURCE] (default: a 1 GiB file made in
// the temporary folder). Reported as bytes per second per benchmark.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "jobs/copy_job.h"
#include "jobs/job_reporter.h"
#include "media/raw_drive.h"

namespace {

std::string source;
std::string target;

class SilentReporter : public kestrix::JobReporter {
 public:
  void post(const kestrix::JobReport&) override {}
  void setProgress(int) override {}
};

void BM_CopyJob(benchmark::State& state) {
  for (auto _ : state) {
    kestrix::RawDrive drive;
    if (drive.probe(source) != 0) {
      state.SkipWithError("probe failed");
      return;
    }
    SilentReporter reporter;
    kestrix::CopyJob job(drive, reporter);
    if (job.run(target, [] { return true; }) != kestrix::CopyOutcome::Finished) {
      state.SkipWithError("copy failed");
      return;
    }
  }
  state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(source));
}

void BM_Dd(benchmark::State& state) {
  const std::string command = "dd if='" + source + "' of='" + target + "' bs=1M status=none";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("dd failed");
  }
  state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(source));
}

// dd that also puts the image on the disk before it ends, as the copy job
// must before it names the image finished.
void BM_DdFsync(benchmark::State& state) {
  const std::string command =
      "dd if='" + source + "' of='" + target + "' bs=1M conv=fsync status=none";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("dd failed");
  }
  state.SetBytesProcessed(state.iterations() * std::filesystem::file_size(source));
}

// Stops the copy after half the device's runs, then resumes it: the resume
// must read the other half only.
void BM_StopThenResume(benchmark::State& state) {
  const uint64_t size = std::filesystem::file_size(source);
  for (auto _ : state) {
    kestrix::RawDrive drive;
    if (drive.probe(source) != 0) {
      state.SkipWithError("probe failed");
      return;
    }
    SilentReporter reporter;
    kestrix::CopyJob job(drive, reporter);
    uint64_t reads = 0;
    const uint64_t half = size / kestrix::CopyJob::kRunBytes / 2;
    if (job.run(target, [&] { return ++reads <= half; }) != kestrix::CopyOutcome::Stopped) {
      state.SkipWithError("copy did not stop");
      return;
    }
    state.counters["first_MiB_read"] = static_cast<double>(job.bytesRead()) / (1 << 20);
    state.counters["left_MiB"] = static_cast<double>(job.map().unfinishedBytes()) / (1 << 20);
    kestrix::CopyOptions resume;
    resume.resume = true;
    if (job.run(
            target, [] { return true; }, resume) != kestrix::CopyOutcome::Finished) {
      state.SkipWithError("resume failed");
      return;
    }
    state.counters["resume_MiB_read"] = static_cast<double>(job.bytesRead()) / (1 << 20);
  }
  state.SetBytesProcessed(state.iterations() * size);
}

BENCHMARK(BM_Dd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_CopyJob)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_DdFsync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_StopThenResume)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Dd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_CopyJob)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const auto folder = std::filesystem::temp_directory_path();
  target = (folder / "kx-bench-image.ksx").string();
  bool made = false;
  if (argc > 1) {
    source = argv[1];
  } else {
    source = (folder / "kx-bench-card.img").string();
    const std::string make = "head -c 1073741824 /dev/urandom > '" + source + "'";
    if (std::system(make.c_str()) != 0) return 1;
    made = true;
  }
  benchmark::RunSpecifiedBenchmarks();
  std::filesystem::remove(target);
  std::filesystem::remove(target + ".map");
  std::filesystem::remove(target + ".part");
  std::filesystem::remove(target + ".part.map");
  if (made) std::filesystem::remove(source);
  return 0;
}
