// The server's configuration: where its state lives by default, which
// folders and state files it refuses, who may administer over TCP, and the
// device URIs a printer may have.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "app/server_config.h"

namespace {

using Env = std::map<std::string, std::string>;

StatePlaces placesFor(uid_t uid, const Env& env) {
  return DefaultStatePlaces(uid, [&env](const char* name) -> const char* {
    const auto found = env.find(name);
    return found == env.end() ? nullptr : found->second.c_str();
  });
}

// Root keeps its state in the system's folders, a snap in its common
// folder, a user under the XDG state folder; never under /tmp, and with no
// usable home the server does not start.
TEST(StatePlaces, FollowTheUserAndNeverFallBackToTmp) {
  const struct {
    uid_t uid;
    Env env;
    const char *state, *spool;
  } kCases[] = {
      {0, {{"HOME", "/root"}}, "/var/lib/vkr-printer-app", "/var/spool/vkr-printer-app"},
      {0, {}, "/var/lib/vkr-printer-app", "/var/spool/vkr-printer-app"},
      {0, {{"SNAP_COMMON", "/var/snap/x/common"}}, "/var/snap/x/common", "/var/snap/x/common/spool"},
      {1000, {{"HOME", "/home/ann"}}, "/home/ann/.local/state/vkr-printer-app",
       "/home/ann/.local/state/vkr-printer-app/spool"},
      {1000, {{"HOME", "/home/ann"}, {"XDG_STATE_HOME", "/srv/ann"}}, "/srv/ann/vkr-printer-app",
       "/srv/ann/vkr-printer-app/spool"},
      // A relative XDG_STATE_HOME is ignored, as the XDG rules say.
      {1000, {{"HOME", "/home/ann"}, {"XDG_STATE_HOME", "state"}}, "/home/ann/.local/state/vkr-printer-app",
       "/home/ann/.local/state/vkr-printer-app/spool"},
  };
  for (const auto& c : kCases) {
    const StatePlaces places = placesFor(c.uid, c.env);
    EXPECT_EQ(places.stateFolder, c.state) << c.uid;
    EXPECT_EQ(places.spoolFolder, c.spool) << c.uid;
    EXPECT_TRUE(places.error.empty()) << places.error;
  }
  for (const Env& env : {Env{}, Env{{"HOME", ""}}, Env{{"HOME", "/"}}, Env{{"HOME", "relative"}}}) {
    const StatePlaces places = placesFor(1000, env);
    EXPECT_TRUE(places.stateFolder.empty() && places.spoolFolder.empty()) << places.stateFolder;
    EXPECT_NE(places.error.find("no home folder for the server's state"), std::string::npos) << places.error;
  }
}

// The options as the server reads them: loopback, no file devices and the
// lpadmin group unless told otherwise; paths must be absolute.
TEST(ServerOptions, DefaultsAreLoopbackAndOptionsOverrideThem) {
  cups_option_t* options = nullptr;
  int count = cupsAddOption("state-file", "/srv/app/app.state", 0, &options);
  count = cupsAddOption("spool-directory", "/srv/spool", count, &options);
  ServerConfig config;
  std::string error;
  ASSERT_TRUE(ReadServerConfig(count, options, &config, &error)) << error;
  EXPECT_EQ(config.stateFile, "/srv/app/app.state");
  EXPECT_EQ(config.spoolDir, "/srv/spool");
  EXPECT_EQ(config.listen, "localhost");
  EXPECT_FALSE(config.network);
  EXPECT_FALSE(config.allowFileDevices);
  EXPECT_EQ(config.adminGroup, "lpadmin");
  EXPECT_EQ(config.tlsDir, "/srv/app/tls");
  EXPECT_FALSE(config.tlsDirNamed);
  EXPECT_EQ(config.authService, "vkr-printer-app");

  count = cupsAddOption("listen-hostname", "127.0.0.2", count, &options);
  count = cupsAddOption("admin-group", "printadmins", count, &options);
  count = cupsAddOption("allow-file-devices", "true", count, &options);
  count = cupsAddOption("tls-directory", "/etc/app-tls", count, &options);
  ServerConfig changed;
  ASSERT_TRUE(ReadServerConfig(count, options, &changed, &error)) << error;
  EXPECT_TRUE(changed.network);
  EXPECT_EQ(changed.listen, "127.0.0.2");
  EXPECT_EQ(changed.adminGroup, "printadmins");
  EXPECT_TRUE(changed.allowFileDevices);
  EXPECT_EQ(changed.tlsDir, "/etc/app-tls");
  EXPECT_TRUE(changed.tlsDirNamed);

  count = cupsAddOption("state-file", "app.state", count, &options);
  ServerConfig relative;
  EXPECT_FALSE(ReadServerConfig(count, options, &relative, &error));
  EXPECT_NE(error.find("must be absolute paths"), std::string::npos) << error;
  cupsFreeOptions(count, options);
}

TEST(DeviceUris, FileUrisOnlyWhenTheServerAllowsThem) {
  ServerConfig config;
  for (const char* uri : {"file:///etc/shadow", "FILE:/tmp", "file:/var/spool/x.prn"})
    EXPECT_FALSE(DeviceUriPermitted(config, uri)) << uri;
  for (const char* uri : {"socket://127.0.0.1:9100", "usb://Generic/VK4400", "dnssd://card._pdl-datastream._tcp.local/"})
    EXPECT_TRUE(DeviceUriPermitted(config, uri)) << uri;
  config.allowFileDevices = true;
  EXPECT_TRUE(DeviceUriPermitted(config, "file:///tmp/x.prn"));
}

class PrivateFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/vkr-config-test.XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf " + dir_).c_str()), 0); }
  static mode_t modeOf(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }
  std::string dir_;
};

