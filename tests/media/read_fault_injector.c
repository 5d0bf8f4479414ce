/* Preloaded into a child process to make one file behave like a card with
 * bad sectors: pread/pread64 on KESTRIX_FAULT_FILE fail with EIO whenever
 * they overlap one of the byte ranges in KESTRIX_FAULT_RANGES
 * ("begin-end,begin-end", half-open, decimal). Other files read normally. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
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

static ssize_t faultyRead(const char* name, int fd, void* buffer, size_t count, off_t offset) {
  pread_function next = (pread_function)dlsym(RTLD_NEXT, name);
  if (overlapsFault(fd, (uint64_t)offset, (uint64_t)count)) {
    errno = EIO;
    return -1;
  }
  return next(fd, buffer, count, offset);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return faultyRead("pread", fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  return faultyRead("pread64", fd, buffer, count, offset);
}
