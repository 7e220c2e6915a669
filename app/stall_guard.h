// A PWG or Apple raster job is read by PAPPL straight from its client's
// connection, on the client's thread, with no time-out, and PAPPL offers no
// handle to that connection. When such a document stops arriving (or the
// job is cancelled while its thread waits for it), the job's connection is
// found by what that thread waits on, and its reading side is shut: PAPPL's
// read then ends, and the job with it.
#pragma once

#include <sys/types.h>

// The calling thread's id, for BreakBlockedRead.
pid_t CurrentThreadId();

// If thread tid (of this process) waits to read a socket, shuts that
// socket's reading side; returns whether it did.
bool BreakBlockedRead(pid_t tid);