// A missing folder is made 0700 with its parents; one that others can
// write, or that is not a folder, is refused.
TEST_F(PrivateFolders, MissingFoldersAreMadePrivateAndOpenOnesRefused) {
  std::string error;
  const std::string nested = dir_ + "/home/.local/state/app";
  ASSERT_TRUE(MakePrivateFolder(nested, &error)) << error;
  EXPECT_EQ(modeOf(nested), 0700u);
  EXPECT_EQ(modeOf(dir_ + "/home/.local"), 0700u);
  ASSERT_TRUE(MakePrivateFolder(nested, &error)) << "an existing private folder is taken: " << error;

  const struct {
    const char* name;
    mode_t mode;
    const char* why;
  } kCases[] = {
      {"readable", 0755, nullptr},
      {"group-writable", 0770, "can be written by other users"},
      {"world-writable", 0777, "can be written by other users"},
      {"sticky-world-writable", 01777, "can be written by other users"},
  };
  for (const auto& c : kCases) {
    const std::string folder = dir_ + "/" + c.name;
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
    error.clear();
    EXPECT_EQ(MakePrivateFolder(folder, &error), c.why == nullptr) << c.name;
    if (c.why) {
      EXPECT_NE(error.find(c.why), std::string::npos) << c.name << ": " << error;
    }
  }
  // Under a folder others can write (not sticky), even a private folder can
  // be swapped for another.
  ASSERT_TRUE(MakePrivateFolder(dir_ + "/world-writable/inner", &error) == false);
  EXPECT_NE(error.find(dir_ + "/world-writable can be written by other users"), std::string::npos) << error;

  ASSERT_EQ(symlink(nested.c_str(), (dir_ + "/link").c_str()), 0);
  EXPECT_FALSE(MakePrivateFolder(dir_ + "/link", &error));
  EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
}

// The administrator's TLS folder is read where it is, never made: one that
// others can write is refused.
TEST_F(PrivateFolders, NamedTlsFolderMustBeClosedToOthers) {
  std::string error;
  EXPECT_FALSE(FolderIsTrusted(dir_ + "/missing", &error));
  ASSERT_EQ(mkdir((dir_ + "/tls").c_str(), 0755), 0);
  EXPECT_TRUE(FolderIsTrusted(dir_ + "/tls", &error)) << error;
  ASSERT_EQ(chmod((dir_ + "/tls").c_str(), 0775), 0);
  EXPECT_FALSE(FolderIsTrusted(dir_ + "/tls", &error));
  EXPECT_NE(error.find("can be written by other users"), std::string::npos) << error;
}

// A folder or state file owned by another user is refused (root makes one).
TEST_F(PrivateFolders, AnotherUsersFolderAndStateFileAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user";
  std::string error;
  const std::string theirs = dir_ + "/theirs";
  ASSERT_EQ(mkdir(theirs.c_str(), 0700), 0);
  ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(MakePrivateFolder(theirs, &error));
  EXPECT_NE(error.find("is owned by another user"), std::string::npos) << error;
  ASSERT_EQ(chmod(theirs.c_str(), 0755), 0);
  EXPECT_FALSE(MakePrivateFolder(theirs + "/mine", &error)) << "a folder under another user's";
  EXPECT_NE(error.find(theirs + " is owned by another user"), std::string::npos) << error;

  const std::string state = dir_ + "/their.state";
  ASSERT_EQ(close(creat(state.c_str(), 0600)), 0);
  ASSERT_EQ(chown(state.c_str(), 65534, 65534), 0);
  EXPECT_FALSE(StateFileIsPrivate(state, &error));
  EXPECT_NE(error.find("not read, it is owned by another user"), std::string::npos) << error;
}

