// The harness that runs rastertovkr wired to vkrsim.
#include "support/run_filter.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace vkrtest {

const char* FilterBinary() { return VKR_FILTER_BIN; }
const char* CommandFilterBinary() { return VKR_COMMAND_FILTER_BIN; }
const char* SimulatorBinary() { return VKR_SIM_BIN; }
const char* NoSleepLibrary() { return VKR_NOSLEEP_LIB; }
const char* TestDataDir() { return VKR_TEST_DATA_DIR; }

namespace {

// Reads a file, at most 64 MiB of it (a filter stuck in a loop can write
// without end until the run is killed).
std::string readFile(const std::string& path) {
  std::string text(size_t(64) << 20, '\0');
  std::ifstream in(path, std::ios::binary);
  in.read(&text[0], std::streamsize(text.size()));
  text.resize(size_t(in.gcount()));
  return text;
}

// In a child about to exec: opens path (or takes fd when path is empty) as
// descriptor target, open across the exec.
void putAt(int target, int fd, const std::string& path = "", int flags = 0) {
  if (!path.empty() && (fd = open(path.c_str(), flags | O_CLOEXEC, 0600)) < 0) {
    perror(path.c_str());
    _exit(127);
  }
  if (fd == target) fcntl(fd, F_SETFD, 0);
  else dup2(fd, target);
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
  static const char* const kControlled[] = {"PPD=", "FINAL_CONTENT_TYPE=", "LD_PRELOAD=", "VKR_TEST_TMPDIR=",
                                            "VKR_USLEEP_LOG=", "ASAN_OPTIONS=", "UBSAN_OPTIONS="};
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    bool controlled = false;
    for (const char* name : kControlled) controlled |= strncmp(*e, name, strlen(name)) == 0;
    if (!controlled) env.push_back(*e);
  }
  if (setup.noSleep)
    env.insert(env.end(), {std::string("LD_PRELOAD=") + VKR_NOSLEEP_LIB, "VKR_TEST_TMPDIR=" + tmpDir,
                           "VKR_USLEEP_LOG=" + pauseLog});
  // A sanitizer build must accept the preload standing before its runtime;
  // what the filter leaves to the process exit is released there by design.
  // A sanitizer's finding exits with its own status, never the filter's 1.
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
  return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

}  // namespace

std::vector<std::string> FilterRun::Codes() const {
  std::vector<std::string> codes;
  for (const vkrsim::Frame& f : frames) codes.push_back(f.code);
  return codes;
}

std::string MakeTempDir() {
  const char* base = getenv("TMPDIR");
  std::string name = std::string(base && *base ? base : "/tmp") + "/vkrtest.XXXXXX";
  return mkdtemp(&name[0]) ? name : "";
}

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  nftw(path.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
       FTW_DEPTH | FTW_PHYS);
}

FilterRun RunFilter(const FilterSetup& setup) {
  FilterRun run;
  const std::string work = MakeTempDir(), tmpDir = setup.tmpDir.empty() ? work : setup.tmpDir;
  const std::string stdinPath = work + "/stdin.bin", stderrPath = work + "/filter.err",
                    simLogPath = work + "/sim.log", simErrPath = work + "/sim.err",
                    capturePath = work + "/printer.bin", pauseLogPath = work + "/pauses.log";
  std::ofstream(stdinPath, std::ios::binary)
      .write(reinterpret_cast<const char*>(setup.stdinBytes.data()), std::streamsize(setup.stdinBytes.size()));
  int toSim[2], toFilter[2];
  if (pipe2(toSim, O_CLOEXEC) != 0 || pipe2(toFilter, O_CLOEXEC) != 0) {
    run.log = std::string("pipe: ") + strerror(errno);
    return run;
  }
  std::vector<std::string> simArgs = {SimulatorBinary(), "--log", simLogPath, "--capture", capturePath,
                                      "--reply-fd", "3"};
  if (!setup.simScript.empty()) simArgs.insert(simArgs.end(), {"--script", setup.simScript});
  if (!setup.simPanels.empty()) simArgs.insert(simArgs.end(), {"--panels", setup.simPanels});
  for (const std::string& rule : setup.simRules) simArgs.insert(simArgs.end(), {"--rule", rule});
  const std::string program = setup.program.empty() ? FilterBinary() : setup.program;
  std::vector<std::string> filterArgs = {program.substr(program.rfind('/') + 1)};
  filterArgs.insert(filterArgs.end(), setup.args.begin(), setup.args.end());
  if (!setup.inputFile.empty()) filterArgs.push_back(setup.inputFile);
  std::vector<std::string> env = filterEnvironment(setup, tmpDir, pauseLogPath);
  std::vector<char*> simArgv = cStrings(simArgs), filterArgv = cStrings(filterArgs), filterEnv = cStrings(env);

  pid_t sim = fork();
  if (sim == 0) {
    putAt(0, toSim[0]);
    putAt(3, toFilter[1]);
    putAt(1, -1, "/dev/null", O_WRONLY);
    putAt(2, -1, simErrPath, O_WRONLY | O_CREAT | O_TRUNC);
    execv(simArgv[0], simArgv.data());
    _exit(127);
  }
  pid_t filter = fork();
  if (filter == 0) {
    putAt(0, -1, stdinPath, O_RDONLY);
    putAt(1, toSim[1]);
    putAt(2, -1, stderrPath, O_WRONLY | O_CREAT | O_TRUNC);
    putAt(3, toFilter[0]);
    // cupsd hands filters a non-blocking back channel: after a read's
    // time-out the read itself then fails instead of waiting on.
    fcntl(3, F_SETFL, fcntl(3, F_GETFL) | O_NONBLOCK);
    execve(program.c_str(), filterArgv.data(), filterEnv.data());
    _exit(127);
  }
  for (int fd : {toSim[0], toSim[1], toFilter[0], toFilter[1]}) close(fd);
  const double deadline = now() + setup.timeoutSeconds;
  int filterStatus = 0, simStatus = 0;
  bool filterDone = filter < 0, simDone = sim < 0;
  while (!filterDone || !simDone) {
    filterDone = filterDone || waitpid(filter, &filterStatus, WNOHANG) == filter;
    simDone = simDone || waitpid(sim, &simStatus, WNOHANG) == sim;
    if (!(filterDone && simDone) && now() > deadline) {
      run.timedOut = true;
      if (!filterDone) kill(filter, SIGKILL), waitpid(filter, &filterStatus, 0);
      if (!simDone) kill(sim, SIGKILL), waitpid(sim, &simStatus, 0);
      break;
    }
    usleep(2000);
  }
  run.exitStatus = statusOf(filterStatus);
  run.log = readFile(stderrPath);
  const std::string captured = readFile(capturePath);
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
