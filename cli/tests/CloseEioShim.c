// Loaded with LD_PRELOAD: close() of a regular file below the folder named by
// TESSERA_SHIM_EIO_BELOW closes it and then reports EIO, as a network file system reports
// a write-back that failed.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

int close(int fd) {
  static int (*real)(int);
  if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "close");
  const char* below = getenv("TESSERA_SHIM_EIO_BELOW");
  int fail = 0;
  struct stat st;
  if (below && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n > 0) {
      path[n] = '\0';
      fail = strncmp(path, below, strlen(below)) == 0;
    }
  }
  const int r = real(fd);
  if (!fail) return r;
  errno = EIO;
  return -1;
}
