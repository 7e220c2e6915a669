// The worker starter: one vkr-card-worker, started with the server, that
// has loaded the worker program once and starts each card worker as a copy
// of itself instead of running the program anew. A job then pays no program
// load, only a copy of a small process. The workers it starts are the
// server's own children (the server signals, reaps and accounts for them as
// for any other), and each is still a process of its own.
//
// The server talks to it over a packet socket: a request is the worker's
// arguments (NUL-separated, mode first) with its three descriptors (pages,
// log, link) attached; the answer is the worker's process id, or minus the
// error number.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

// The longest request the starter takes (the arguments, NUL-separated); a
// worker with longer arguments is started as a program.
const size_t kStarterRequestRoom = 128 * 1024;

// The starter's loop, on the packet socket `control` (the worker program's
// "starter" mode). Returns when the server closes its end.
int RunWorkerStarter(int control);

// The server's side. Starts the starter (from the thread that lives as long
// as the server: the workers' parent-death signal follows that thread).
// False when it could not; workers are then started as programs.
bool StartWorkerStarter();

// Asks the starter for a worker with these arguments and descriptors.
// Returns its process id, or -1 when there is no starter or it failed (the
// caller starts the program itself).
pid_t StartWorkerCopy(const std::vector<std::string>& args, int pagesFd, int logFd, int linkFd);

// Ends the starter (tests): closes the server's end and reaps it.
void StopWorkerStarter();
