// The harness that runs rastertovkr wired to vkrsim.
#include "support/run_filter.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace vkrtest {

const char* FilterBinary() { return VKR_FILTER_BIN; }
const char* CommandFilterBinary() { return VKR_COMMAND_FILTER_BIN; }
const char* SimulatorBinary() { return VKR_SIM_BIN; }
const char* TestDataDir() { return VKR_TEST_DATA_DIR; }

namespace {

// Reads a file, at most 64 MiB of it (a filter stuck in a loop can write
// without end until the run is killed).
std::string readFile(const std::string& path) {
  const size_t kLimit = size_t(64) << 20;
  std::ifstream in(path, std::ios::binary);
  std::string text(kLimit, '\0');
  in.read(&text[0], std::streamsize(kLimit));
  text.resize(size_t(in.gcount()));
  return text;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Puts fd at target in a child about to exec, open across the exec.
void moveTo(int fd, int target) {
  if (fd == target) {
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) & ~FD_CLOEXEC);
  } else {
    dup2(fd, target);
  }
}

int openOrDie(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_CLOEXEC, 0600);
  if (fd < 0) {
    perror(path.c_str());
    _exit(127);
  }
  return fd;
}

std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(&s[0]);
  out.push_back(nullptr);
  return out;
}

// The filter's environment: ours without the variables the run controls.
std::vector<std::string> filterEnvironment(const FilterSetup& setup, const std::string& tmpDir,
                                           const std::string& pauseLog) {
  static const char* const kControlled[] = {"PPD=", "FINAL_CONTENT_TYPE=", "LD_PRELOAD=",
                                            "VKR_TEST_TMPDIR=", "VKR_USLEEP_LOG=", "ASAN_OPTIONS=",
                                            "UBSAN_OPTIONS="};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    bool controlled = false;
    for (const char* name : kControlled) controlled |= strncmp(*e, name, strlen(name)) == 0;
    if (!controlled) env.push_back(*e);
  }
  if (setup.noSleep) {
    env.push_back(std::string("LD_PRELOAD=") + VKR_NOSLEEP_LIB);
    env.push_back("VKR_TEST_TMPDIR=" + tmpDir);
    env.push_back("VKR_USLEEP_LOG=" + pauseLog);
  }
  // A sanitizer build must accept the preload standing before its runtime;
  // what the filter leaves to the process exit is released there by design.
  // A sanitizer's finding exits with its own status, never with the 1 that
  // the filter's failures use.
  env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0:exitcode=86");
  env.push_back("UBSAN_OPTIONS=print_stacktrace=1:exitcode=87");
  if (setup.setPpd)
    env.push_back("PPD=" + (setup.ppd.empty() ? std::string(VKR_TEST_DATA_DIR) + "/test.ppd" : setup.ppd));
  for (const auto& kv : setup.env) env.push_back(kv.first + "=" + kv.second);
  return env;
}

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int statusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::vector<std::string> FilterRun::Codes() const {
  std::vector<std::string> codes;
  for (const vkrsim::Frame& f : frames) codes.push_back(f.code);
  return codes;
}

std::string MakeTempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/vkrtest.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return "";
  return name.data();
}

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  nftw(
      path.c_str(),
      [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
      FTW_DEPTH | FTW_PHYS);
}

