/* Preloaded into a child process to make one file behave like a failing
 * card. pread/pread64 on KESTRIX_FAULT_FILE:
 *   - fail with EIO whenever they overlap one of the byte ranges in
 *     KESTRIX_FAULT_RANGES ("begin-end,begin-end", half-open, decimal);
 *   - fail, all of them, once KESTRIX_FAULT_AFTER_BYTES bytes have been read
 *     from the file, with the errno KESTRIX_FAULT_ERRNO (decimal, EIO when
 *     unset): a reader that drops out;
 *   - each take KESTRIX_FAULT_DELAY_US microseconds first: a slow card.
 * Other files read normally; see the end of the file for the open check. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

typedef ssize_t (*pread_function)(int, void*, size_t, off_t);

static int overlapsFault(int fd, uint64_t offset, uint64_t length) {
  const char* file = getenv("KESTRIX_FAULT_FILE");
  const char* ranges = getenv("KESTRIX_FAULT_RANGES");
  struct stat target, opened;
  if (file == NULL || ranges == NULL || stat(file, &target) != 0 || fstat(fd, &opened) != 0) return 0;
  if (target.st_dev != opened.st_dev || target.st_ino != opened.st_ino) return 0;
  const char* p = ranges;
  while (*p != '\0') {
    char* end = NULL;
    uint64_t begin = strtoull(p, &end, 10);
    if (*end != '-') return 0;
    uint64_t stop = strtoull(end + 1, &end, 10);
    if (offset < stop && begin < offset + length) return 1;
    if (*end != ',') break;
    p = end + 1;
  }
  return 0;
}

static uint64_t bytesReadSoFar = 0;

static int isFaultFile(int fd) {
  const char* file = getenv("KESTRIX_FAULT_FILE");
  struct stat target, opened;
  if (file == NULL || stat(file, &target) != 0 || fstat(fd, &opened) != 0) return 0;
  return target.st_dev == opened.st_dev && target.st_ino == opened.st_ino;
}

static ssize_t faultyRead(const char* name, int fd, void* buffer, size_t count, off_t offset) {
  pread_function next = (pread_function)dlsym(RTLD_NEXT, name);
  if (isFaultFile(fd)) {
    const char* delay = getenv("KESTRIX_FAULT_DELAY_US");
    const char* after = getenv("KESTRIX_FAULT_AFTER_BYTES");
    const char* error = getenv("KESTRIX_FAULT_ERRNO");
    if (delay != NULL) usleep((useconds_t)strtoul(delay, NULL, 10));
    if (after != NULL && bytesReadSoFar >= strtoull(after, NULL, 10)) {
      errno = error != NULL ? atoi(error) : EIO;
      return -1;
    }
  }
  if (overlapsFault(fd, (uint64_t)offset, (uint64_t)count)) {
    errno = EIO;
    return -1;
  }
  ssize_t got = next(fd, buffer, count, offset);
  if (got > 0 && isFaultFile(fd)) bytesReadSoFar += (uint64_t)got;
  return got;
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return faultyRead("pread", fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  return faultyRead("pread64", fd, buffer, count, offset);
}

/* The source is only ever opened read-only: an open of KESTRIX_FAULT_FILE
 * with write access aborts the process, so every run under the injector
 * checks it. */
typedef int (*open_function)(const char*, int, ...);

static int openChecked(const char* name, const char* path, int flags, mode_t mode) {
  open_function next = (open_function)dlsym(RTLD_NEXT, name);
  const char* file = getenv("KESTRIX_FAULT_FILE");
  if (file != NULL && (flags & O_ACCMODE) != O_RDONLY) {
    struct stat target, named;
    if (stat(file, &target) == 0 && stat(path, &named) == 0 && target.st_dev == named.st_dev &&
        target.st_ino == named.st_ino) {
      abort();
    }
  }
  return next(path, flags, mode);
}

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = (mode_t)va_arg(arguments, int);
  va_end(arguments);
  return openChecked("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = (mode_t)va_arg(arguments, int);
  va_end(arguments);
  return openChecked("open64", path, flags, mode);
}
