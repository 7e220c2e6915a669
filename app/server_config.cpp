// The server's configuration: state and spool folders and their checks,
// listeners, TLS, the local socket and the device URI policy. Who may
// administer over TCP is decided in server_auth.cpp.
#include "app/server_config.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "app/next_definition.h"

namespace {

const char kAppName[] = "vkr-printer-app";

// The group the local socket is handed to once the server is configured;
// until then (and in every other process) a socket is made as libcups makes it.
bool g_privateSocket = false;
gid_t g_socketGroup = gid_t(-1);
// The running server's configuration, for the driver's device URI check.
const ServerConfig* g_config = nullptr;

// The folder a path is in ("/" for the top, "." for a bare name).
std::string parentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether root may take what this user owns: a system account (made by a
// package, as the service's own user is), never a person's.
bool systemAccount(uid_t uid) { return uid < 1000; }

// Why a folder or file is not the server's own, or empty when it is: owned
// by this process's user (for root, also by a system account) and writable
// by no one else.
std::string notOurOwn(const struct stat& info) {
  if (info.st_uid != geteuid() && !(geteuid() == 0 && systemAccount(info.st_uid)))
    return "is owned by another user";
  if (info.st_mode & (S_IWGRP | S_IWOTH)) return "can be written by other users";
  return "";
}

// True when the folders above PATH let no one but root and this user move
// or replace it: each is owned by one of them, and one others can write is
// sticky (as /tmp is).
bool ancestorsAreSafe(const std::string& path, std::string* error) {
  for (std::string at = parentOf(path);; at = parentOf(at)) {
    struct stat info;
    if (stat(at.c_str(), &info) != 0) {
      *error = at + ": " + strerror(errno);
      return false;
    }
    const bool trustedOwner = info.st_uid == 0 || info.st_uid == geteuid();
    const bool othersMayWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) && !(info.st_mode & S_ISVTX);
    if (!trustedOwner || othersMayWrite) {
      *error = at + (trustedOwner ? " can be written by other users" : " is owned by another user");
      return false;
    }
    if (at == "/" || at == ".") return true;
  }
}

// Reads a yes/no option; anything but true, yes or 1 is no.
bool isTrue(const char* value) {
  return value && (!strcasecmp(value, "true") || !strcasecmp(value, "yes") || !strcmp(value, "1"));
}

}  // namespace

StatePlaces DefaultStatePlaces(uid_t uid, const std::function<const char*(const char*)>& getEnv) {
  const std::string app = kAppName;
  StatePlaces places;
  if (const char* snap = getEnv("SNAP_COMMON"); snap && *snap) {
    places.stateFolder = snap;
    places.spoolFolder = std::string(snap) + "/spool";
  } else if (uid == 0) {
    places.stateFolder = "/var/lib/" + app;
    places.spoolFolder = "/var/spool/" + app;
  } else {
    // The XDG base directory rules: a relative $XDG_STATE_HOME is ignored.
    const char* xdg = getEnv("XDG_STATE_HOME");
    const char* home = getEnv("HOME");
    if (xdg && xdg[0] == '/') {
      places.stateFolder = std::string(xdg) + "/" + app;
    } else if (home && home[0] == '/' && strcmp(home, "/") != 0) {
      places.stateFolder = std::string(home) + "/.local/state/" + app;
    } else {
      places.error = app + ": no home folder for the server's state: set HOME or XDG_STATE_HOME, or "
                           "name the state file and spool folder (-o state-file=FILE -o spool-directory=DIR)";
      return places;
    }
    places.spoolFolder = places.stateFolder + "/spool";
  }
  return places;
}

