// Ending a read that a client's stalled document holds up.
#include "app/stall_guard.h"

#include <cinttypes>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

pid_t CurrentThreadId() { return pid_t(syscall(SYS_gettid)); }

bool BreakBlockedRead(pid_t tid) {
  char path[64];
  snprintf(path, sizeof(path), "/proc/self/task/%d/syscall", int(tid));
  FILE* file = fopen(path, "r");
  if (file == nullptr) return false;
  // "<number> <arg0> <arg1> ...": the system call the thread is blocked in.
  long number = -1;
  uint64_t arg0 = 0;
  const int got = fscanf(file, "%ld %" SCNx64, &number, &arg0);
  fclose(file);
  if (got != 2) return false;
  int fd = -1;
  if (number == SYS_read || number == SYS_recvfrom || number == SYS_recvmsg || number == SYS_readv) {
    fd = int(arg0);
#ifdef SYS_poll
  } else if (number == SYS_poll || number == SYS_ppoll) {
#else
  } else if (number == SYS_ppoll) {
#endif
    // The thread's own poll list, on its stack while it waits; the first
    // entry is the connection.
    fd = reinterpret_cast<const pollfd*>(uintptr_t(arg0))->fd;
  }
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
  return shutdown(fd, SHUT_RD) == 0;
}
