// vkrsim: the simulated card printer.
//
//   vkrsim [--log FILE] [--capture FILE] [--in-fd N] [--reply-fd N]
//          [--script FILE] [--rule "RULE"]... [--panels DIR]
//          [--listen PORT [--port-file FILE]] [--answer-delay MS]
//          [--timeline FILE]
//
// Reads the filter's command stream (standard input unless --in-fd), answers
// every frame on the reply descriptor (3 unless --reply-fd: the descriptor
// that the filter reads as its back channel), writes a readable record of
// frames and answers to the log and every byte received to the capture
// file. Rules are described in sim_script.h. With --panels, every printed
// card's panels and side previews are saved in DIR (handlers_pts.h).
//
// With --listen the printer stands on a loopback TCP port instead (0: any
// free port, written to --port-file once it listens), as a network card
// printer does (AppSocket): it takes one connection at a time, reads the
// commands from it and answers on the same connection, until it is killed.
// Card numbers, counters and scripted answers carry on from one connection
// to the next, as they would in one printer.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
          " [--script FILE] [--rule RULE]... [--panels DIR] [--listen PORT [--port-file FILE]]"
          " [--answer-delay MS] [--timeline FILE]\n");
  return 2;
}

// Opens a listening socket on 127.0.0.1:port (0: any free port) and writes
// the port taken to portFile when one is given; -1 on failure.
int listenOnLoopback(int port, const char* portFile) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return perror("vkrsim: socket"), -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(uint16_t(port));
  socklen_t length = sizeof(addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    perror("vkrsim: listen");
    close(fd);
    return -1;
  }
  if (portFile != nullptr) {
    // Written under another name and renamed, so a reader never sees half.
    const std::string temporary = std::string(portFile) + ".new";
    FILE* out = fopen(temporary.c_str(), "w");
    if (out == nullptr || fprintf(out, "%d\n", int(ntohs(addr.sin_port))) < 0 || fclose(out) != 0 ||
        rename(temporary.c_str(), portFile) != 0) {
      perror(portFile);
      close(fd);
      return -1;
    }
  }
  return fd;
}

// Serves one connection after another: the commands come in on the
// connection and the answers go back on it.
void serveConnections(vkrsim::Simulator& sim, int listener, int& replyFd) {
  for (;;) {
    const int connection = accept(listener, nullptr, nullptr);
    if (connection < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      perror("vkrsim: accept");
      return;
    }
    replyFd = connection;
    sim.Run(connection);
    close(connection);
    replyFd = -1;
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  signal(SIGPIPE, SIG_IGN);
  int inFd = 0;
  int replyFd = 3;
  FILE* log = nullptr;
  FILE* capture = nullptr;
  // A printer that takes its time answers each command this much later;
  // the timeline notes when each answer went out (milliseconds since the
  // epoch and the answer's code), to tell printers working at once.
  long answerDelayMs = 0;
  FILE* timeline = nullptr;
  vkrsim::Simulator sim([&](const uint8_t* bytes, size_t count) {
    if (answerDelayMs > 0) usleep(useconds_t(answerDelayMs) * 1000);
    if (timeline) {
      timespec now;
      clock_gettime(CLOCK_REALTIME, &now);
      const std::string code = count >= 5 ? std::string(reinterpret_cast<const char*>(bytes) + 1, 4) : "?";
      fprintf(timeline, "%lld %s\n", (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000, code.c_str());
      fflush(timeline);
    }
    writeAll(replyFd, bytes, count);
  });
  std::string error;
  int listenPort = -1;
  const char* portFile = nullptr;
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
      // A folder that is not there would silently keep nothing.
      struct stat folder;
      if (stat(value, &folder) != 0 || !S_ISDIR(folder.st_mode))
        return fprintf(stderr, "vkrsim: --panels %s: no such folder\n", value), 2;
      vkrsim::SetPanelFolder(value);
    } else if (arg == "--listen") {
      listenPort = atoi(value);
      if (listenPort < 0 || listenPort > 65535) return usage();
    } else if (arg == "--port-file") {
      portFile = value;
    } else if (arg == "--answer-delay") {
      answerDelayMs = atol(value);
      if (answerDelayMs < 0 || answerDelayMs > 60000) return usage();
    } else if (arg == "--timeline") {
      timeline = fopen(value, "w");
      if (!timeline) return perror(value), 1;
    } else if (arg == "--rule") {
      if (!vkrsim::AddRule(sim, value, &error)) return fprintf(stderr, "vkrsim: %s\n", error.c_str()), 2;
    } else {
      return usage();
    }
  }
  sim.SetLog(log);
  sim.SetCapture(capture);
  if (listenPort >= 0) {
    const int listener = listenOnLoopback(listenPort, portFile);
    if (listener < 0) return 1;
    serveConnections(sim, listener, replyFd);
    close(listener);
  } else {
    sim.Run(inFd);
  }
  if (log) fclose(log);
  if (capture) fclose(capture);
  return 0;
}
