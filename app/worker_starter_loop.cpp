// The worker starter's loop: each request becomes a copy of this process
// that runs one card worker.
#include "app/worker_starter.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "app/card_worker.h"

namespace {

const int kRequestFds = 3;

void reply(int control, int32_t answer) {
  while (send(control, &answer, sizeof(answer), MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

// The worker, in the copy: its descriptors in place, then the worker program
// as if it had been started with these arguments.
[[noreturn]] void runCopy(std::vector<char*>& args, const int fds[kRequestFds]) {
  dup2(fds[0], 0);
  dup2(fds[1], 1);
  dup2(fds[1], 2);
  dup2(fds[2], 3);
  closefrom(4);
  exit(RunCardWorker(int(args.size()) - 2, args.data() + 1));
}

}  // namespace

int RunWorkerStarter(int control) {
  // The starter ends with the server; its copies are the server's children.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) return 1;
  std::vector<char> request(kStarterRequestRoom + 1);
  for (;;) {
    char room[CMSG_SPACE(sizeof(int) * kRequestFds)];
    iovec part = {request.data(), request.size()};
    msghdr message = {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = room;
    message.msg_controllen = sizeof(room);
    const ssize_t got = recvmsg(control, &message, MSG_CMSG_CLOEXEC);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;  // the server is gone

    int fds[kRequestFds] = {-1, -1, -1};
    int fdCount = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      const int n = int((c->cmsg_len - CMSG_LEN(0)) / sizeof(int));
      for (int i = 0; i < n; ++i) {
        int fd;
        memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
        if (fdCount < kRequestFds) fds[fdCount++] = fd;
        else close(fd);
      }
    }
    const bool whole = !(message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) && fdCount == kRequestFds &&
                       got > 0 && request[size_t(got) - 1] == '\0';
    int32_t answer = -EINVAL;
    if (whole) {
      std::vector<char*> args = {const_cast<char*>("vkr-card-worker")};
      for (ssize_t at = 0; at < got; at += ssize_t(strlen(&request[size_t(at)])) + 1)
        args.push_back(&request[size_t(at)]);
      args.push_back(nullptr);
      // A copy whose parent is the server, as if the server had started it.
      const long pid = syscall(SYS_clone, CLONE_PARENT | SIGCHLD, nullptr, nullptr, nullptr, nullptr);
      if (pid == 0) runCopy(args, fds);
      answer = pid > 0 ? int32_t(pid) : -errno;
    }
    for (int fd : fds)
      if (fd >= 0) close(fd);
    reply(control, answer);
  }
}