bool ReadServerConfig(int num_options, cups_option_t* options, ServerConfig* config, std::string* error) {
  const auto option = [&](const char* name) { return cupsGetOption(name, num_options, options); };
  const char* stateFile = option("state-file");
  const char* spool = option("spool-directory");
  if (!stateFile || !spool) {
    const StatePlaces places = DefaultStatePlaces(getuid(), [](const char* name) { return getenv(name); });
    if (!places.error.empty()) {
      *error = places.error;
      return false;
    }
    config->stateFile = places.stateFolder + "/" + kAppName + ".state";
    config->spoolDir = places.spoolFolder;
  }
  if (stateFile) config->stateFile = stateFile;
  if (spool) config->spoolDir = spool;
  for (const std::string* path : {&config->stateFile, &config->spoolDir}) {
    if (path->empty() || (*path)[0] != '/') {
      *error = std::string(kAppName) + ": the state file and spool folder must be absolute paths (got \"" +
               *path + "\")";
      return false;
    }
  }
  if (const char* listen = option("listen-hostname"); listen && *listen) config->listen = listen;
  config->network = config->listen != "localhost";
  const char* tls = option("tls-directory");
  config->tlsDir = tls ? tls : parentOf(config->stateFile) + "/tls";
  config->tlsDirNamed = tls != nullptr;
  if (const char* group = option("admin-group"); group && *group) config->adminGroup = group;
  const char* service = option("auth-service");
  config->authService = service && *service ? service : kAppName;
  config->allowFileDevices = isTrue(option("allow-file-devices"));
  return true;
}

bool MakePrivateFolder(const std::string& folder, std::string* error) {
  struct stat info;
  if (lstat(folder.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      *error = folder + ": " + strerror(errno);
      return false;
    }
    // Missing parents first, each as private as the folder itself.
    const std::string parent = parentOf(folder);
    struct stat parentInfo;
    if (lstat(parent.c_str(), &parentInfo) != 0 && errno == ENOENT && !MakePrivateFolder(parent, error))
      return false;
    if ((mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) || lstat(folder.c_str(), &info) != 0) {
      *error = folder + ": " + strerror(errno);
      return false;
    }
  }
  const std::string why = S_ISDIR(info.st_mode) ? notOurOwn(info) : "is not a folder";
  if (!why.empty()) {
    *error = folder + ": refused, it " + why;
    return false;
  }
  if (!ancestorsAreSafe(folder, error)) {
    *error = folder + ": refused, " + *error;
    return false;
  }
  return true;
}

bool FolderIsTrusted(const std::string& folder, std::string* error) {
  struct stat info;
  if (lstat(folder.c_str(), &info) != 0) {
    *error = folder + ": " + strerror(errno);
    return false;
  }
  std::string why = !S_ISDIR(info.st_mode)                        ? "is not a folder"
                     : info.st_uid != 0 && info.st_uid != geteuid() ? "is owned by another user"
                     : (info.st_mode & (S_IWGRP | S_IWOTH))        ? "can be written by other users"
                                                                   : "";
  if (why.empty() && !ancestorsAreSafe(folder, &why)) why = "is under a folder that " + why;
  if (!why.empty()) *error = folder + ": refused, it " + why;
  return why.empty();
}

