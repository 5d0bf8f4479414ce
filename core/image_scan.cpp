#include "core/image_scan.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "core/candidate_list.h"
#include "core/find_structure.h"
#include "engine/scan_engine.h"
#include "host/engine_set.h"

namespace kestrix {

int32_t engineModeValue(ScanMode mode) {
  switch (mode) {
    case ScanMode::SignatureRules: return ScanModeNormal;
    case ScanMode::SignatureRulesSplit: return ScanModeSplit;
    case ScanMode::Precise: return ScanModePrecise;
    case ScanMode::PreciseSplit: return ScanModePreciseSplit;
  }
  return ScanModePrecise;
}

bool isPrecise(ScanMode mode) {
  return mode == ScanMode::Precise || mode == ScanMode::PreciseSplit;
}

bool isSplit(ScanMode mode) {
  return mode == ScanMode::SignatureRulesSplit || mode == ScanMode::PreciseSplit;
}

bool isListed(ScanMode mode, const Candidate& candidate) {
  return isSplit(mode) || candidate.find().parent.empty();
}

namespace {

// More than the longest signature an engine searches for (PNG's 8 bytes, a
// movie atom's size and type): a signature that starts before this far from
// the bound lies wholly inside it.
constexpr uint64_t kSignatureOverlap = 64;

// One find as the engines report it, before it is named and made a Find.
struct Hit {
  size_t pass = 0;  // index into the passes (registry order)
  uint64_t start = 0;
  uint64_t end = 0;
  bool dropped = false;  // a part of another find in the normal precise mode
  std::string name;      // set when it is listed
  Hit(size_t passIndex, uint64_t from, uint64_t to) : pass(passIndex), start(from), end(to) {}
  // Its structure on the whole image, walked only when another find lies
  // inside it: only a whole file holds others, and only inside its spans.
  bool walked = false;
  bool whole = false;
  ByteSpans holds;
};

// One extension's walk over the image.
//
// Invariants: `resume` only grows; a pending find was decided on bytes the
// engine was allowed to see (its end lies inside the bound it was found
// with, or it was found on the whole image), so it stays valid for every
// later window.
struct TypePass {
  std::string key;                    // registry key, with its dot
  std::string extension;              // without the dot: what engines and names use
  FileType type = FileType::Unknown;  // of the extension, for every decision above the engine
  ScanEngine* engine = nullptr;
  size_t thread = 0;  // 0: the caller's thread; 1: the thread beside it
  int32_t engineMode = ScanModeNormal;
  bool done = false;
  uint32_t counter = 0;  // the next "%08u" of this extension

  // Signature rules: the engine's last answer, not yet handed out.
  bool started = false;
  uint64_t position = 0;  // FindNext's result: one past the hit
  uint64_t out = 0;       // FindNext's size
  uint64_t previous = 0;  // the last position handed out; positions must grow

  // Precise modes.
  uint64_t resume = 0;  // where the next FindNext searches from
  bool pending = false;
  uint64_t pendingStart = 0;
  uint64_t pendingEnd = 0;
  // Where the search goes on after a find cut by the image's end: a movie
  // atom "to the end of the file" may be followed by other files. 0: the
  // usual place (see preciseWindow).
  uint64_t pendingResume = 0;

