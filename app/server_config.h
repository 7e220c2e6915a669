// The server's configuration: where it keeps its state and spool (folders
// only its own user can write), whom it listens to (loopback unless told
// otherwise, with TLS beyond it), who administers it (root and the admin
// group on the local socket, PAM-authenticated members of that group over
// TCP) and which device URIs a printer may have.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include <pappl/pappl.h>

// What `vkr-printer-app server -o NAME=VALUE` sets, checked once.
struct ServerConfig {
  std::string stateFile;     // the printers and their settings
  std::string spoolDir;      // documents of the jobs not yet done
  std::string listen = "localhost";  // -o listen-hostname: localhost, * or an address
  bool network = false;      // listens beyond localhost: TLS on, DNS-SD on
  std::string tlsDir;        // the server's certificate and key (HOST.crt, HOST.key)
  bool tlsDirNamed = false;  // -o tls-directory: the administrator's, not made here
  std::string adminGroup = "lpadmin";
  std::string authService;   // the PAM service that checks passwords
  bool allowFileDevices = false;  // -o allow-file-devices=true: file: URIs (tests only)
};

// Where the server's state lives when no option names it: as root
// /var/lib/vkr-printer-app and /var/spool/vkr-printer-app, under $SNAP_COMMON
// in a snap, otherwise $XDG_STATE_HOME/vkr-printer-app or
// ~/.local/state/vkr-printer-app. Empty folders and a message when the user
// has no usable home. getEnv reads the environment (a stand-in in tests).
struct StatePlaces {
  std::string stateFolder, spoolFolder, error;
};
StatePlaces DefaultStatePlaces(uid_t uid, const std::function<const char*(const char*)>& getEnv);

// Reads the server's options into config, the defaults from the
// environment; false with a message on a bad option or no usable home.
bool ReadServerConfig(int num_options, cups_option_t* options, ServerConfig* config, std::string* error);

// Makes FOLDER (and missing parents) 0700 when missing; true when it is a
// real folder this process's user owns that no one else can write, under
// folders only root or this user can change. Otherwise false with the reason.
bool MakePrivateFolder(const std::string& folder, std::string* error);

// True when a folder the administrator names (TLS credentials) may be
// used: owned by root or this user, writable by no one else.
bool FolderIsTrusted(const std::string& folder, std::string* error);

// True when the state file may be read: missing, or a plain file (not a
// link) this process's user owns and no one else can write.
bool StateFileIsPrivate(const std::string& file, std::string* error);

// Checks and makes the state and spool folders and the TLS folder of a
// network server; false with the reason when one is someone else's.
bool PrepareServerFolders(const ServerConfig& config, std::string* error);

// Listens where the configuration says: localhost, and with -o
// listen-hostname also that address (or every address for *).
bool AddServerListeners(pappl_system_t* system, const ServerConfig& config);

// Hands the configuration to the system before its state is loaded: the
// admin group, the authorization callback, the local socket's owner and
// mode, the TLS credentials and the device URI policy.
void ApplyServerConfig(pappl_system_t* system, const ServerConfig& config);

// A new printer's DNS-SD name is cleared on a server that serves only
// loopback: there is no one on the network to tell (data: the ServerConfig).
void ServerPrinterCreated(pappl_printer_t* printer, void* data);
// The same for the system and every printer once the state is loaded.
void ServerStateLoaded(pappl_system_t* system, const ServerConfig& config);

// True when a printer may have this device URI: file: only with
// -o allow-file-devices=true.
bool DeviceUriPermitted(const ServerConfig& config, const char* device_uri);
// The same for the running server (or the defaults in any other process);
// a refused URI is logged with the reason.
bool DeviceUriAllowed(pappl_system_t* system, const char* device_uri);

// An HTTP client's request as the authorization check sees it.
struct AccessRequest {
  bool administration = false;  // asks for the admin group, not to print
  bool encrypted = false;
  bool openJobOperation = false;  // a job's status, or one's own job (cancel, hold...)
  const char* authorization = nullptr;  // the Authorization: header
};

// Checks a user name and password (PAM in the server).
using PasswordCheck = std::function<bool(const std::string& user, const std::string& password)>;
// True when the user administers: root, or a member of the admin group.
using AdminCheck = std::function<bool(const std::string& user)>;

// PAPPL's authorization callback (TCP clients only: PAPPL lets every client
// of the local socket through); data is the ServerConfig.
http_status_t ServerAuthorize(pappl_client_t* client, const char* group, gid_t groupid, void* data);

// Decides a TCP client's request: printing and one's own jobs are open;
// administration needs Basic credentials of an administrator, and TLS on a
// server that serves the network. HTTP_STATUS_CONTINUE when allowed.
http_status_t DecideAccess(const AccessRequest& request, bool network, const PasswordCheck& checkPassword,
                           const AdminCheck& isAdmin, std::string* user);
