/* Test-only preload for the real rastertovkr binary:
 *  - usleep returns at once, so the printer exchange's pauses and the
 *    completion wait's settle and poll waits cost nothing; with
 *    VKR_USLEEP_LOG set, each skipped pause's length is noted in that file,
 *    one decimal line each;
 *  - when VKR_TEST_TMPDIR is set, files the filter opens (or libcups checks
 *    with lstat) under "/tmp/test" are taken from that folder instead, so
 *    tests run side by side and can make the path unwritable.
 * The back channel's five-second read time-out is a select() and stays real. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

/* Skips the pause and notes its length. */
int usleep(useconds_t usec) {
  const char* path = getenv("VKR_USLEEP_LOG");
  int fd = path ? (int)syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
  if (fd >= 0) {
    char line[32];
    const int n = snprintf(line, sizeof(line), "%u\n", (unsigned)usec);
    if (n > 0) (void)!write(fd, line, (size_t)n);
    close(fd);
  }
  return 0;
}

/* The path to open: under VKR_TEST_TMPDIR for "/tmp/test..." names. */
static const char* redirect(const char* path, char* buffer, size_t size) {
  const char* dir = getenv("VKR_TEST_TMPDIR");
  if (path == NULL || dir == NULL || strncmp(path, "/tmp/test", 9) != 0) return path;
  snprintf(buffer, size, "%s/%s", dir, path + 5);
  return buffer;
}

/* NAME(const char* path, ARG) calls the real NAME on the redirected path. */
#define REDIRECTED(RESULT, NAME, ARG)                                          \
  RESULT NAME(const char* path, ARG arg) {                                     \
    static RESULT (*real)(const char*, ARG);                                   \
    char buffer[4096];                                                         \
    if (!real) real = (RESULT(*)(const char*, ARG))dlsym(RTLD_NEXT, #NAME);    \
    return real(redirect(path, buffer, sizeof(buffer)), arg);                  \
  }
REDIRECTED(FILE*, fopen, const char*)
REDIRECTED(FILE*, fopen64, const char*)
REDIRECTED(int, lstat, struct stat*)
REDIRECTED(int, lstat64, struct stat64*)
REDIRECTED(int, stat, struct stat*)
REDIRECTED(int, stat64, struct stat64*)

/* open and open64 take a mode only when they may create the file. */
#define REDIRECTED_OPEN(NAME)                                                  \
  int NAME(const char* path, int flags, ...) {                                 \
    static int (*real)(const char*, int, ...);                                 \
    char buffer[4096];                                                         \
    mode_t mode = 0;                                                           \
    if (flags & (O_CREAT | O_TMPFILE)) {                                       \
      va_list args;                                                            \
      va_start(args, flags);                                                   \
      mode = (mode_t)va_arg(args, int);                                        \
      va_end(args);                                                            \
    }                                                                          \
    if (!real) real = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, #NAME); \
    return real(redirect(path, buffer, sizeof(buffer)), flags, mode);          \
  }
REDIRECTED_OPEN(open)
REDIRECTED_OPEN(open64)