  // Rows of a later type wait for the end of the scan, so the list keeps
  // registry order; the first type's rows go out at once.
  struct Held {
    std::string name;
    Find find;
  };
  std::vector<Held> held;
};

// The plug-in modes the engine of each extension is given. The signature
// rules keep the scan's old habit: once a PNG or MOV extension has been
// passed (their rows' endsSignatureSplit), no later extension is scanned in
// split mode (only JPEG knows it).
void assignEngineModes(std::vector<TypePass>& passes, ScanMode mode) {
  bool split = mode == ScanMode::SignatureRulesSplit;
  for (TypePass& pass : passes) {
    if (isPrecise(mode)) {
      pass.engineMode = engineModeValue(mode);
      continue;
    }
    const FileTypeRow* row = fileTypeRow(pass.type);
    if (row != nullptr && row->endsSignatureSplit) split = false;
    pass.engineMode = split ? ScanModeSplit : ScanModeNormal;
  }
}

// What each engine was last bound to. Binding again to the same bytes in
// the same mode is skipped: Attach drops an engine's remembered searches,
// and the extensions of one plug-in share one engine, so each would search
// the window again from scratch for what the one before it already found.
struct Binding {
  const ScanEngine* engine;
  uint64_t bound;
  int32_t mode;
};

void attach(TypePass& pass, const ImageBlock& image, uint64_t bound,
            std::vector<Binding>& bindings) {
  for (Binding& binding : bindings) {
    if (binding.engine != pass.engine) continue;
    if (binding.bound == bound && binding.mode == pass.engineMode) return;
    binding.bound = bound;
    binding.mode = pass.engineMode;
    pass.engine->Attach(image.data(), lowHalf(bound), highHalf(bound), pass.extension.c_str(),
                        pass.engineMode);
    return;
  }
  bindings.push_back({pass.engine, bound, pass.engineMode});
  pass.engine->Attach(image.data(), lowHalf(bound), highHalf(bound), pass.extension.c_str(),
                      pass.engineMode);
}

uint64_t findNext(TypePass& pass, uint64_t from, uint64_t* size) {
  *size = 0;
  return pass.engine->FindNext(lowHalf(from), highHalf(from), size, pass.extension.c_str());
}

// The scan's second thread, kept for the whole scan: one task at a time,
// handed over per window (a thread per window would cost more than a small
// window's search). An exception of the task is carried to wait().
class BesideThread {
 public:
  BesideThread() : thread_([this] { loop(); }) {}
  ~BesideThread() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  BesideThread(const BesideThread&) = delete;
  BesideThread& operator=(const BesideThread&) = delete;

  void start(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      task_ = std::move(task);
      error_ = nullptr;
    }
    wake_.notify_all();
  }
  // Waits for the task given to start, and rethrows what it threw.
  void wait() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !task_; });
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
  }

 private:
  void loop() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return quit_ || task_; });
      if (!task_) return;  // quit with nothing left to do
      lock.unlock();
      std::exception_ptr error;
      try {
        task_();
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      error_ = error;
      task_ = nullptr;
      wake_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::function<void()> task_;  // set while a task is given and not finished
  std::exception_ptr error_;
  bool quit_ = false;
  std::thread thread_;  // last: started once the members above exist
};

class WindowedScan {
 public:
  WindowedScan(const ImageBlock& image, CandidateList& list, const ScanSettings& settings,
               const ScanCallbacks& callbacks, std::vector<TypePass>& passes)
      : image_(image), list_(list), settings_(settings), callbacks_(callbacks), passes_(passes) {
    for (const TypePass& pass : passes_) twoThreads_ = twoThreads_ || pass.thread == 1;
  }

  ScanSummary run() {
    const uint64_t size = image_.size();
    const uint64_t window = std::max<uint64_t>(settings_.windowBytes, 1);
    image_.adviseSequential();
    report(0);
    uint64_t released = 0;
    for (uint64_t windowStart = 0; windowStart < size || windowStart == 0;) {
      const uint64_t windowEnd = size - windowStart > window ? windowStart + window : size;
      windowStart_ = windowStart;
      windowEnd_ = windowEnd;
      std::vector<Hit> finds;
      if (!scanWindow(windowEnd, finds)) {
        summary_.stopped = true;
        image_.adviseRandom();
        return summary_;
      }
      resolve(finds);
      // What lies behind this window is not read again by the scan.
      if (windowStart > released) {
        image_.releaseRange(released, windowStart - released);
        released = windowStart;
      }
      if (windowEnd >= size) break;
      windowStart = windowEnd;
    }
    for (TypePass& pass : passes_) {
      for (TypePass::Held& row : pass.held) append(row.name, std::move(row.find));
      pass.held.clear();
    }
    image_.adviseRandom();
    report(100);
    report(0);
    return summary_;
  }