TEST_F(PrivateFolders, StateFileMustBeAPlainFileNoOneElseCanWrite) {
  const struct {
    const char* name;
    mode_t mode;
    const char* why;
  } kCases[] = {
      {"private.state", 0600, nullptr},
      {"readable.state", 0644, nullptr},
      {"group-writable.state", 0660, "can be written by other users"},
      {"world-writable.state", 0646, "can be written by other users"},
  };
  std::string error;
  for (const auto& c : kCases) {
    const std::string file = dir_ + "/" + c.name;
    ASSERT_EQ(close(creat(file.c_str(), 0600)), 0);
    ASSERT_EQ(chmod(file.c_str(), c.mode), 0);
    error.clear();
    EXPECT_EQ(StateFileIsPrivate(file, &error), c.why == nullptr) << c.name;
    if (c.why) {
      EXPECT_NE(error.find(c.why), std::string::npos) << c.name << ": " << error;
    }
  }
  EXPECT_TRUE(StateFileIsPrivate(dir_ + "/missing.state", &error)) << "a new server starts with no state";
  ASSERT_EQ(symlink((dir_ + "/private.state").c_str(), (dir_ + "/link.state").c_str()), 0);
  EXPECT_FALSE(StateFileIsPrivate(dir_ + "/link.state", &error));
  EXPECT_NE(error.find("is not a plain file"), std::string::npos) << error;
  EXPECT_FALSE(StateFileIsPrivate(dir_, &error)) << "a folder is no state file";
}

// "Basic " and base64 of "user:password".
std::string basic(const std::string& pair) {
  char encoded[256];
  httpEncode64_2(encoded, sizeof(encoded), pair.c_str(), int(pair.size()));
  return "Basic " + std::string(encoded);
}

// Printing and one's own jobs are open; administration needs an
// administrator's password, inside TLS on a server that serves the network.
TEST(Access, AdministrationNeedsAnAuthenticatedAdministrator) {
  const PasswordCheck password = [](const std::string& user, const std::string& secret) {
    return (user == "root" && secret == "r00t") || (user == "ann" && secret == "ann-pw") ||
           (user == "bob" && secret == "bob-pw");
  };
  const AdminCheck admin = [](const std::string& user) { return user == "root" || user == "ann"; };
  const std::string root = basic("root:r00t"), ann = basic("ann:ann-pw"), bob = basic("bob:bob-pw"),
                    wrong = basic("ann:guess"), noColon = basic("ann");
  const struct {
    const char* what;
    bool administration, encrypted, openJobOperation, network;
    const char* authorization;
    http_status_t want;
    const char* user;
  } kCases[] = {
      {"printing", false, false, false, false, nullptr, HTTP_STATUS_CONTINUE, ""},
      {"printing on the network", false, false, false, true, nullptr, HTTP_STATUS_CONTINUE, ""},
      {"a job's status or one's own job", true, false, true, false, nullptr, HTTP_STATUS_CONTINUE, ""},
      {"no credentials", true, false, false, false, nullptr, HTTP_STATUS_UNAUTHORIZED, ""},
      {"another scheme", true, false, false, false, "Bearer abc", HTTP_STATUS_UNAUTHORIZED, ""},
      {"wrong password", true, false, false, false, wrong.c_str(), HTTP_STATUS_UNAUTHORIZED, ""},
      {"no colon", true, false, false, false, noColon.c_str(), HTTP_STATUS_BAD_REQUEST, ""},
      {"not an administrator", true, false, false, false, bob.c_str(), HTTP_STATUS_FORBIDDEN, ""},
      {"admin group member", true, false, false, false, ann.c_str(), HTTP_STATUS_CONTINUE, "ann"},
      {"root", true, false, false, false, root.c_str(), HTTP_STATUS_CONTINUE, "root"},
      {"network, plain", true, false, false, true, ann.c_str(), HTTP_STATUS_UPGRADE_REQUIRED, ""},
      {"network, TLS", true, true, false, true, ann.c_str(), HTTP_STATUS_CONTINUE, "ann"},
      {"network, TLS, no credentials", true, true, false, true, nullptr, HTTP_STATUS_UNAUTHORIZED, ""},
  };
  for (const auto& c : kCases) {
    AccessRequest request;
    request.administration = c.administration;
    request.encrypted = c.encrypted;
    request.openJobOperation = c.openJobOperation;
    request.authorization = c.authorization;
    std::string user;
    EXPECT_EQ(DecideAccess(request, c.network, password, admin, &user), c.want) << c.what;
    EXPECT_EQ(user, c.user) << c.what;
  }
}

}  // namespace
