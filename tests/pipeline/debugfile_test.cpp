// The debug files' own rules, file by file: what is opened, emptied, refused
// and left as it was.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "pipeline/debugfile.h"

namespace {

std::string contents(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(DebugFile, OpensItsOwnFileEmptiedAndRefusesAnyOtherWithTheReason) {
  char folder[] = "/tmp/vkr-debugfile.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string dir = folder, kept = dir + "/kept";
  std::ofstream(kept) << "an earlier file the job must not touch";
  struct Case {
    const char* name;
    void (*make)(const std::string& path, const std::string& kept);
    bool opens;
    const char* why;  // the start of the reason when refused
  };
  const Case kCases[] = {
      {"new", [](const std::string&, const std::string&) {}, true, ""},
      // An earlier job's longer dump: emptied, so that no old tail follows the new bytes.
      {"longer", [](const std::string& p, const std::string&) { std::ofstream(p) << std::string(5000, 'x'); },
       true, ""},
      {"second name", [](const std::string& p, const std::string& k) { ASSERT_EQ(link(k.c_str(), p.c_str()), 0); },
       false, "a file with more than one name"},
      {"symbolic link", [](const std::string& p, const std::string& k) { ASSERT_EQ(symlink(k.c_str(), p.c_str()), 0); },
       false, ""},
      {"folder", [](const std::string& p, const std::string&) { ASSERT_EQ(mkdir(p.c_str(), 0700), 0); }, false,
       ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/" + c.name;
    c.make(path, kept);
    char why[128] = "";
    const int fd = OpenDebugFile(path.c_str(), why, sizeof(why));
    if (c.opens) {
      ASSERT_GE(fd, 0) << why;
      ASSERT_EQ(write(fd, "new", 3), 3);
      close(fd);
      EXPECT_EQ(contents(path), "new");
      struct stat st;
      ASSERT_EQ(stat(path.c_str(), &st), 0);
      if (strcmp(c.name, "new") == 0) {
        EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new file is its user's alone";
      }
    } else {
      EXPECT_EQ(fd, -1);
      EXPECT_NE(std::string(why), "") << "a refusal says why";
      EXPECT_EQ(std::string(why).compare(0, strlen(c.why), c.why), 0) << why;
      EXPECT_EQ(contents(kept), "an earlier file the job must not touch");
    }
  }
  std::string command = "rm -rf " + dir;
  EXPECT_EQ(system(command.c_str()), 0);
}

}  // namespace