 private:
  // Every pass over one window. With a second engine set, the passes of the
  // thread beside run at the same time as the first type's, on their own
  // engines: each type's search is bound by how fast memory delivers the
  // window, and two cores fetch it about twice as fast. A pass touches only
  // its own state and its own thread's engine and bindings, and the finds
  // are joined in pass order, so the results are those of one thread.
  bool scanWindow(uint64_t windowEnd, std::vector<Hit>& finds) {
    if (!twoThreads_) return scanPasses(0, windowEnd, finds);
    if (!beside_) beside_ = std::make_unique<BesideThread>();
    std::vector<Hit> besideFinds;
    bool besideOk = true;
    beside_->start([&] { besideOk = scanPasses(1, windowEnd, besideFinds); });
    bool ok = true;
    std::exception_ptr error;
    try {
      ok = scanPasses(0, windowEnd, finds);
    } catch (...) {
      error = std::current_exception();
    }
    beside_->wait();  // first: the task uses this frame's locals
    if (error) std::rethrow_exception(error);
    finds.insert(finds.end(), std::make_move_iterator(besideFinds.begin()),
                 std::make_move_iterator(besideFinds.end()));
    if (image_.size() != 0) report(static_cast<int>(windowEnd * 100 / image_.size()));
    return ok && besideOk;
  }

  // The passes of one thread over the window, in registry order. Only the
  // caller's thread reports progress: the callbacks' progress is not made
  // for two threads, while their shouldContinue is (a job's atomic flag).
  bool scanPasses(size_t thread, uint64_t windowEnd, std::vector<Hit>& finds) {
    const uint64_t size = image_.size();
    for (size_t i = 0; i < passes_.size(); ++i) {
      TypePass& pass = passes_[i];
      if (pass.thread != thread) continue;
      if (!pass.done) {
        const bool ok = isPrecise(settings_.mode) ? preciseWindow(pass, i, windowEnd, finds)
                                                  : signatureWindow(pass, i, windowEnd, finds);
        if (!ok) return false;
      }
      if (thread != 0) continue;
      const uint64_t span = windowEnd - windowStart_;
      const size_t reportedPasses = twoThreads_ ? 1 : passes_.size();
      report(size == 0 ? 100
                       : static_cast<int>((windowStart_ + span * std::min(i + 1, reportedPasses) /
                                                              reportedPasses) *
                                          100 / size));
    }
    return true;
  }

  bool keepGoing() const { return !callbacks_.shouldContinue || callbacks_.shouldContinue(); }
  void report(int percent) {
    reported_ = std::clamp(percent, 0, 100);
    if (callbacks_.progress) callbacks_.progress(reported_);
  }
  // Progress inside the window: pass `index` has got to `position`. A
  // window can be a whole small card, so the bar moves with the finds, not
  // only between windows; only a higher percent is reported.
  void reportWithin(size_t index, uint64_t position) {
    const uint64_t size = image_.size();
    if (!callbacks_.progress || size == 0 || passes_.empty()) return;
    if (passes_[index].thread != 0) return;
    // Beside another thread, the first type's pass stands for the window.
    const uint64_t parts = twoThreads_ ? 1 : passes_.size();
    const uint64_t span = windowEnd_ - windowStart_;
    const uint64_t done = std::clamp(position, windowStart_, windowEnd_) - windowStart_;
    const uint64_t reached = windowStart_ + (span / parts) * index + done / parts;
    const int percent = static_cast<int>(std::min<uint64_t>(reached, size) * 100 / size);
    if (percent > reported_) report(percent);
  }

  // The signature rules, exactly as one pass over the whole image: the
  // engine is bound to every byte, so only the hand-out is windowed.
  bool signatureWindow(TypePass& pass, size_t index, uint64_t windowEnd, std::vector<Hit>& finds) {
    const uint64_t size = image_.size();
    attach(pass, image_, size, bindings_[pass.thread]);
    if (!pass.started) {
      pass.position = findNext(pass, 0, &pass.out);
      pass.started = true;
    }
    while (true) {
      // An engine that does not move forward would loop here for ever; its
      // extension ends at that point. A hit may end on the image's last byte.
      if (pass.position > size || pass.position <= pass.previous) {
        pass.done = true;
        return true;
      }
      // A hit of length 0 is no file, and a length beyond the position would
      // put the start before the image: both are passed over unnamed.
      const bool hit = pass.out != 0 && pass.out <= pass.position;
      if (hit && pass.position - pass.out >= windowEnd) return true;  // the next window's
      if (!keepGoing()) return false;
      reportWithin(index, pass.position);
      pass.previous = pass.position;
      if (hit) finds.push_back(Hit{index, pass.position - pass.out, pass.position});
      if (pass.position >= size) {
        pass.done = true;
        return true;
      }
      pass.position = findNext(pass, pass.position, &pass.out);
    }
  }

