/* LD_PRELOAD stand-in for a full file system where no tmpfs can be mounted: every write to a file
   under $ONDREVO_FULL_DIR fails with ENOSPC. Writes that the C library makes internally (stdio)
   are not seen, so only output written through write(2) and writev(2) can be checked with it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static int IsFull(int fd) {
  const char* dir = getenv("ONDREVO_FULL_DIR");
  if (!dir || !*dir) return 0;
  char link[64], target[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  if (n <= 0) return 0;
  target[n] = '\0';
  const size_t len = strlen(dir);
  return strncmp(target, dir, len) == 0 && target[len] == '/';
}

ssize_t write(int fd, const void* buffer, size_t count) {
  static ssize_t (*next)(int, const void*, size_t);
  if (!next) next = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  if (count > 0 && IsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return next(fd, buffer, count);
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
  static ssize_t (*next)(int, const struct iovec*, int);
  if (!next) next = (ssize_t(*)(int, const struct iovec*, int))dlsym(RTLD_NEXT, "writev");
  if (count > 0 && IsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  return next(fd, iov, count);
}
