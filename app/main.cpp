// vkr-printer-app: an IPP Everywhere Printer Application for the card
// printer, with PAPPL's standard sub-commands (server, add, submit, status,
// printers, jobs, cancel, ...). The server takes these system options:
//
//   vkr-printer-app server -o server-port=8631 -o spool-directory=DIR
//       -o state-file=FILE -o log-file=FILE -o log-level=debug|info|warn|error
//       -o completion-timeout=SECONDS -o document-timeout=SECONDS
//       -o status-interval=SECONDS
//       -o listen-hostname=*|ADDRESS -o tls-directory=DIR -o admin-group=GROUP
//       -o auth-service=PAM-SERVICE -o allow-file-devices=true
//
// It listens on localhost at the given port (and on the local socket the
// other sub-commands use), and beyond it with TLS when told to. The state
// file keeps the printers and their settings; a new file starts with none.
// Where state lives and who administers: server_config.h.
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/app_settings.h"
#include "app/device_id.h"
#include "app/job_history.h"
#include "app/server_config.h"
#include "app/raster_headers.h"
#include "app/server_life.h"
#include "app/pdf_job.h"
#include "app/strings.h"
#include "app/usage.h"
#include "app/vk4400_app.h"
#include "app/worker_starter.h"

namespace {

const char kAppName[] = "vkr-printer-app";

pappl_pr_driver_t g_drivers[] = {
    {VKR_DRIVER_NAME, VKR_DRIVER_DESCRIPTION, VKR_DEVICE_ID, nullptr},
};
const DriverDeviceId kDriverIds[] = {{VKR_DRIVER_NAME, VKR_DEVICE_ID}};

// The driver for a printer PAPPL found (a USB printer added with the driver
// "auto"), from its IEEE 1284 device ID; nullptr when it is not a card printer.
const char* autoAddDriver(const char*, const char*, const char* device_id, void*) {
  return MatchDeviceId(device_id, kDriverIds, sizeof(kDriverIds) / sizeof(kDriverIds[0]));
}

// A printer just added: the server's settings for it and its job history page.
void printerCreated(pappl_printer_t* printer, void* data) {
  ServerPrinterCreated(printer, data);
  AddJobHistoryPage(printer);
}

// Reads the log level's name; unknown names keep the default.
pappl_loglevel_t logLevel(const char* name) {
  if (name == nullptr) return PAPPL_LOGLEVEL_WARN;
  if (!strcmp(name, "debug")) return PAPPL_LOGLEVEL_DEBUG;
  if (!strcmp(name, "info")) return PAPPL_LOGLEVEL_INFO;
  if (!strcmp(name, "warn")) return PAPPL_LOGLEVEL_WARN;
  if (!strcmp(name, "error")) return PAPPL_LOGLEVEL_ERROR;
  if (!strcmp(name, "fatal")) return PAPPL_LOGLEVEL_FATAL;
  return PAPPL_LOGLEVEL_WARN;
}

// Reads a whole number of seconds option; false (and a message) when it is
// not one between 1 and a day.
bool secondsOption(const char* name, int num_options, cups_option_t* options, int* seconds) {
  const char* text = cupsGetOption(name, num_options, options);
  if (text == nullptr) return true;
  char* end = nullptr;
  const long value = strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 86400) {
    fprintf(stderr, "%s: bad %s \"%s\" (seconds, 1 to 86400)\n", kAppName, name, text);
    return false;
  }
  *seconds = int(value);
  return true;
}

// Saves the system state to the state file after every change.
bool saveState(pappl_system_t* system, void* data) {
  return papplSystemSaveState(system, static_cast<const char*>(data));
}

// Creates the system from the server's options: port, spool directory,
// state file, log file and level.
pappl_system_t* createSystem(int num_options, cups_option_t* options, void*) {
  SetServerReadsRaster();
  const char* portText = cupsGetOption("server-port", num_options, options);
  const int port = portText ? atoi(portText) : 8000;
  if (port < 0 || port > 65535) {
    fprintf(stderr, "%s: bad server-port \"%s\"\n", kAppName, portText);
    return nullptr;
  }
  const char* logFile = cupsGetOption("log-file", num_options, options);
  static ServerConfig config;
  std::string error;
  if (!ReadServerConfig(num_options, options, &config, &error) || !PrepareServerFolders(config, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return nullptr;
  }
  const std::string& stateFile = config.stateFile;
  AppSettings& settings = Settings();
  if (!secondsOption("completion-timeout", num_options, options, &settings.completionTimeout) ||
      !secondsOption("document-timeout", num_options, options, &settings.documentTimeout) ||
      !secondsOption("status-interval", num_options, options, &settings.statusInterval))
    return nullptr;

  HoldStopSignals();
  // Card workers start as copies of a loaded one; this thread lives as long
  // as the server, as their parent-death signal needs.
  StartWorkerStarter();
  pappl_system_t* system = papplSystemCreate(
      PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG |
          (config.network ? PAPPL_SOPTIONS_NONE : PAPPL_SOPTIONS_NO_TLS),
      "Card Printer Application", port, "_print,_universal", config.spoolDir.c_str(), logFile ? logFile : "-",
      logLevel(cupsGetOption("log-level", num_options, options)), nullptr, false);
  if (system == nullptr) return nullptr;
  if (!AddServerListeners(system, config)) {
    papplSystemDelete(system);
    return nullptr;
  }
  ApplyServerConfig(system, config);
  papplSystemSetPrinterDrivers(system, int(sizeof(g_drivers) / sizeof(g_drivers[0])), g_drivers,
                               autoAddDriver, printerCreated, CardDriverCallback, &config);
  // PDF is rendered onto the card by the app itself (as PAPPL does JPEG and PNG).
  papplSystemAddMIMEFilter(system, VKR_PDF_FORMAT, "image/pwg-raster", CardPrintPdf, nullptr);
  AddCardStrings(system);
  papplSystemSetFooterHTML(system, "Card Printer Application");
  const std::vector<InterruptedJob> interrupted = MarkInterruptedJobs(stateFile);
  papplSystemLoadState(system, stateFile.c_str());
  ServerStateLoaded(system, config);
  AddJobHistoryPages(system);
  ReportInterruptedJobs(system, interrupted);
  papplSystemSetSaveCallback(system, saveState, const_cast<char*>(stateFile.c_str()));
  StartServerTick(system, stateFile);
  return system;
}

}  // namespace

int main(int argc, char* argv[]) {
  // A printer connection that has gone away fails its write instead.
  signal(SIGPIPE, SIG_IGN);
  // A sub-command that finds no server starts one from argv[0]; run by name
  // from PATH that is no path, so it is this program's own.
  static char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length > 0) {
    self[length] = '\0';
    argv[0] = self;
  }
  const int status =
      papplMainloop(argc, argv, VKR_VERSION, nullptr, int(sizeof(g_drivers) / sizeof(g_drivers[0])),
                    g_drivers, autoAddDriver, CardDriverCallback, nullptr, nullptr, createSystem,
                    PrintCardUsage, nullptr);
  // PAPPL's `options` knows only its own; a card's follow.
  if (status == 0 && argc > 1 && strcmp(argv[1], "options") == 0) {
    puts("Card options:");
    PrintCardJobOptions();
  }
  return status;
}