  // The precise modes: bound to the window plus the margin; a find the
  // bound cut short is decided again on the whole image.
  bool preciseWindow(TypePass& pass, size_t index, uint64_t windowEnd, std::vector<Hit>& finds) {
    const uint64_t size = image_.size();
    const uint64_t margin = std::max(settings_.marginBytes, kSignatureOverlap);
    const uint64_t bound = size - windowEnd > margin ? windowEnd + margin : size;
    attach(pass, image_, bound, bindings_[pass.thread]);
    while (true) {
      if (!pass.pending) {
        uint64_t out = 0;
        uint64_t position = findNext(pass, pass.resume, &out);
        bool found = out != 0 && out <= position && position <= bound;
        if (!found) {
          // A movie of the other brand starts at `position` and reaches the
          // bound: where it ends, and so where this type's search goes on,
          // only the whole image can tell.
          if (out == 0 && position < bound && position >= pass.resume) {
            pass.resume = std::max(pass.resume, pastOtherMovie(pass, position));
            if (pass.resume >= size) {
              pass.done = true;
              return true;
            }
            continue;
          }
          // No find starts between resume and the bound; and as the margin
          // is at least kSignatureOverlap, no signature starting before the
          // window's end was cut by the bound.
          if (bound >= size) {
            pass.done = true;
          } else {
            pass.resume = std::max(pass.resume, windowEnd);
          }
          return true;
        }
        if (position == bound && bound < size) {
          // The engine ran out of bytes: only the whole image can decide.
          attach(pass, image_, size, bindings_[pass.thread]);
          position = findNext(pass, pass.resume, &out);
          attach(pass, image_, bound, bindings_[pass.thread]);
          found = out != 0 && out <= position && position <= size;
          if (!found) {
            pass.done = true;
            return true;
          }
        }
        // Finds come in order of their starts; an engine that goes back
        // would loop for ever.
        if (position - out < pass.resume) {
          pass.done = true;
          return true;
        }
        const uint64_t start = position - out;
        pass.pendingResume = 0;
        if (position == size) {
          // Ended by the image's end: a file cut short only when what lies
          // before the end proves one. Bytes that merely open like a file
          // (an atom header whose size runs past the card, an SOI with a
          // segment length) are no find, and hide nothing after them.
          const FindStructure cut = walkFind(image_, pass.type, start, false);
          if (cut.kind == FindStructure::Kind::NotAFile) {
            pass.resume = start + 1;
            if (pass.resume >= size) {
              pass.done = true;
              return true;
            }
            continue;
          }
          if (cut.kind == FindStructure::Kind::Cut) pass.pendingResume = cut.resume;
          // A whole movie followed by the start of an atom the image cuts:
          // the movie ends before it.
          if (cut.kind == FindStructure::Kind::Whole && cut.end > start && cut.end < size) {
            position = cut.end;
          }
        }
        pass.pending = true;
        pass.pendingStart = start;
        pass.pendingEnd = position;
      }
      if (pass.pendingStart >= windowEnd) return true;  // the next window's
      if (!keepGoing()) return false;
      reportWithin(index, pass.pendingEnd);
      finds.push_back(Hit{index, pass.pendingStart, pass.pendingEnd});
      pass.pending = false;
      // A JPEG is searched again from inside (its row's searchedFromInside):
      // the engine passes over the thumbnails and previews of a whole photo
      // (or gives them as finds in the split mode), and a find that is no
      // whole photo (a false opening whose segment lengths run on into the
      // next photo) must not hide the photos it overlaps. Other types hold
      // no files of their own type worth listing, and a search from inside a
      // movie would take its inner atoms for movies.
      const FileTypeRow* row = fileTypeRow(pass.type);
      if (row != nullptr && row->searchedFromInside) {
        pass.resume = pass.pendingStart + 1;
      } else if (pass.pendingResume > pass.pendingStart) {
        pass.resume = pass.pendingResume;
      } else {
        pass.resume = pass.pendingEnd;
      }
      if (pass.resume >= size) {
        pass.done = true;
        return true;
      }
    }
  }