bool StateFileIsPrivate(const std::string& file, std::string* error) {
  struct stat info;
  if (lstat(file.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    *error = file + ": " + strerror(errno);
    return false;
  }
  const std::string why = S_ISREG(info.st_mode) ? notOurOwn(info) : "is not a plain file";
  if (!why.empty()) {
    *error = file + ": not read, it " + why;
    return false;
  }
  return true;
}

bool PrepareServerFolders(const ServerConfig& config, std::string* error) {
  // What the server writes (state, spool, jobs, logs) is for its user only.
  umask(077);
  std::string why;
  bool ok = MakePrivateFolder(parentOf(config.stateFile), &why) && StateFileIsPrivate(config.stateFile, &why) &&
            MakePrivateFolder(config.spoolDir, &why) &&
            (!config.network || (config.tlsDirNamed ? FolderIsTrusted(config.tlsDir, &why)
                                                    : MakePrivateFolder(config.tlsDir, &why)));
  if (!ok) *error = std::string(kAppName) + ": " + why;
  return ok;
}

bool AddServerListeners(pappl_system_t* system, const ServerConfig& config) {
  // Every address (*) takes in localhost too; an address of its own does not.
  if (config.listen != "*" && !papplSystemAddListeners(system, "localhost")) return false;
  return !config.network || papplSystemAddListeners(system, config.listen.c_str());
}

void ApplyServerConfig(pappl_system_t* system, const ServerConfig& config) {
  papplSystemSetAdminGroup(system, config.adminGroup.c_str());
  const struct group* admins = getgrnam(config.adminGroup.c_str());
  if (!admins)
    papplLog(system, PAPPL_LOGLEVEL_WARN, "No group \"%s\": only root administers the server.",
             config.adminGroup.c_str());
  // Only root's socket is the one other users' sub-commands look for.
  g_socketGroup = admins && geteuid() == 0 ? admins->gr_gid : gid_t(-1);
  g_privateSocket = true;
  g_config = &config;
  papplSystemSetAuthCallback(system, "Basic", ServerAuthorize, const_cast<ServerConfig*>(&config));
  if (config.network) {
    // The server's own self-signed certificate is made in its own folder on
    // first use; a folder the administrator names holds theirs.
    char host[256] = "";
    papplSystemGetHostName(system, host, sizeof(host));
    cupsSetServerCredentials(config.tlsDir.c_str(), host, config.tlsDirNamed ? 0 : 1);
  }
}

void ServerPrinterCreated(pappl_printer_t* printer, void* data) {
  const auto* config = static_cast<const ServerConfig*>(data);
  if (config && !config->network) papplPrinterSetDNSSDName(printer, nullptr);
}

void ServerStateLoaded(pappl_system_t* system, const ServerConfig& config) {
  if (config.network) return;
  // A state saved by a server that served the network names its services.
  papplSystemSetDNSSDName(system, nullptr);
  papplSystemIteratePrinters(system, ServerPrinterCreated, const_cast<ServerConfig*>(&config));
}

bool DeviceUriPermitted(const ServerConfig& config, const char* device_uri) {
  return device_uri == nullptr || strncasecmp(device_uri, "file:", 5) != 0 || config.allowFileDevices;
}

bool DeviceUriAllowed(pappl_system_t* system, const char* device_uri) {
  if (DeviceUriPermitted(g_config ? *g_config : ServerConfig(), device_uri)) return true;
  papplLog(system, PAPPL_LOGLEVEL_ERROR,
           "Refused the device URI \"%s\": file: devices are off (start the server with "
           "-o allow-file-devices=true to allow them).",
           device_uri);
  return false;
}

// The server's local socket: libcups makes every local socket 0777, and
// PAPPL takes whoever reaches it for an administrator. Once the server is
// configured, its socket is made here instead, for its own user and the
// admin group only (0770), before it listens: no one else ever connects.
// Other listeners, and every socket of a process that is not the server,
// go to libcups.
extern "C" int httpAddrListen(http_addr_t* addr, int port) {
  if (!g_privateSocket || addr == nullptr || addr->addr.sa_family != AF_LOCAL) {
    static const auto real = NextDefinition(httpAddrListen, "httpAddrListen");
    return real ? real(addr, port) : -1;
  }
  const char* path = addr->un.sun_path;
  const int fd = socket(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  unlink(path);
  const mode_t mask = umask(077);
  const socklen_t length = socklen_t(offsetof(struct sockaddr_un, sun_path) + strlen(path) + 1);
  const bool bound = bind(fd, &addr->addr, length) == 0;
  umask(mask);
  // Without an admin group to hand it to, the socket is the server user's alone.
  const bool grouped = bound && g_socketGroup != gid_t(-1) && chown(path, uid_t(-1), g_socketGroup) == 0;
  if (!bound || chmod(path, grouped ? 0770 : 0700) != 0 || listen(fd, 128) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}
