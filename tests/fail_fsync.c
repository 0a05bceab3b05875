/* Loaded with LD_PRELOAD by the tests: every fsync fails as a disk would. */
#include <errno.h>

int fsync(int fd) {
  (void)fd;
  errno = EIO;
  return -1;
}
