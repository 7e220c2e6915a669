// The printer's state, its ribbon as a supply, the identify beep and the
// self-test card. Each printer's status is asked in the background, one
// printer conversation at a time per printer and never during its job, and
// kept in PAPPL's printer state: a client asking for the printer's
// attributes, or a web page, is answered from it at once.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/app_settings.h"
#include "app/card_job.h"
#include "app/conversation.h"
#include "app/printer_claim.h"
#include "app/ribbon_link.h"
#include "app/status_report.h"
#include "app/vk4400_app.h"
#include "app/worker_link.h"

namespace {

using Clock = std::chrono::steady_clock;

// The background queries: when each printer was last asked, and whether a
// query of it is under way (by printer id); the identify and self-test
// conversations under way; and the printers being deleted, which nothing
// starts to talk to.
std::mutex g_lock;
std::condition_variable g_talkEnded;
std::map<int, Clock::time_point> g_lastAsked;
std::map<int, bool> g_asking;
std::map<int, int> g_serving;
std::set<int> g_deleting;
std::atomic<int> g_running{0};
// How long identify and the self-test card wait for a status query to end
// (tenths of a second): three commands of a printer that does not answer.
const int kServiceWaitTries = 200;

// Applies one status report to the printer's reasons and supplies.
void applyReport(pappl_printer_t* printer, const std::string& report) {
  const PrinterStatus status = ParseStatusReport(report);
  papplPrinterSetReasons(printer, status.add, status.remove);
  if (status.haveSupply) papplPrinterSetSupplies(printer, 1, const_cast<pappl_supply_t*>(&status.supply));
  if (status.haveSupply) ShowRibbonOnPrinterPage(printer, status.supply);
}

// Asks one printer for its status, when nothing else talks to it.
void askPrinter(pappl_printer_t* printer) {
  if (PrinterClaimedByJob(printer)) return;
  pappl_device_t* device = papplPrinterOpenDevice(printer);
  if (device == nullptr) {
    // Busy with a job or another conversation, or not to be reached.
    if (papplPrinterGetState(printer) != IPP_PSTATE_PROCESSING)
      papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
    return;
  }
  RunConversation(printer, device, "status",
                  [printer](const std::string& report) { applyReport(printer, report); });
  papplPrinterCloseDevice(printer);
}

// Starts a background query of a printer that is due one.
void pollPrinter(pappl_printer_t* printer, void*) {
  if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING || PrinterClaimedByJob(printer)) return;
  const int id = papplPrinterGetID(printer);
  const Clock::time_point now = Clock::now();
  {
    std::lock_guard<std::mutex> hold(g_lock);
    auto last = g_lastAsked.find(id);
    if (g_asking[id] || g_deleting.count(id) != 0 ||
        (last != g_lastAsked.end() && now - last->second < std::chrono::seconds(Settings().statusInterval)))
      return;
    g_asking[id] = true;
    g_lastAsked[id] = now;
  }
  ++g_running;
  std::thread([printer, id] {
    askPrinter(printer);
    std::lock_guard<std::mutex> hold(g_lock);
    g_asking[id] = false;
    --g_running;
    g_talkEnded.notify_all();
  }).detach();
}

// An identify or self-test conversation, counted while it lasts so that the
// printer is not deleted under it.
class Service {
 public:
  explicit Service(pappl_printer_t* printer) : id_(papplPrinterGetID(printer)) {
    std::lock_guard<std::mutex> hold(g_lock);
    allowed_ = g_deleting.count(id_) == 0;
    if (allowed_) ++g_serving[id_];
  }
  ~Service() {
    if (!allowed_) return;
    std::lock_guard<std::mutex> hold(g_lock);
    --g_serving[id_];
    g_talkEnded.notify_all();
  }
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  bool allowed() const { return allowed_; }

 private:
  int id_;
  bool allowed_ = false;
};

}  // namespace

void PollPrinterStatus(pappl_system_t* system) { papplSystemIteratePrinters(system, pollPrinter, nullptr); }

int StatusQueriesRunning() { return g_running; }

void EndPrinterConversations(pappl_printer_t* printer) {
  const int id = papplPrinterGetID(printer);
  std::unique_lock<std::mutex> hold(g_lock);
  g_deleting.insert(id);
  g_talkEnded.wait(hold, [id] { return !g_asking[id] && g_serving[id] == 0; });
}

// PAPPL asks for the status when a client reads the printer's attributes:
// the answer is what the background queries found, and a printer due a
// query gets one in the background.
bool CardStatus(pappl_printer_t* printer) {
  if (!ServerStopping()) pollPrinter(printer, nullptr);
  return true;
}

// The printer's device for identify or the self-test card: a background
// status query that has it gives it back within its few commands, a job
// does not.
static pappl_device_t* openForService(pappl_printer_t* printer) {
  for (int tries = 0; tries < kServiceWaitTries; ++tries) {
    if (PrinterClaimedByJob(printer)) break;
    if (pappl_device_t* device = papplPrinterOpenDevice(printer)) return device;
    if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return nullptr;
}

void CardIdentify(pappl_printer_t* printer, pappl_identify_actions_t, const char*) {
  Service service(printer);
  pappl_device_t* device = service.allowed() ? openForService(printer) : nullptr;
  if (device == nullptr) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "The printer is busy; it did not sound its buzzer.");
    return;
  }
  if (RunConversation(printer, device, "identify", nullptr) != 0)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "The printer did not sound its buzzer.");
  papplPrinterCloseDevice(printer);
}

const char* CardTestPage(pappl_printer_t* printer, char*, size_t) {
  Service service(printer);
  pappl_device_t* device = service.allowed() ? openForService(printer) : nullptr;
  if (device == nullptr) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "The printer is busy; no self-test card.");
    return nullptr;
  }
  if (RunConversation(printer, device, "selftest", nullptr) != 0)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "The printer did not print its self-test card.");
  papplPrinterCloseDevice(printer);
  return nullptr;
}
