// The relay between the real filter and the printer simulator (see
// fault_relay.h).
#include "fault_relay.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "support/run_filter.h"

extern char** environ;

namespace faultrelay {

namespace {

using Bytes = std::vector<uint8_t>;

// Seconds on the monotonic clock.
double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Puts fd at target in a child about to exec, open across the exec.
void moveTo(int fd, int target) {
  if (fd == target)
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) & ~FD_CLOEXEC);
  else
    dup2(fd, target);
}

// The argv-style array of these strings, ended by a null pointer.
std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(&s[0]);
  out.push_back(nullptr);
  return out;
}

// Ours without the variables the run sets: the pause-removing preload (built
// next to the filter's build tree), the test PPD and, in a sanitizer build,
// options under which the preload may stand first, what the filter leaves to
// the process exit is not reported, and a finding exits with a status of its own.
std::vector<std::string> filterEnvironment(const std::string& tmpDir) {
  static const char* const kControlled[] = {"PPD=", "FINAL_CONTENT_TYPE=", "LD_PRELOAD=",
                                            "VKR_TEST_TMPDIR=", "ASAN_OPTIONS=", "UBSAN_OPTIONS="};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    bool controlled = false;
    for (const char* name : kControlled) controlled |= strncmp(*e, name, strlen(name)) == 0;
    if (!controlled) env.push_back(*e);
  }
  std::string build = vkrtest::FilterBinary();
  for (int up = 0; up < 2; ++up) build = build.substr(0, build.rfind('/'));
  env.push_back("LD_PRELOAD=" + build + "/tests/support/libvkr_nosleep.so");
  env.push_back("VKR_TEST_TMPDIR=" + tmpDir);
  env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0:exitcode=86");
  env.push_back("UBSAN_OPTIONS=print_stacktrace=1:exitcode=87");
  env.push_back(std::string("PPD=") + vkrtest::TestDataDir() + "/test.ppd");
  return env;
}

// Writes all of bytes to fd (a pipe), short writes and interrupts notwithstanding.
void writeAll(int fd, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    count -= size_t(n);
  }
}

// Closes fd if it is open and marks it closed.
void closeFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

std::vector<std::string> RelayRun::Codes() const {
  std::vector<std::string> codes;
  for (const vkrsim::Frame& f : frames) codes.push_back(f.code);
  return codes;
}

bool RelayRun::AllFramesWhole() const {
  for (const vkrsim::Frame& f : frames)
    if (!f.complete || !f.closedByCr) return false;
  return true;
}

