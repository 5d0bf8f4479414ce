#include "core/image_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kestrix {

namespace {

// What an empty image points at: data() is never null.
const uint8_t kEmptyImage[1] = {0};

long pageSize() {
  static const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? size : 4096;
}

// Closes the descriptor on every way out: the mapping outlives it.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

const char* loadStatusMessage(LoadStatus status) {
  switch (status) {
    case LoadStatus::Loaded:
      return "";
    case LoadStatus::NotFound:
      return "イメージファイルが見つかりません。";
    case LoadStatus::OpenFailed:
      return "イメージファイルへのアクセスが拒否されました。";
    case LoadStatus::NotAnImage:
      return "イメージファイルではありません（パイプ、FIFO、キャラクタデバイス、フォルダは読み込めません）。";
    case LoadStatus::ReadFailed:
      return "イメージファイルの読み込みに失敗しました。";
  }
  return "";
}

ImageOpenResult ImageFile::open(const std::string& path) {
  ImageOpenResult result;
  if (path.empty()) {
    result.status = LoadStatus::NotFound;
    return result;
  }
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
  // for ever. It has no effect on regular files and block devices.
  Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
  if (file.fd < 0) {
    result.status = errno == ENOENT || errno == ENOTDIR ? LoadStatus::NotFound
                    : errno == EISDIR                   ? LoadStatus::NotAnImage
                                                        : LoadStatus::OpenFailed;
    return result;
  }
  struct stat info {};
  if (fstat(file.fd, &info) != 0) return result;
  const bool regular = S_ISREG(info.st_mode);
  const bool block = S_ISBLK(info.st_mode);
  // A pipe or character device has no size and no fixed bytes to go back
  // to; a scan of it used to report an empty card.
  if (!regular && !block) {
    result.status = LoadStatus::NotAnImage;
    return result;
  }
  uint64_t size = static_cast<uint64_t>(info.st_size);
  if (block && ioctl(file.fd, BLKGETSIZE64, &size) != 0) return result;

  std::unique_ptr<ImageFile> image(new ImageFile());
  image->path_ = path;
  image->device_ = info.st_dev;
  image->inode_ = info.st_ino;
  image->blockDevice_ = block;
  image->size_ = size;
  if (size == 0) {
    image->data_ = kEmptyImage;
  } else {
    if (size > static_cast<uint64_t>(SIZE_MAX)) return result;
    void* mapping = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_SHARED, file.fd, 0);
    if (mapping == MAP_FAILED) return result;
    image->mapping_ = mapping;
    image->data_ = static_cast<const uint8_t*>(mapping);
  }
  result.status = LoadStatus::Loaded;
  result.image = std::move(image);
  return result;
}

ImageFile::~ImageFile() {
  if (mapping_ != nullptr) munmap(mapping_, static_cast<size_t>(size_));
}

void ImageFile::adviseSequential() const {
  if (mapping_ != nullptr) madvise(mapping_, static_cast<size_t>(size_), MADV_SEQUENTIAL);
}

void ImageFile::adviseRandom() const {
  if (mapping_ != nullptr) madvise(mapping_, static_cast<size_t>(size_), MADV_NORMAL);
}

void ImageFile::releaseRange(uint64_t start, uint64_t length) const {
  if (mapping_ == nullptr || start >= size_) return;
  if (length > size_ - start) length = size_ - start;
  // madvise works on whole pages; only pages wholly inside the range go.
  const uint64_t page = static_cast<uint64_t>(pageSize());
  const uint64_t first = (start + page - 1) / page * page;
  const uint64_t last = (start + length) / page * page;
  if (last <= first) return;
  madvise(static_cast<uint8_t*>(mapping_) + first, static_cast<size_t>(last - first),
          MADV_DONTNEED);
}

}  // namespace kestrix
