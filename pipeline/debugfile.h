// Debug files under fixed names in a shared folder (the image log's raster
// copy and the pipeline's dumps), opened so that nobody else can steer the
// writes: no symbolic link is followed, an existing file is written only
// when it is a regular file of this process's own user with no other name,
// and a new file is readable by that user only.
#pragma once

#include <cstddef>

// Opens path for writing, emptied; returns the descriptor, or -1 with errno
// set and why holding a short reason (the system's error text, or what is
// wrong with the file found there). A refused file is left as it was; errno
// is then ELOOP (a link) or EPERM (not a regular file of this user).
int OpenDebugFile(const char* path, char* why, size_t whySize);
