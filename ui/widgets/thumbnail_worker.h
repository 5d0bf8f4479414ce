// The thumbnail worker: one run over the rows of the results list, making a
// thumbnail for each row that decodes. Image indices are handed out densely
// in row order, so the n-th picture that decodes becomes image n.
#pragma once

#include <cstdint>

#include "jobs/job_thread.h"

namespace kestrix {

class ResultList;

class ThumbnailWorker : public JobThread {
 public:
  // `generation` tags the pictures of this run, so the list can drop any
  // that arrive after it was cleared.
  ThumbnailWorker(ResultList& list, int generation);
  ~ThumbnailWorker() override;

 protected:
  // 1 after every row was tried; 0 when stopped part-way.
  int32_t run() override;

 private:
  ResultList& list_;
  const int generation_;
};

}  // namespace kestrix
