/* Preloaded into a test program (LD_PRELOAD), this makes every read deliver at most
 * SHORT_READ_LIMIT bytes, as FUSE and network file systems may: code that takes one short
 * read for the end of a file, or for an error, then gives wrong results. The programs it
 * starts and the libraries they load inherit it. With SHORT_READS_UNDER set to a folder,
 * only programs under it are cut: peers such as the shell are not ours to test (bash reads
 * a sourced file in one read). Reads inside the C library (stdio) do not pass through
 * here; those already continue. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#define SHORT_READ_LIMIT 1000

static int active = 1;

__attribute__((constructor)) static void Choose(void) {
  const char* named = getenv("SHORT_READS_UNDER");
  if (!named || !*named) return;
  char under[PATH_MAX], self[PATH_MAX];
  if (!realpath(named, under)) return;  /* nothing lies under a folder that is not there */
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = 0;
  const size_t length = strlen(under);
  active = strncmp(self, under, length) == 0 && (self[length] == '/' || under[length - 1] == '/');
}

static size_t Cap(size_t count) { return active && count > SHORT_READ_LIMIT ? SHORT_READ_LIMIT : count; }

/* A single vector over the start of the first one that is not empty: a short read of the
 * whole list is as legal as any other. */
static int CapVectors(const struct iovec* in, int count, struct iovec* out) {
  int i = 0;
  while (i < count - 1 && in[i].iov_len == 0) ++i;
  *out = count > 0 ? in[i] : (struct iovec){0, 0};
  out->iov_len = Cap(out->iov_len);
  return count > 0;
}

/* The C library's own function, looked up once. */
#define NEXT(name)                                                  \
  ({                                                                \
    static __typeof__(&name) next_;                                 \
    if (!next_) next_ = (__typeof__(&name))dlsym(RTLD_NEXT, #name); \
    next_;                                                          \
  })

/* Vectored reads: passed on whole when inactive, else as one capped vector. */
#define VECTORED(name, ...)                                        \
  do {                                                             \
    if (!active) return NEXT(name)(fd, vectors, count, ##__VA_ARGS__); \
    struct iovec one;                                              \
    return NEXT(name)(fd, &one, CapVectors(vectors, count, &one), ##__VA_ARGS__); \
  } while (0)

ssize_t read(int fd, void* buffer, size_t count) { return NEXT(read)(fd, buffer, Cap(count)); }

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return NEXT(pread)(fd, buffer, Cap(count), offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
  return NEXT(pread64)(fd, buffer, Cap(count), offset);
}

ssize_t readv(int fd, const struct iovec* vectors, int count) { VECTORED(readv); }

ssize_t preadv(int fd, const struct iovec* vectors, int count, off_t offset) { VECTORED(preadv, offset); }

ssize_t preadv64(int fd, const struct iovec* vectors, int count, off64_t offset) { VECTORED(preadv64, offset); }

ssize_t preadv2(int fd, const struct iovec* vectors, int count, off_t offset, int flags) {
  VECTORED(preadv2, offset, flags);
}

ssize_t preadv64v2(int fd, const struct iovec* vectors, int count, off64_t offset, int flags) {
  VECTORED(preadv64v2, offset, flags);
}

/* A copy between files is a read too. */
ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t count, unsigned flags) {
  return NEXT(copy_file_range)(in, inOffset, out, outOffset, Cap(count), flags);
}

/* What fortified builds call in place of read and pread. */
ssize_t __read_chk(int fd, void* buffer, size_t count, size_t size) {
  return NEXT(__read_chk)(fd, buffer, Cap(count), size);
}

ssize_t __pread_chk(int fd, void* buffer, size_t count, off_t offset, size_t size) {
  return NEXT(__pread_chk)(fd, buffer, Cap(count), offset, size);
}

ssize_t __pread64_chk(int fd, void* buffer, size_t count, off64_t offset, size_t size) {
  return NEXT(__pread64_chk)(fd, buffer, Cap(count), offset, size);
}
