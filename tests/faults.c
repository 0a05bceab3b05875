/* Loaded with LD_PRELOAD by the tests, it makes the calls that
 * SYNTHTAB_FAULTS names fail as a disk or filesystem would:
 *   fsync    every fsync fails with EIO
 *   tmpfile  openat with O_TMPFILE fails with EOPNOTSUPP, as on a
 *            filesystem without unnamed files
 *   rename-kill  rename kills the process with SIGKILL before it renames,
 *            as a kill arriving in the last step of a replacement would */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

static int faulty(const char *call) {
  const char *f = getenv("SYNTHTAB_FAULTS");
  return f && strstr(f, call) != NULL;
}

int fsync(int fd) {
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  if (faulty("fsync")) {
    errno = EIO;
    return -1;
  }
  return real(fd);
}

int openat(int dir, const char *path, int flags, ...) {
  int (*real)(int, const char *, int, ...) =
      (int (*)(int, const char *, int, ...))dlsym(RTLD_NEXT, "openat");
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = (mode_t)va_arg(ap, int);
    va_end(ap);
  }
  if ((flags & O_TMPFILE) == O_TMPFILE && faulty("tmpfile")) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return real(dir, path, flags, mode);
}

int rename(const char *from, const char *to) {
  int (*real)(const char *, const char *) =
      (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
  if (faulty("rename-kill")) raise(SIGKILL);
  return real(from, to);
}
