#include "cli/scan_session.h"

#include <cstdio>

#include "platform/program_path.h"

namespace kestrix {

void printError(const std::string& message) {
  std::string text;
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
    text += message[i];
  }
  std::fprintf(stderr, "%s\n", text.c_str());
}

ScanSession::ScanSession() : image_(&host_, this) {
  if (host_.LoadFolder(programFolder()) == 0) {
    printError(NoPluginMessage);
    for (const std::string& line : host_.loadErrors()) printError(line);
  }
}

ScanSession::~ScanSession() { image_.stop(); }

bool ScanSession::scan(const std::string& imagePath, int32_t mode, std::string& error) {
  const LoadStatus status = image_.LoadImage(imagePath);
  if (status != LoadStatus::Loaded) {
    error = loadStatusMessage(status);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    scanEnded_ = false;
  }
  list_.clear();
  if (!image_.StartScan(&list_, mode)) {
    error = "スキャンを開始できませんでした。";
    return false;
  }
  // The same path as the window: wait for the thread's end message, then
  // join the finished thread.
  std::unique_lock<std::mutex> lock(mutex_);
  ended_.wait(lock, [this] { return scanEnded_; });
  lock.unlock();
  image_.stop();
  return true;
}

void ScanSession::post(JobMessage message, uint64_t, int64_t) {
  if (message != JobMessage::ScanEnded) return;
  std::lock_guard<std::mutex> lock(mutex_);
  scanEnded_ = true;
  ended_.notify_all();
}

}  // namespace kestrix