RelayRun Run(const RelaySetup& setup) {
  signal(SIGPIPE, SIG_IGN);
  RelayRun run;
  const std::string work = vkrtest::MakeTempDir();
  const std::string stdinPath = work + "/stdin.bin", stderrPath = work + "/filter.err";
  std::ofstream(stdinPath, std::ios::binary)
      .write(reinterpret_cast<const char*>(setup.stdinBytes.data()),
             std::streamsize(setup.stdinBytes.size()));

  // toRelay: filter stdout -> us; toSim: us -> simulator stdin; answers: the
  // simulator's answers straight to the filter's fd 3 (a closed back channel:
  // the simulator answers into /dev/null and the filter finds the pipe's end).
  int toRelay[2], toSim[2], answers[2];
  if (pipe2(toRelay, O_CLOEXEC) || pipe2(toSim, O_CLOEXEC) || pipe2(answers, O_CLOEXEC)) {
    run.log = std::string("pipe: ") + strerror(errno);
    return run;
  }
  std::vector<std::string> simArgs = {vkrtest::SimulatorBinary(), "--reply-fd", "3"};
  for (const std::string& rule : setup.simRules) simArgs.insert(simArgs.end(), {"--rule", rule});
  std::vector<std::string> filterArgs = {"rastertovkr"};
  filterArgs.insert(filterArgs.end(), setup.args.begin(), setup.args.end());
  std::vector<std::string> env = filterEnvironment(work);
  std::vector<char*> simArgv = cStrings(simArgs), filterArgv = cStrings(filterArgs),
                     filterEnv = cStrings(env);

  const pid_t sim = fork();
  if (sim == 0) {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    moveTo(toSim[0], 0);
    moveTo(null, 1);
    moveTo(null, 2);
    moveTo(setup.backChannelClosed ? null : answers[1], 3);
    execv(simArgv[0], simArgv.data());
    _exit(127);
  }
  const double started = now();
  const pid_t filter = fork();
  if (filter == 0) {
    // The filter starts with the default signal actions, as CUPS starts it
    // (an ignored SIGPIPE would otherwise be inherited from this process).
    signal(SIGPIPE, SIG_DFL);
    moveTo(open(stdinPath.c_str(), O_RDONLY | O_CLOEXEC), 0);
    moveTo(toRelay[1], 1);
    moveTo(open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600), 2);
    moveTo(answers[0], 3);
    execve(setup.program.empty() ? vkrtest::FilterBinary() : setup.program.c_str(), filterArgv.data(),
           filterEnv.data());
    _exit(127);
  }
  for (int fd : {toRelay[1], toSim[0], answers[0], answers[1]}) close(fd);
  int printerIn = toRelay[0], simIn = toSim[1];

  bool signalSent = false, filterDone = false, simDone = false;
  int slowReads = 0, whole = 0;  // whole: frames that have wholly reached the printer
  int filterStatus = 0, simStatus = 0;
  const double deadline = now() + setup.timeoutSeconds;
  Bytes chunk(65536);

  while (!filterDone || !simDone) {
    if (now() > deadline) {
      run.timedOut = true;
      if (!filterDone) kill(filter, SIGKILL), waitpid(filter, &filterStatus, 0);
      if (!simDone) kill(sim, SIGKILL), waitpid(sim, &simStatus, 0);
      break;
    }
    pollfd fds = {printerIn, POLLIN, 0};
    if (printerIn < 0) usleep(5000);
    if (printerIn >= 0 && poll(&fds, 1, 5) > 0) {
      if (slowReads > 0) --slowReads, usleep(20000);
      const ssize_t n = read(printerIn, chunk.data(), slowReads > 0 ? 4096 : chunk.size());
      if (n <= 0) {
        closeFd(printerIn);
        closeFd(simIn);
        continue;
      }
      run.printerBytes.insert(run.printerBytes.end(), chunk.begin(), chunk.begin() + n);
      if (simIn >= 0) writeAll(simIn, chunk.data(), size_t(n));
      const std::vector<vkrsim::Frame> frames = vkrsim::SplitFrames(run.printerBytes);
      whole = int(std::count_if(frames.begin(), frames.end(),
                                [](const vkrsim::Frame& f) { return f.complete; }));
      const bool begun = int(frames.size()) > whole;
      if (!signalSent && setup.sigtermAfterFrames > 0 && whole >= setup.sigtermAfterFrames &&
          (!setup.sigtermMidFrame || begun)) {
        kill(filter, SIGTERM);
        signalSent = true;
        run.framesAtSignal = whole;
        if (setup.sigtermMidFrame) slowReads = 40;
      }
      if (setup.closeStdoutAfterFrames >= 0 && whole >= setup.closeStdoutAfterFrames)
        closeFd(printerIn);
    }
    if (!filterDone && waitpid(filter, &filterStatus, WNOHANG) == filter) {
      filterDone = true;
      run.seconds = now() - started;
    }
    if (filterDone && printerIn < 0) closeFd(simIn);
    if (!simDone && waitpid(sim, &simStatus, WNOHANG) == sim) simDone = true;
  }
  for (int fd : {printerIn, simIn}) closeFd(fd);

  run.exitStatus = WIFEXITED(filterStatus)     ? WEXITSTATUS(filterStatus)
                   : WIFSIGNALED(filterStatus) ? 128 + WTERMSIG(filterStatus)
                                               : -1;
  std::stringstream text;
  text << std::ifstream(stderrPath, std::ios::binary).rdbuf();
  run.log = text.str();
  run.frames = vkrsim::SplitFrames(run.printerBytes);
  vkrtest::RemoveTree(work);
  return run;
}

}  // namespace faultrelay
