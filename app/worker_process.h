// A card worker: vkr-card-worker, run as a process of its own for one
// printer conversation (a job, a status query, identify, the self-test
// card). The worker owns everything that conversation builds, so nothing of
// it outlives the process, and a worker that fails or crashes ends only its
// own conversation. Its descriptors: 0 the job's pages (CUPS raster) or
// /dev/null, 1 and 2 its log, 3 the link to the server (worker_link.h).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The worker program: next to the server's own (the build tree), else where
// it is installed.
std::string WorkerProgram();

class WorkerProcess {
 public:
  WorkerProcess() = default;
  // Kills a worker still running and reaps it.
  ~WorkerProcess();
  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;

  // Starts the worker with these arguments (the mode first); withPages
  // gives it a pipe for the job's pages. False (and why) when it could not
  // start.
  bool Start(const std::vector<std::string>& args, bool withPages, std::string* why);

  // The server's ends: the link, the log, the pages (-1 when none or closed).
  int link() const { return link_; }
  int log() const { return log_; }
  int pages() const { return pages_; }
  pid_t pid() const { return pid_; }
  // Closes the pages pipe: the worker reads the end of the document.
  void ClosePages();

  // Sends the worker a signal (SIGTERM: stop at the next safe point).
  void Signal(int sig);
  // Waits for the worker to end and returns its wait status.
  int Wait();
  // Whether the worker has ended (reaping it); status gets its wait status.
  bool Ended(int* status = nullptr);

 private:
  pid_t pid_ = -1;
  int link_ = -1, log_ = -1, pages_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// Says in words how a worker ended, from its wait status ("exit status 1",
// "signal 11").
std::string DescribeWorkerEnd(int status);
