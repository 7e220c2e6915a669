// Card workers started by the worker starter and, without it, as programs:
// either way the worker is the caller's own child, with its arguments and
// its log where they were given.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/worker_process.h"
#include "app/worker_starter.h"

namespace {

// Everything the worker logged, up to its end.
std::string logOf(const WorkerProcess& worker) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(worker.log(), buffer, sizeof(buffer))) > 0) text.append(buffer, size_t(n));
  return text;
}

// Starts a worker in a mode it does not know: it says so in its log, names
// the mode it was given, and exits 2; the caller reaps it.
void expectUnknownMode(const std::string& mode, size_t moreArgs = 1) {
  std::vector<std::string> args = {mode};
  // Arguments of 40 KB each: a few make a request longer than the starter takes.
  args.resize(1 + moreArgs, std::string(40 * 1024, 'x'));
  WorkerProcess worker;
  std::string why;
  ASSERT_TRUE(worker.Start(args, true, &why)) << why;
  worker.ClosePages();
  EXPECT_NE(logOf(worker).find("ERROR: Unknown card worker mode \"" + mode + "\"."), std::string::npos);
  const int status = worker.Wait();
  ASSERT_TRUE(WIFEXITED(status)) << DescribeWorkerEnd(status);
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

// The command line a running worker shows: a copy of the starter shows the
// starter's.
// A program just started shows none while the kernel is still setting it up.
std::string commandLine(const WorkerProcess& worker) {
  std::string text;
  for (int tries = 0; text.empty() && tries < 500; ++tries) {
    if (tries > 0) usleep(1000);
    std::ifstream file("/proc/" + std::to_string(worker.pid()) + "/cmdline");
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  for (char& c : text)
    if (c == '\0') c = ' ';
  return text;
}

// Starts a status worker, which waits on its link for the server, and tells
// how it was started; then kills it, which the caller sees.
std::string startedAs() {
  WorkerProcess worker;
  EXPECT_TRUE(worker.Start({"status"}, false, nullptr));
  const std::string shown = commandLine(worker);
  worker.Signal(SIGKILL);
  const int status = worker.Wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << DescribeWorkerEnd(status);
  return shown;
}

TEST(WorkerStarter, WorkersAreTheCallersChildrenWithTheirArgumentsAndLog) {
  ASSERT_TRUE(StartWorkerStarter());
  expectUnknownMode("first-mode");
  // One after another: the starter serves every request, each worker is new.
  expectUnknownMode("another");
  EXPECT_EQ(startedAs(), "vkr-card-worker starter ");
  // Arguments longer than a request are started as the program: the same worker.
  expectUnknownMode("long", kStarterRequestRoom / (40 * 1024) + 1);
  // Without the starter (gone, or never started) workers still start.
  StopWorkerStarter();
  expectUnknownMode("no-starter");
  EXPECT_EQ(startedAs(), "vkr-card-worker status ");
  EXPECT_TRUE(StartWorkerStarter());
  expectUnknownMode("started-again");
  StopWorkerStarter();
}

}  // namespace
