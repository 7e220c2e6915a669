// Starting, signalling and reaping a card worker.
#include "app/worker_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace

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
  posix_spawn_file_actions_adddup2(&actions, log[1], 1);
  posix_spawn_file_actions_adddup2(&actions, log[1], 2);
  posix_spawn_file_actions_adddup2(&actions, link[1], 3);
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
  const int failed = posix_spawn(&pid_, program.c_str(), &actions, &attrs, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attrs);

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
