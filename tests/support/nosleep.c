/* Test-only preload for the real rastertovkr binary:
 *  - usleep returns at once, so the printer exchange's one-second pause and
 *    the completion wait's settle and poll waits cost nothing; with
 *    VKR_USLEEP_LOG set, each skipped pause's length is noted in that file;
 *  - when VKR_TEST_TMPDIR is set, files the filter opens under "/tmp/test"
 *    (the image-log copy and the debug dumps) are opened under that folder
 *    instead, so tests run side by side and can make the path unwritable.
 * The back channel's five-second read time-out is a select() and stays real. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

/* Notes the length of a skipped pause, one decimal line each, in the file
 * named by VKR_USLEEP_LOG (when set), so tests can check every pause. */
static void notePause(useconds_t usec) {
  const char* path = getenv("VKR_USLEEP_LOG");
  if (path == NULL) return;
  int fd = (int)syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  char line[32];
  const int n = snprintf(line, sizeof(line), "%u\n", (unsigned)usec);
  if (n > 0) (void)!write(fd, line, (size_t)n);
  close(fd);
}

int usleep(useconds_t usec) {
  notePause(usec);
  return 0;
}

/* The path to open: under VKR_TEST_TMPDIR for "/tmp/test..." names. */
static const char* redirect(const char* path, char* buffer, size_t size) {
  const char* dir = getenv("VKR_TEST_TMPDIR");
  if (path == NULL || dir == NULL || strncmp(path, "/tmp/test", 9) != 0) return path;
  snprintf(buffer, size, "%s/%s", dir, path + 5);
  return buffer;
}

FILE* fopen(const char* path, const char* mode) {
  static FILE* (*real)(const char*, const char*);
  char buffer[4096];
  if (!real) real = (FILE * (*)(const char*, const char*)) dlsym(RTLD_NEXT, "fopen");
  return real(redirect(path, buffer, sizeof(buffer)), mode);
}

FILE* fopen64(const char* path, const char* mode) {
  static FILE* (*real)(const char*, const char*);
  char buffer[4096];
  if (!real) real = (FILE * (*)(const char*, const char*)) dlsym(RTLD_NEXT, "fopen64");
  return real(redirect(path, buffer, sizeof(buffer)), mode);
}

int open(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  char buffer[4096];
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = (mode_t)va_arg(args, int);
    va_end(args);
  }
  if (!real) real = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open");
  return real(redirect(path, buffer, sizeof(buffer)), flags, mode);
}

int open64(const char* path, int flags, ...) {
  static int (*real)(const char*, int, ...);
  char buffer[4096];
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list args;
    va_start(args, flags);
    mode = (mode_t)va_arg(args, int);
    va_end(args);
  }
  if (!real) real = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, "open64");
  return real(redirect(path, buffer, sizeof(buffer)), flags, mode);
}

/* libcups checks a file it opens with lstat on the name it was given, so the
 * status calls take the same redirection as the opens. */
#include <sys/stat.h>

int lstat(const char* path, struct stat* st) {
  static int (*real)(const char*, struct stat*);
  char buffer[4096];
  if (!real) real = (int (*)(const char*, struct stat*))dlsym(RTLD_NEXT, "lstat");
  return real(redirect(path, buffer, sizeof(buffer)), st);
}

int lstat64(const char* path, struct stat64* st) {
  static int (*real)(const char*, struct stat64*);
  char buffer[4096];
  if (!real) real = (int (*)(const char*, struct stat64*))dlsym(RTLD_NEXT, "lstat64");
  return real(redirect(path, buffer, sizeof(buffer)), st);
}

int stat(const char* path, struct stat* st) {
  static int (*real)(const char*, struct stat*);
  char buffer[4096];
  if (!real) real = (int (*)(const char*, struct stat*))dlsym(RTLD_NEXT, "stat");
  return real(redirect(path, buffer, sizeof(buffer)), st);
}

int stat64(const char* path, struct stat64* st) {
  static int (*real)(const char*, struct stat64*);
  char buffer[4096];
  if (!real) real = (int (*)(const char*, struct stat64*))dlsym(RTLD_NEXT, "stat64");
  return real(redirect(path, buffer, sizeof(buffer)), st);
}