FilterRun RunFilter(const FilterSetup& setup) {
  FilterRun run;
  const std::string work = MakeTempDir();
  const std::string tmpDir = setup.tmpDir.empty() ? work : setup.tmpDir;
  const std::string stdinPath = work + "/stdin.bin";
  const std::string stderrPath = work + "/filter.err";
  const std::string simLogPath = work + "/sim.log";
  const std::string simErrPath = work + "/sim.err";
  const std::string capturePath = work + "/printer.bin";
  writeFile(stdinPath, setup.stdinBytes);

  int toSim[2], toFilter[2];
  if (pipe2(toSim, O_CLOEXEC) != 0 || pipe2(toFilter, O_CLOEXEC) != 0) {
    run.log = std::string("pipe: ") + strerror(errno);
    return run;
  }

  std::vector<std::string> simArgs = {SimulatorBinary(), "--log", simLogPath, "--capture",
                                      capturePath, "--reply-fd", "3"};
  if (!setup.simScript.empty()) {
    simArgs.push_back("--script");
    simArgs.push_back(setup.simScript);
  }
  if (!setup.simPanels.empty()) {
    simArgs.push_back("--panels");
    simArgs.push_back(setup.simPanels);
  }
  for (const std::string& rule : setup.simRules) {
    simArgs.push_back("--rule");
    simArgs.push_back(rule);
  }
  const std::string program = setup.program.empty() ? FilterBinary() : setup.program;
  std::vector<std::string> filterArgs = {program.substr(program.rfind('/') + 1)};
  filterArgs.insert(filterArgs.end(), setup.args.begin(), setup.args.end());
  if (!setup.inputFile.empty()) filterArgs.push_back(setup.inputFile);
  const std::string pauseLogPath = work + "/pauses.log";
  std::vector<std::string> env = filterEnvironment(setup, tmpDir, pauseLogPath);
  std::vector<char*> simArgv = cStrings(simArgs);
  std::vector<char*> filterArgv = cStrings(filterArgs);
  std::vector<char*> filterEnv = cStrings(env);

  pid_t sim = fork();
  if (sim == 0) {
    moveTo(toSim[0], 0);
    moveTo(toFilter[1], 3);
    moveTo(openOrDie("/dev/null", O_WRONLY), 1);
    moveTo(openOrDie(simErrPath, O_WRONLY | O_CREAT | O_TRUNC), 2);
    execv(simArgv[0], simArgv.data());
    _exit(127);
  }
  pid_t filter = fork();
  if (filter == 0) {
    moveTo(openOrDie(stdinPath, O_RDONLY), 0);
    moveTo(toSim[1], 1);
    moveTo(openOrDie(stderrPath, O_WRONLY | O_CREAT | O_TRUNC), 2);
    moveTo(toFilter[0], 3);
    // cupsd hands filters a non-blocking back channel: after a read's
    // time-out the read itself then fails instead of waiting on.
    fcntl(3, F_SETFL, fcntl(3, F_GETFL) | O_NONBLOCK);
    execve(program.c_str(), filterArgv.data(),
           filterEnv.data());
    _exit(127);
  }
  close(toSim[0]);
  close(toSim[1]);
  close(toFilter[0]);
  close(toFilter[1]);

  const double deadline = now() + setup.timeoutSeconds;
  int filterStatus = 0, simStatus = 0;
  bool filterDone = filter < 0, simDone = sim < 0;
  while (!filterDone || !simDone) {
    if (!filterDone && waitpid(filter, &filterStatus, WNOHANG) == filter) filterDone = true;
    if (!simDone && waitpid(sim, &simStatus, WNOHANG) == sim) simDone = true;
    if (filterDone && simDone) break;
    if (now() > deadline) {
      run.timedOut = true;
      if (!filterDone) kill(filter, SIGKILL);
      if (!simDone) kill(sim, SIGKILL);
      if (!filterDone) waitpid(filter, &filterStatus, 0);
      if (!simDone) waitpid(sim, &simStatus, 0);
      break;
    }
    usleep(2000);
  }

  run.exitStatus = statusOf(filterStatus);
  run.log = readFile(stderrPath);
  std::string captured = readFile(capturePath);
  run.printerBytes.assign(captured.begin(), captured.end());
  run.frames = vkrsim::SplitFrames(run.printerBytes);
  run.simLog = readFile(simLogPath);
  run.simErrors = readFile(simErrPath);
  std::istringstream pauses(readFile(pauseLogPath));
  for (unsigned usec; pauses >> usec;) run.pauses.push_back(usec);
  if (statusOf(simStatus) != 0)
    run.simErrors += "\n[vkrsim exit status " + std::to_string(statusOf(simStatus)) + "]\n";
  RemoveTree(work);
  return run;
}

}  // namespace vkrtest
