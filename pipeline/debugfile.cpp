// Opening the debug files safely (see debugfile.h).
#include "pipeline/debugfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Opens path for writing, emptied, refusing links and other users' files.
int OpenDebugFile(const char* path, char* why, size_t whySize) {
  // No O_TRUNC here: a file that turns out to be refused keeps its bytes.
  const int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) {
    const int error = errno;
    snprintf(why, whySize, "%s", strerror(error));
    errno = error;
    return -1;
  }
  struct stat st;
  const char* wrong = nullptr;
  if (fstat(fd, &st) != 0)
    wrong = strerror(errno);
  else if (!S_ISREG(st.st_mode))
    wrong = "not a regular file";
  else if (st.st_uid != geteuid())
    wrong = "owned by another user";
  else if (st.st_nlink != 1)
    wrong = "a file with more than one name";
  if (wrong == nullptr && (ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, 0) != 0))
    wrong = strerror(errno);
  if (wrong != nullptr) {
    snprintf(why, whySize, "%s", wrong);
    close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}
