// vkrsim: the simulated card printer.
//
//   vkrsim [--log FILE] [--capture FILE] [--in-fd N] [--reply-fd N]
//          [--script FILE] [--rule "RULE"]... [--panels DIR]
//
// Reads the filter's command stream (standard input unless --in-fd), answers
// every frame on the reply descriptor (3 unless --reply-fd: the descriptor
// that the filter reads as its back channel), writes a readable record of
// frames and answers to the log and every byte received to the capture
// file. Rules are described in sim_script.h. With --panels, every printed
// card's panels and side previews are saved in DIR (handlers_pts.h).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "sim/handlers_pts.h"
#include "sim/sim_core.h"
#include "sim/sim_script.h"

namespace {

// Writes all bytes to fd; a reader that has gone away is not an error here.
void writeAll(int fd, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, bytes, count);
    if (n <= 0) return;
    bytes += n;
    count -= size_t(n);
  }
}

int usage() {
  fprintf(stderr,
          "usage: vkrsim [--log FILE] [--capture FILE] [--in-fd N] [--reply-fd N]"
          " [--script FILE] [--rule RULE]... [--panels DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  signal(SIGPIPE, SIG_IGN);
  int inFd = 0;
  int replyFd = 3;
  FILE* log = nullptr;
  FILE* capture = nullptr;
  vkrsim::Simulator sim([&](const uint8_t* bytes, size_t count) { writeAll(replyFd, bytes, count); });
  std::string error;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return usage();
    const char* value = argv[++i];
    if (arg == "--log") {
      log = fopen(value, "w");
      if (!log) return perror(value), 1;
    } else if (arg == "--capture") {
      capture = fopen(value, "wb");
      if (!capture) return perror(value), 1;
    } else if (arg == "--in-fd") {
      inFd = atoi(value);
    } else if (arg == "--reply-fd") {
      replyFd = atoi(value);
    } else if (arg == "--script") {
      if (!vkrsim::LoadScript(sim, value, &error)) return fprintf(stderr, "vkrsim: %s\n", error.c_str()), 2;
    } else if (arg == "--panels") {
      vkrsim::SetPanelFolder(value);
    } else if (arg == "--rule") {
      if (!vkrsim::AddRule(sim, value, &error)) return fprintf(stderr, "vkrsim: %s\n", error.c_str()), 2;
    } else {
      return usage();
    }
  }
  sim.SetLog(log);
  sim.SetCapture(capture);
  sim.Run(inFd);
  if (log) fclose(log);
  if (capture) fclose(capture);
  return 0;
}
