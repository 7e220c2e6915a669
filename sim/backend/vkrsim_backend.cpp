// vkrsim as a CUPS backend: the simulated card printer behind a CUPS queue.
//
//   DEVICE_URI=vkrsim:/path/to/folder vkrsim job user title copies options [file]
//
// With no arguments it prints its discovery line, as every backend does.
// Otherwise it reads the job's command stream from the file or standard
// input, answers every command through the CUPS back channel (which the
// filter reads with cupsBackChannelRead), and keeps what the printer got in
// the folder named by the URI, one folder per job that the job makes itself
// (0700, its files 0600; a job folder already there is refused):
//
//   job-<id>/commands.bin    every byte the printer received
//   job-<id>/printer.log     the readable record of commands and answers
//   job-<id>/card001_front_color.jpg, ...   the panels of each printed card
//   job-<id>/card001_front_preview.png, ... the preview of each printed side
//
// The job is written to its folder as it arrives and not held in memory: a
// command longer than any card's (kFrameLimit) passes through unkept and is
// refused, and a panel larger than the printer's is recorded as bad, not
// decoded. Whatever the job holds, the backend ends with an "ERROR: " line
// and CUPS_BACKEND_FAILED rather than a crash.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include <cups/backend.h>
#include <cups/cups.h>
#include <cups/sidechannel.h>

#include "sim/handlers_pts.h"
#include "sim/sim_core.h"

namespace {

const char kScheme[] = "vkrsim";
// The longest command the simulated printer takes: a two-sided card's six
// panels at their worst stay well below it.
const size_t kFrameLimit = 64u << 20;

// The folder a vkrsim URI names: vkrsim:/dir, vkrsim:///dir or
// vkrsim://localhost/dir; empty when the URI is not ours or has no path.
std::string folderOfUri(const char* uri) {
  if (!uri) return "";
  std::string text = uri;
  const std::string prefix = std::string(kScheme) + ":";
  if (text.compare(0, prefix.size(), prefix) != 0) return "";
  text.erase(0, prefix.size());
  if (text.compare(0, 2, "//") == 0) {
    const size_t slash = text.find('/', 2);
    if (slash == std::string::npos) return "";
    const std::string host = text.substr(2, slash - 2);
    if (!host.empty() && host != "localhost") return "";
    text.erase(0, slash);
  }
  if (text.empty() || text[0] != '/') return "";
  return text;
}

// Makes the folder and any missing parents (0700); true when it exists afterwards.
bool makeFolders(const std::string& path) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at == path.size() || path[at] == '/') {
      const std::string part = path.substr(0, at);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes the job's own folder, 0700; the reason it cannot, or empty. A folder
// already there (whoever made it) is not the job's: it could hold links to
// files of someone else's. The folder above it belongs to this user or root.
std::string makeJobFolder(const std::string& folder, const std::string& jobFolder) {
  struct stat info;
  if (!makeFolders(folder) || stat(folder.c_str(), &info) != 0)
    return "cannot write to " + jobFolder + ": " + strerror(errno);
  if (info.st_uid != geteuid() && info.st_uid != 0) return "refuses " + folder + ": it belongs to another user";
  if (mkdir(jobFolder.c_str(), 0700) != 0) {
    if (errno == EEXIST) return "refuses " + jobFolder + ": it was there before the job";
    return "cannot write to " + jobFolder + ": " + strerror(errno);
  }
  return "";
}

// Sends one answer to the filter; the back channel is a pipe that cupsd
// drains, so a short wait is plenty.
void answerThroughBackChannel(const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const ssize_t sent = cupsBackChannelWrite(reinterpret_cast<const char*>(bytes), count, 5.0);
    if (sent <= 0) {
      fprintf(stderr, "DEBUG: vkrsim: back channel write failed: %s\n", strerror(errno));
      return;
    }
    bytes += sent;
    count -= static_cast<size_t>(sent);
  }
}

// Runs the backend: prints the discovery line, or takes one job.
int runBackend(int argc, char* argv[]);

}  // namespace

int main(int argc, char* argv[]) {
  try {
    return runBackend(argc, argv);
  } catch (const std::bad_alloc&) {
    fprintf(stderr, "ERROR: The simulated printer ran out of memory for this job\n");
  } catch (const std::exception& e) {
    fprintf(stderr, "ERROR: The simulated printer failed: %s\n", e.what());
  }
  return CUPS_BACKEND_FAILED;
}

namespace {

int runBackend(int argc, char* argv[]) {
  signal(SIGPIPE, SIG_IGN);
  // The cards of a job are its owner's pictures: its folder and files are
  // for the backend's user alone.
  umask(077);
  if (argc == 1) {
    printf("direct %s \"VK4400 simulator\" \"VK4400 card printer simulator\"\n", kScheme);
    return CUPS_BACKEND_OK;
  }
  if (argc < 6 || argc > 7) {
    fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return CUPS_BACKEND_FAILED;
  }

  const char* uri = getenv("DEVICE_URI");
  const std::string folder = folderOfUri(uri ? uri : argv[0]);
  if (folder.empty()) {
    fprintf(stderr, "ERROR: The device URI must be vkrsim:/path/to/a/folder (got \"%s\")\n",
            uri ? uri : argv[0]);
    return CUPS_BACKEND_STOP;
  }
  int input = 0;
  if (argc == 7) {
    input = open(argv[6], O_RDONLY);
    if (input < 0) {
      fprintf(stderr, "ERROR: Unable to open print file %s: %s\n", argv[6], strerror(errno));
      return CUPS_BACKEND_FAILED;
    }
  }

  const std::string jobFolder = folder + "/job-" + argv[1];
  if (const std::string why = makeJobFolder(folder, jobFolder); !why.empty()) {
    fprintf(stderr, "ERROR: The simulator %s\n", why.c_str());
    return CUPS_BACKEND_STOP;
  }

  FILE* capture = fopen((jobFolder + "/commands.bin").c_str(), "wb");
  FILE* log = fopen((jobFolder + "/printer.log").c_str(), "w");
  if (!capture || !log) {
    fprintf(stderr, "ERROR: The simulator cannot write to %s: %s\n", jobFolder.c_str(), strerror(errno));
    return CUPS_BACKEND_STOP;
  }

  fprintf(stderr, "INFO: Simulated card printer ready, keeping the job in %s\n", jobFolder.c_str());
  vkrsim::Simulator sim(answerThroughBackChannel);
  vkrsim::SetPanelFolder(jobFolder);
  sim.SetCapture(capture);
  sim.SetLog(log);
  sim.SetFrameLimit(kFrameLimit);
  sim.SetKeepParams(false);
  sim.Run(input);
  fclose(capture);
  fclose(log);
  if (input != 0) close(input);

  // The print-job handler counts each card it printed.
  const int cards = int(sim.counters["cards"]);
  fprintf(stderr, "INFO: Simulated card printer printed %d card%s into %s\n", cards, cards == 1 ? "" : "s",
          jobFolder.c_str());
  return CUPS_BACKEND_OK;
}

}  // namespace