  // Where the search of `pass` goes on after the movie of the other brand at
  // `start`: after it when it is a movie on the whole image (its atoms are
  // its own, never movies of their own), where its atom "to the end of the
  // file" begins when it is a movie cut by the image's end, and at the next
  // byte when it is none.
  uint64_t pastOtherMovie(const TypePass& pass, uint64_t start) const {
    const FindStructure other = walkFind(image_, pass.type, start, false);
    switch (other.kind) {
      case FindStructure::Kind::Whole:
      case FindStructure::Kind::Damaged: return std::max(other.end, start + 1);
      case FindStructure::Kind::Cut: return std::max(other.resume, start + 1);
      case FindStructure::Kind::Unknown:
      case FindStructure::Kind::NotAFile: break;
    }
    return start + 1;
  }

  // Whether `holder` (a find of a pass) holds [start, end) as a part: it is a
  // whole file on the image and one of its spans (a movie's media data, a
  // JPEG's APPn payload or further image, a PNG chunk) holds the range. A
  // cut, damaged or unverified find holds nothing, however far it reaches.
  bool holdsPart(Hit& holder, uint64_t start, uint64_t end) const {
    if (!holder.walked) {
      FindStructure walked = walkFind(image_, passes_[holder.pass].type, holder.start, true);
      holder.walked = true;
      holder.whole = walked.kind == FindStructure::Kind::Whole && walked.end == holder.end;
      holder.holds = std::move(walked.holds);
      // A type the scan has no walker for: its engine's range is its word.
      if (walked.kind == FindStructure::Kind::Unknown) {
        holder.whole = true;
        holder.holds = {ByteSpan{holder.start, holder.end}};
      }
    }
    if (!holder.whole) return false;
    for (const ByteSpan& span : holder.holds) {
      if (span.holds(start, end)) return true;
    }
    return false;
  }

