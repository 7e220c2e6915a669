// Who may do what over TCP: anyone who reaches the server prints, reads job
// status and acts on their own jobs; administration (printers, settings,
// defaults, other users' jobs) needs the Basic credentials of root or of a
// member of the admin group, checked through PAM. PAPPL lets every client
// of the local socket through before asking; that socket is for root and
// the admin group only (server_config.cpp).
#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/server_config.h"

namespace {

// The operations on one job its owner may ask for.
bool isOwnerOperation(ipp_op_t op) {
  switch (op) {
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB:
    case IPP_OP_SEND_DOCUMENT:
      return true;
    default:
      return false;
  }
}

// True when the request asks for a job's status, which anyone may read, or
// acts on a job whose owner it names (as CUPS takes requesting-user-name
// from a client that has not authenticated).
bool asksForOpenJobOperation(pappl_client_t* client) {
  pappl_job_t* job = papplClientGetJob(client);
  ipp_t* request = papplClientGetRequest(client);
  const ipp_op_t op = papplClientGetOperation(client);
  if (job == nullptr || request == nullptr) return false;
  if (op == IPP_OP_GET_JOB_ATTRIBUTES) return true;
  if (!isOwnerOperation(op)) return false;
  ipp_attribute_t* attr = ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME);
  const char* requester = attr ? ippGetString(attr, 0, nullptr) : nullptr;
  const char* owner = papplJobGetUsername(job);
  return requester && owner && *requester && !strcmp(requester, owner);
}

struct Credentials {
  const char* user;
  const char* password;
};

// Answers PAM's questions: the user name, then the password.
int answerPam(int count, const struct pam_message** messages, struct pam_response** replies, void* data) {
  const auto* credentials = static_cast<const Credentials*>(data);
  auto* answers = static_cast<pam_response*>(calloc(size_t(count), sizeof(pam_response)));
  if (answers == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_ON:
        answers[i].resp = strdup(credentials->user);
        break;
      case PAM_PROMPT_ECHO_OFF:
        answers[i].resp = strdup(credentials->password);
        break;
      case PAM_TEXT_INFO:
      case PAM_ERROR_MSG:
        break;
      default:
        for (int j = 0; j < i; ++j) free(answers[j].resp);
        free(answers);
        return PAM_CONV_ERR;
    }
  }
  *replies = answers;
  return PAM_SUCCESS;
}

// Checks a password with the PAM service; the account must be usable too.
bool checkWithPam(const std::string& service, const std::string& user, const std::string& password) {
  Credentials credentials{user.c_str(), password.c_str()};
  const pam_conv conversation{answerPam, &credentials};
  pam_handle_t* pam = nullptr;
  int status = pam_start(service.c_str(), user.c_str(), &conversation, &pam);
  if (status != PAM_SUCCESS) return false;
  status = pam_authenticate(pam, PAM_SILENT);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(pam, PAM_SILENT);
  pam_end(pam, status);
  return status == PAM_SUCCESS;
}

// True for root and for members of the admin group (gid -1: none).
bool isAdministrator(const std::string& user, gid_t adminGid) {
  struct passwd entry, *found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return false;
  if (found->pw_uid == 0) return true;
  if (adminGid == gid_t(-1)) return false;
  if (found->pw_gid == adminGid) return true;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  if (getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(size_t(count));
    if (getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0) return false;
  }
  for (int i = 0; i < count; ++i)
    if (groups[size_t(i)] == adminGid) return true;
  return false;
}

}  // namespace

http_status_t DecideAccess(const AccessRequest& request, bool network, const PasswordCheck& checkPassword,
                           const AdminCheck& isAdmin, std::string* user) {
  if (!request.administration || request.openJobOperation) return HTTP_STATUS_CONTINUE;
  // A password crosses the network only inside TLS.
  if (network && !request.encrypted) return HTTP_STATUS_UPGRADE_REQUIRED;
  const char* header = request.authorization;
  if (header == nullptr || strncmp(header, "Basic ", 6) != 0) return HTTP_STATUS_UNAUTHORIZED;
  header += 6;
  while (*header == ' ') ++header;
  char decoded[512];
  int length = int(sizeof(decoded));
  httpDecode64_2(decoded, &length, header);
  const std::string pair(decoded, size_t(length > 0 ? length : 0));
  const size_t colon = pair.find(':');
  if (colon == std::string::npos || colon == 0) return HTTP_STATUS_BAD_REQUEST;
  const std::string name = pair.substr(0, colon);
  if (!checkPassword(name, pair.substr(colon + 1))) return HTTP_STATUS_UNAUTHORIZED;
  if (!isAdmin(name)) return HTTP_STATUS_FORBIDDEN;
  *user = name;
  return HTTP_STATUS_CONTINUE;
}

http_status_t ServerAuthorize(pappl_client_t* client, const char* group, gid_t groupid, void* data) {
  const auto* config = static_cast<const ServerConfig*>(data);
  AccessRequest request;
  request.administration = group != nullptr;
  request.encrypted = papplClientIsEncrypted(client);
  request.openJobOperation = request.administration && asksForOpenJobOperation(client);
  request.authorization = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
  std::string user;
  const http_status_t status = DecideAccess(
      request, config->network,
      [config](const std::string& name, const std::string& password) {
        return checkWithPam(config->authService, name, password);
      },
      [groupid](const std::string& name) { return isAdministrator(name, groupid); }, &user);
  if (!user.empty()) {
    papplClientSetUsername(client, user.c_str());
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Administrator \"%s\" authenticated.", user.c_str());
  } else if (status != HTTP_STATUS_CONTINUE) {
    papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Administration refused: %s.", httpStatus(status));
  }
  return status;
}
