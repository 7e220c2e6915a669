// Starting, signalling and reaping a card worker.
#include "app/worker_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/worker_starter.h"

extern char** environ;

namespace {

// Descriptors handed to the worker are moved above the ones it gets them
// as, so that placing one never overwrites another.
const int kHandOverBase = 10;

int aboveHandOver(int fd) {
  if (fd < 0 || fd >= kHandOverBase) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kHandOverBase);
  close(fd);
  return moved;
}

void closeFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Starts the worker program with these arguments and descriptors; returns
// zero or the error number.
int spawnProgram(const std::vector<std::string>& args, int stdinFd, int logFd, int linkFd, pid_t* pid) {
  const std::string program = WorkerProgram();
  std::vector<std::string> all = {"vkr-card-worker"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  // The worker gets its three streams and the link, and nothing else of the
  // server's: no listener, client connection or printer device.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  posix_spawn_file_actions_adddup2(&actions, logFd, 1);
  posix_spawn_file_actions_adddup2(&actions, logFd, 2);
  posix_spawn_file_actions_adddup2(&actions, linkFd, 3);
  posix_spawn_file_actions_addclosefrom_np(&actions, 4);
  // The server ignores SIGPIPE and may block signals on its threads; the
  // worker starts with the defaults.
  posix_spawnattr_t attrs;
  posix_spawnattr_init(&attrs);
  sigset_t none, all_signals;
  sigemptyset(&none);
  sigfillset(&all_signals);
  posix_spawnattr_setsigmask(&attrs, &none);
  posix_spawnattr_setsigdefault(&attrs, &all_signals);
  posix_spawnattr_setflags(&attrs, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int failed = posix_spawn(pid, program.c_str(), &actions, &attrs, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attrs);
  return failed;
}

// The worker starter (worker_starter.h): its process and the server's end
// of its socket, one request at a time.
struct Starter {
  std::mutex lock;
  int control = -1;
  pid_t pid = -1;
};

Starter& starter() {
  static Starter s;
  return s;
}

}  // namespace

bool StartWorkerStarter() {
  Starter& s = starter();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.control >= 0) return true;
  int control[2] = {-1, -1}, log = -1, devnull = -1;
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, control) != 0) return false;
  control[1] = aboveHandOver(control[1]);
  log = fcntl(2, F_DUPFD_CLOEXEC, kHandOverBase);
  devnull = aboveHandOver(open("/dev/null", O_RDONLY | O_CLOEXEC));
  pid_t pid = -1;
  const bool started = control[1] >= 0 && log >= 0 && devnull >= 0 &&
                       spawnProgram({"starter"}, devnull, log, control[1], &pid) == 0;
  for (int fd : {control[1], log, devnull})
    if (fd >= 0) close(fd);
  if (!started) {
    close(control[0]);
    return false;
  }
  s.control = control[0];
  s.pid = pid;
  return true;
}

pid_t StartWorkerCopy(const std::vector<std::string>& args, int pagesFd, int logFd, int linkFd) {
  std::string request;
  for (const std::string& a : args) request += a + '\0';
  if (request.size() > kStarterRequestRoom) return -1;
  const int fds[3] = {pagesFd, logFd, linkFd};
  char room[CMSG_SPACE(sizeof(fds))] = {};
  iovec part = {&request[0], request.size()};
  msghdr message = {};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = room;
  message.msg_controllen = sizeof(room);
  cmsghdr* c = CMSG_FIRSTHDR(&message);
  c->cmsg_level = SOL_SOCKET;
  c->cmsg_type = SCM_RIGHTS;
  c->cmsg_len = CMSG_LEN(sizeof(fds));
  memcpy(CMSG_DATA(c), fds, sizeof(fds));

  Starter& s = starter();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.control < 0) return -1;
  int32_t answer = 0;
  ssize_t sent, got = -1;
  while ((sent = sendmsg(s.control, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  if (sent < 0 && errno == EMSGSIZE) return -1;
  if (sent == ssize_t(request.size())) {
    while ((got = recv(s.control, &answer, sizeof(answer), 0)) < 0 && errno == EINTR) {
    }
  }
  if (got != ssize_t(sizeof(answer))) {
    // The starter is gone: workers are started as programs from now on.
    close(s.control);
    s.control = -1;
    return -1;
  }
  return answer > 0 ? pid_t(answer) : -1;
}

void StopWorkerStarter() {
  Starter& s = starter();
  std::lock_guard<std::mutex> hold(s.lock);
  if (s.control >= 0) close(s.control);
  s.control = -1;
  if (s.pid > 0) {
    int status;
    while (waitpid(s.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  s.pid = -1;
}

bool WorkerProcess::Start(const std::vector<std::string>& args, bool withPages, std::string* why) {
  int link[2] = {-1, -1}, log[2] = {-1, -1}, pages[2] = {-1, -1};
  int stdinFd = -1;
  bool made = socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, link) == 0 &&
              pipe2(log, O_CLOEXEC) == 0;
  if (made) made = withPages ? pipe2(pages, O_CLOEXEC) == 0
                             : (stdinFd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;
  if (!made) {
    if (why) *why = strerror(errno);
    for (int fd : {link[0], link[1], log[0], log[1], pages[0], pages[1], stdinFd})
      if (fd >= 0) close(fd);
    return false;
  }
  if (withPages) stdinFd = pages[0];
  link[1] = aboveHandOver(link[1]);
  log[1] = aboveHandOver(log[1]);
  stdinFd = aboveHandOver(stdinFd);

  // A copy of the starter when there is one, else the program itself.
  pid_ = StartWorkerCopy(args, stdinFd, log[1], link[1]);
  const int failed = pid_ > 0 ? 0 : spawnProgram(args, stdinFd, log[1], link[1], &pid_);

  close(link[1]);
  close(log[1]);
  close(stdinFd);
  if (failed != 0) {
    pid_ = -1;
    if (why) *why = strerror(failed);
    close(link[0]);
    close(log[0]);
    if (withPages) close(pages[1]);
    return false;
  }
  link_ = link[0];
  log_ = log[0];
  pages_ = withPages ? pages[1] : -1;
  return true;
}

std::string WorkerProgram() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n > 0) {
    std::string beside(self, size_t(n));
    beside = beside.substr(0, beside.find_last_of('/') + 1) + "vkr-card-worker";
    if (access(beside.c_str(), X_OK) == 0) return beside;
  }
  return VKR_WORKER_PATH;
}

void WorkerProcess::ClosePages() { closeFd(pages_); }

void WorkerProcess::Signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

int WorkerProcess::Wait() {
  if (pid_ > 0 && !reaped_) {
    while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  return status_;
}

bool WorkerProcess::Ended(int* status) {
  if (pid_ > 0 && !reaped_) {
    if (waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  }
  if (status) *status = status_;
  return pid_ <= 0 || reaped_;
}

WorkerProcess::~WorkerProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    Wait();
  }
  closeFd(link_);
  closeFd(log_);
  closeFd(pages_);
}

std::string DescribeWorkerEnd(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}
