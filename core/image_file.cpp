#include "core/image_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

namespace kestrix {

namespace {

long pageSize();

// The mappings the SIGBUS handler may repair. The handler only reads this
// table with atomic loads; open and close update it under a lock.
constexpr int kMappingSlots = 64;
struct MappingSlot {
  std::atomic<uintptr_t> start{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<uint64_t> zeroedBytes{0};
};
MappingSlot mappingSlots[kMappingSlots];
std::mutex mappingSlotsLock;
// Read once when the handler is installed: the handler itself calls
// nothing that is not safe in a signal handler but mmap.
std::atomic<uintptr_t> handlerPageSize{4096};
struct sigaction previousBusAction;

void restoreDefaultAndRaise(int number) {
  sigaction(number, &previousBusAction, nullptr);
  raise(number);
}

void onBusError(int number, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (MappingSlot& slot : mappingSlots) {
    const uintptr_t start = slot.start.load(std::memory_order_acquire);
    if (start == 0 || address < start || address >= slot.end.load(std::memory_order_acquire))
      continue;
    const uintptr_t page = handlerPageSize.load(std::memory_order_relaxed);
    void* at = reinterpret_cast<void*>(address / page * page);
    // A private page of zeros in place of the one the kernel cannot read;
    // the faulting read then runs again and sees zeros.
    if (mmap(at, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
      break;
    slot.zeroedBytes.fetch_add(page, std::memory_order_relaxed);
    return;
  }
  // Not one of ours: what would have happened without us.
  if (previousBusAction.sa_flags & SA_SIGINFO && previousBusAction.sa_sigaction != nullptr) {
    previousBusAction.sa_sigaction(number, info, context);
    return;
  }
  restoreDefaultAndRaise(number);
}

int claimSlot(const void* data, uint64_t size) {
  std::lock_guard lock(mappingSlotsLock);
  static bool installed = false;
  if (!installed) {
    handlerPageSize.store(static_cast<uintptr_t>(pageSize()));
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    installed = sigaction(SIGBUS, &action, &previousBusAction) == 0;
  }
  for (int i = 0; i < kMappingSlots; ++i) {
    if (mappingSlots[i].start.load() != 0) continue;
    mappingSlots[i].zeroedBytes.store(0);
    mappingSlots[i].end.store(reinterpret_cast<uintptr_t>(data) + size);
    mappingSlots[i].start.store(reinterpret_cast<uintptr_t>(data), std::memory_order_release);
    return i;
  }
  return -1;  // more images open at once than any use has: they go unguarded
}

void releaseSlot(int slot) {
  if (slot < 0) return;
  std::lock_guard lock(mappingSlotsLock);
  mappingSlots[slot].start.store(0, std::memory_order_release);
  mappingSlots[slot].end.store(0);
}

// What an empty image points at: data() is never null.
const uint8_t kEmptyImage[1] = {0};

long pageSize() {
  static const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? size : 4096;
}

// Closes the descriptor on every way out but success.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

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
    image->slot_ = claimSlot(mapping, size);
  }
  // Kept open, read-only as it was opened, for helper processes that read
  // a byte range of the image themselves (the movie thumbnails).
  image->descriptor_ = file.fd;
  file.fd = -1;
  result.status = LoadStatus::Loaded;
  result.image = std::move(image);
  return result;
}

ImageFile::~ImageFile() {
  releaseSlot(slot_);
  if (mapping_ != nullptr) munmap(mapping_, static_cast<size_t>(size_));
  if (descriptor_ >= 0) ::close(descriptor_);
}

uint64_t ImageFile::unreadableBytes() const {
  return slot_ >= 0 ? mappingSlots[slot_].zeroedBytes.load(std::memory_order_relaxed) : 0;
}

void ImageFile::adviseSequential() const {
  if (mapping_ != nullptr) madvise(mapping_, static_cast<size_t>(size_), MADV_SEQUENTIAL);
}

void ImageFile::adviseRandom() const {
  if (mapping_ != nullptr) madvise(mapping_, static_cast<size_t>(size_), MADV_NORMAL);
}

bool ImageFile::read(uint64_t start, uint8_t* into, size_t length, FileProblem& problem) const {
  if (start > size_ || length > size_ - start) {
    problem = {FileProblemCode::OutsideImage};
    return false;
  }
  size_t done = 0;
  while (done < length) {
    const ssize_t got =
        ::pread(descriptor_, into + done, length - done, static_cast<off_t>(start + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = {FileProblemCode::ImageUnreadable, errno};
      return false;
    }
    // The end of the file came before the end of the image it was: the
    // file was cut short under us.
    if (got == 0) {
      problem = {FileProblemCode::ImageShrank};
      return false;
    }
    done += static_cast<size_t>(got);
  }
  return true;
}

bool ImageFile::stillHolds(uint64_t end) const {
  struct stat info {};
  if (fstat(descriptor_, &info) != 0) return false;
  uint64_t size = static_cast<uint64_t>(info.st_size);
  if (blockDevice_ && ioctl(descriptor_, BLKGETSIZE64, &size) != 0) return false;
  return end <= size;
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
