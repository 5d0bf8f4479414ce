// The check pool: every row of a results list is checked
// (core/candidate_check.h) on two threads, one per core, and its thumbnail
// is made from the same work, so a row's bytes are decoded once. It starts
// with the scan's first published rows and grows with the list; rows are
// handed out by one PriorityRowQueue, the rows on screen first. Each thread
// has its own EngineSet from the host (an extraction binds an engine).
//
//   CheckPool pool(listener, {image, &list, &host, drawing, helperPath}, generation);
//   pool.start();
//   pool.extend(published);   // per published batch
//   pool.prefer(onScreen);    // whenever the view scrolls
//   pool.close();             // the scan ended
//
// A row's thumbnail: a JPEG's 100 × 75 cell comes with its check; a movie's
// frame from the thumbnailer process (imaging/movie/MovieFrameReader, which
// the pool owns); any other picture (a PNG) from the owner's
// ThumbnailDrawing, since the image library that reads it is the window's.
//
// Threading: the threads report each checked row, the progress and the end
// as a CheckReport to the CheckPoolListener, on the pool's threads; the
// owner turns them into events of its own thread. The pool itself is
// started, fed, stopped and destroyed on the owner's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/priority_row_queue.h"
#include "host/engine_set.h"
#include "imaging/movie/movie_frame.h"
#include "imaging/movie/movie_frame_reader.h"
#include "jobs/job_thread.h"

namespace kestrix {

class CandidateBytes;
class CandidateList;
class ImageFile;
class PluginHost;

// A row's thumbnail: RGB, 3 bytes a pixel, `stride` bytes a line, top line
// first (the 100 × 75 cell of core/candidate_check.h, or the drawing's).
struct ThumbnailPixels {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<uint8_t> rgb;  // height * stride bytes
};

// What the pool reports, each tagged with the generation it was started
// with, so that a report queued before a clear is known as stale.
namespace check_report {
struct RowChecked {  // once per row taken, after its check was stored
  int generation = 0;
  int32_t row = -1;
  std::optional<ThumbnailPixels> thumbnail;  // none: nothing decoded
};
struct Progress {  // the first 16 rows one by one, then every 16th and the last
  int generation = 0;
  int32_t finished = 0;
  int32_t total = 0;
};
struct AllChecked {  // every row of a closed pool; once, by the last thread
  int generation = 0;
};
}  // namespace check_report

using CheckReport =
    std::variant<check_report::RowChecked, check_report::Progress, check_report::AllChecked>;

class CheckPoolListener {
 public:
  virtual ~CheckPoolListener() = default;
  // Called on the pool's threads, both at once.
  virtual void post(CheckReport report) = 0;
};

// The pictures the pool cannot draw itself, lent by the owner. Called on the
// pool's threads, several at once; an unset function draws nothing.
struct ThumbnailDrawing {
  // The thumbnail of a picture file's bytes (`extension` with its dot,
  // ".png"); nullopt when they do not decode. Asked for every row that is no
  // movie and whose check made no cell.
  std::function<std::optional<ThumbnailPixels>(const uint8_t* data, uint64_t size,
                                               const std::string& extension)>
      picture;
  // The thumbnail of a movie's frame (its length drawn on it).
  std::function<std::optional<ThumbnailPixels>(const MovieFrame& frame)> movieFrame;
};

// What the pool checks, and with what.
struct CheckPoolInput {
  const ImageFile* image = nullptr;  // null: every row is reported unchecked
  CandidateList* list = nullptr;     // the rows; outlives the pool
  const PluginHost* host = nullptr;  // null (no plug-ins): rows needing an extraction get no check
  ThumbnailDrawing drawing;
  std::string movieHelperPath;  // the movie thumbnailer; empty: beside the program
};

class CheckPool {
 public:
  // Both cores of the machines the program is made for; the checks are
  // decoding with little waiting, so more threads would only share them.
  static constexpr int kThreads = 2;
  // Rows between two progress reports: a card of 100,000 finds must not
  // flood the owner's thread with events.
  static constexpr int32_t kRowsPerProgressSignal = 16;

  CheckPool(CheckPoolListener& listener, CheckPoolInput input, int generation);
  ~CheckPool();  // stops and joins
  CheckPool(const CheckPool&) = delete;
  CheckPool& operator=(const CheckPool&) = delete;

  // Starts the threads; false when none could start.
  bool start();
  // Stops every thread and joins it; rows not reached stay unchecked.
  void stop();
  bool isActive() const;

  // The list now has `rows` published rows (it only grows).
  void extend(int32_t rows) { rows_.extend(rows); }
  // Rows the user sees now: checked first.
  void prefer(const std::vector<int32_t>& rows) { rows_.prefer(rows); }
  // No more rows will come. True when every row was checked already: the
  // caller finishes the run itself, since no thread will say so.
  bool close() { return rows_.close(); }
  int32_t total() const { return rows_.total(); }
  int32_t finished() const { return rows_.finished(); }

 private:
  class Worker : public JobThread {
   public:
    Worker(CheckPool& pool, EngineSet engines) : pool_(pool), engines_(std::move(engines)) {
      setPeriod(0);
    }
    ~Worker() override { stop(); }

   protected:
    int32_t run() override;

   private:
    CheckPool& pool_;
    EngineSet engines_;  // this thread's alone
  };

  // Checks `row` with the calling thread's engines and stores the check;
  // the thumbnail made on the way, if any.
  std::optional<ThumbnailPixels> checkRow(int32_t row, EngineSet& engines) const;
  std::optional<ThumbnailPixels> movieThumbnail(const CandidateBytes& bytes) const;

  CheckPoolListener& listener_;
  const CheckPoolInput input_;
  const MovieFrameReader movieReader_;  // read() is safe on both threads
  const int generation_;
  PriorityRowQueue rows_;
  std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kestrix
