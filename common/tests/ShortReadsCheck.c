/* Run as the short-read runs are: reads of this program's own file must come back cut to
 * 1000 bytes, or those runs test nothing. */

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(void) {
  char buffer[5000];
  const int fd = open("/proc/self/exe", O_RDONLY);
  const ssize_t at = pread(fd, buffer, sizeof buffer, 0), next = read(fd, buffer, sizeof buffer);
  if (at == 1000 && next == 1000) return 0;
  fprintf(stderr, "reads were not cut short: %zd and %zd bytes of %zu\n", at, next, sizeof buffer);
  return 1;
}