  // Names the window's finds and lists them. In the precise modes a find
  // inside another (of this window or an earlier one still open) is dropped
  // (normal) or gets that find as its parent (split).
  void resolve(std::vector<Hit>& finds) {
    if (finds.empty()) return;
    std::vector<Hit*> parents(finds.size(), nullptr);
    std::vector<Hit*> parentsOfOpen;
    if (isPrecise(settings_.mode)) {
      // One sweep over open containers and this window's finds, by start,
      // longest first: the stack holds the finds that may still contain
      // what comes next, innermost on top.
      std::vector<Hit*> order;
      order.reserve(open_.size() + finds.size());
      for (Hit& find : open_) order.push_back(&find);
      for (Hit& find : finds) order.push_back(&find);
      std::stable_sort(order.begin(), order.end(), [](const Hit* a, const Hit* b) {
        if (a->start != b->start) return a->start < b->start;
        return a->end > b->end;
      });
      // Every find on the stack reaches over the one at hand; the innermost
      // that holds it as a part (not merely overlaps it) is its parent.
      std::vector<Hit*> stack;
      for (Hit* find : order) {
        while (!stack.empty() && stack.back()->end < find->end) stack.pop_back();
        const bool isNew = find >= finds.data() && find < finds.data() + finds.size();
        for (auto it = stack.rbegin(); isNew && it != stack.rend(); ++it) {
          Hit* holder = *it;
          // Two finds of one range are two readings of one file, not a
          // file inside another.
          if (holder->start == find->start && holder->end == find->end) continue;
          if (!holdsPart(*holder, find->start, find->end)) continue;
          parents[static_cast<size_t>(find - finds.data())] = holder;
          if (!isSplit(settings_.mode)) find->dropped = true;
          break;
        }
        stack.push_back(find);
      }
    }
    // Names go out per extension in the order the engine reported the finds.
    for (Hit& find : finds) {
      if (find.dropped) continue;
      TypePass& pass = passes_[find.pass];
      char serial[16];
      std::snprintf(serial, sizeof serial, "%08u", pass.counter++);  // "%08u.%s"
      find.name = std::string(serial) + "." + pass.extension;
    }
    for (size_t i = 0; i < finds.size(); ++i) {
      Hit& find = finds[i];
      if (find.dropped) continue;
      TypePass& pass = passes_[find.pass];
      // The one place a find becomes the record every layer above uses.
      Find listed(pass.type, find.start, find.end);
      if (parents[i] != nullptr) listed.parent = parents[i]->name;
      listed.plainRange = isPrecise(settings_.mode);
      if (listed.type == FileType::Unknown) listed.unknownExtension = pass.extension;
      if (find.pass == 0) {
        append(find.name, std::move(listed));
      } else {
        pass.held.push_back({find.name, std::move(listed)});
      }
    }
    // Only a find reaching past where the next find may start can hold it.
    uint64_t nextStart = UINT64_MAX;
    for (const TypePass& pass : passes_) {
      if (!pass.done)
        nextStart = std::min(nextStart, pass.pending ? pass.pendingStart : pass.resume);
    }
    std::vector<Hit> stillOpen;
    for (Hit& find : open_) {
      if (find.end > nextStart) stillOpen.push_back(std::move(find));
    }
    for (Hit& find : finds) {
      if (find.end > nextStart) stillOpen.push_back(std::move(find));
    }
    open_ = std::move(stillOpen);
  }

  void append(const std::string& name, Find find) {
    if (list_.addCandidate(name, image_.data(), std::move(find))) {
      ++summary_.added;
    } else {
      ++summary_.appendFailures;
    }
  }

  const ImageBlock& image_;
  CandidateList& list_;
  const ScanSettings& settings_;
  const ScanCallbacks& callbacks_;
  std::vector<TypePass>& passes_;
  std::vector<Hit> open_;                 // finds of earlier windows that reach past the last one
  std::vector<Binding> bindings_[2];      // per thread: each binds only its own engines
  bool twoThreads_ = false;               // some pass runs beside the caller's thread
  std::unique_ptr<BesideThread> beside_;  // last: joined before the passes it uses go
  ScanSummary summary_;
  uint64_t windowStart_ = 0;  // the window being scanned, for the progress inside it
  uint64_t windowEnd_ = 0;
  int reported_ = -1;  // the last percent reported
};

}  // namespace

ScanSummary scanImage(const ImageBlock& image, EngineSet& engines,
                      const std::vector<std::string>& extensions, CandidateList& list,
                      const ScanSettings& settings, const ScanCallbacks& callbacks,
                      EngineSet* besideEngines) {
  std::vector<TypePass> passes;
  for (const std::string& key : extensions) {
    TypePass pass;
    pass.key = key;
    pass.extension = !key.empty() && key[0] == '.' ? key.substr(1) : key;
    pass.type = fileTypeOf(pass.extension);
    pass.engine = engines.engineFor(pass.extension.c_str());
    // The first type (the photos, whose walk is the scan's longest) stays
    // on the caller's thread; the others go beside it on engines of their
    // own. Types of one thread share its engines, and so their searches.
    if (besideEngines != nullptr && !passes.empty() && pass.engine != nullptr) {
      ScanEngine* beside = besideEngines->engineFor(pass.extension.c_str());
      if (beside != nullptr) {
        pass.engine = beside;
        pass.thread = 1;
      }
    }
    passes.push_back(std::move(pass));
  }
  // Modes follow every registered extension, handled or not.
  assignEngineModes(passes, settings.mode);
  std::erase_if(passes, [](const TypePass& pass) { return pass.engine == nullptr; });
  if (passes.empty()) return {};
  WindowedScan scan(image, list, settings, callbacks, passes);
  return scan.run();
}

}  // namespace kestrix
