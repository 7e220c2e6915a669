// The printer's state, its ribbon as a supply, the identify beep and the
// self-test card. Each asks the printer over its device, outside any job.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>

#include "app/printer_io.h"
#include "app/vk4400_app.h"
#include "device/VK4400.h"

namespace {

// A black ribbon names itself with '5' in byte 1 of the ribbon sensor's reply.
const unsigned char kBlackRibbon = '5';
// Fewer cards than this left on the ribbon is reported as running low.
const int kRibbonLowCards = 10;
// The printer reports the cards left on its ribbon, not the ribbon's size;
// the level is shown as a share of a fresh ribbon of this many cards.
const int kFreshRibbonCards = 500;

// Each status query costs the printer a second for every command (the
// exchange's pause); a printer is asked at most this often, and clients
// polling its attributes in between see the last answer.
const time_t kStatusInterval = 5;

// Whether the printer may be asked now; notes the time when it may.
bool statusDue(pappl_printer_t* printer) {
  static std::mutex lock;
  static std::map<int, time_t> lastAsked;  // by printer id
  std::lock_guard<std::mutex> hold(lock);
  const time_t now = time(nullptr);
  const int id = papplPrinterGetID(printer);
  auto it = lastAsked.find(id);
  if (it != lastAsked.end() && now - it->second < kStatusInterval && now >= it->second) return false;
  lastAsked[id] = now;
  return true;
}

// The printer's device with the device lock held, for one status query or
// action; empty when a job or another query has it.
struct DeviceTurn {
  pappl_printer_t* printer = nullptr;
  pappl_device_t* device = nullptr;
  std::unique_ptr<PrinterSession> session;
  bool unreachable = false;  // the device could not be opened

  explicit DeviceTurn(pappl_printer_t* p) : printer(p) {
    std::unique_lock<std::mutex> lock = PrinterSession::TryLock();
    if (!lock.owns_lock()) return;
    device = papplPrinterOpenDevice(printer);
    if (device == nullptr) {
      unreachable = true;
      return;
    }
    session.reset(new PrinterSession(device, std::move(lock)));
  }
  ~DeviceTurn() {
    session.reset();
    if (device != nullptr) papplPrinterCloseDevice(printer);
  }
  bool open() const { return session != nullptr; }
};

// The ribbon as the printer's one supply, with the count of cards left where
// the printer reports one (level -1, unknown, where it does not).
pappl_supply_t ribbonSupply(bool black, int cardsLeft) {
  pappl_supply_t supply;
  memset(&supply, 0, sizeof(supply));
  supply.color = black ? PAPPL_SUPPLY_COLOR_BLACK : PAPPL_SUPPLY_COLOR_MULTIPLE;
  supply.type = PAPPL_SUPPLY_TYPE_INK_RIBBON;
  supply.is_consumed = true;
  if (cardsLeft < 0)
    supply.level = -1;
  else if (cardsLeft == 0)
    supply.level = 0;
  else
    supply.level = cardsLeft >= kFreshRibbonCards ? 100 : std::max(1, cardsLeft * 100 / kFreshRibbonCards);
  if (cardsLeft >= 0)
    snprintf(supply.description, sizeof(supply.description), "%s Ribbon (%d cards left)",
             black ? "Black" : "Color", cardsLeft);
  else
    snprintf(supply.description, sizeof(supply.description), "%s Ribbon",
             black ? "Black" : "Color");
  return supply;
}

}  // namespace

bool CardStatus(pappl_printer_t* printer) {
  if (papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING || !statusDue(printer)) return true;
  DeviceTurn turn(printer);
  // A printer that cannot be reached, or does not answer, is offline.
  if (turn.unreachable) papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
  if (!turn.open()) return true;

  unsigned char jobStatus[VK_JOBSTATUS_SIZE] = {0};
  if (PrintJobStatus(jobStatus) != 0) {
    papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
    return true;
  }
  papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);

  unsigned char ribbon[VK_REPLY_SIZE] = {0};
  if (CheckRibbonSensor(ribbon) != 0) return true;
  int cardsLeft = -1;
  CheckRibbonCount(&cardsLeft);
  pappl_supply_t supply = ribbonSupply(ribbon[1] == kBlackRibbon, cardsLeft);
  papplPrinterSetSupplies(printer, 1, &supply);
  pappl_preason_t low = cardsLeft == 0 ? PAPPL_PREASON_MARKER_SUPPLY_EMPTY
                        : cardsLeft > 0 && cardsLeft < kRibbonLowCards ? PAPPL_PREASON_MARKER_SUPPLY_LOW
                                                                         : PAPPL_PREASON_NONE;
  papplPrinterSetReasons(printer, low,
                         (PAPPL_PREASON_MARKER_SUPPLY_EMPTY | PAPPL_PREASON_MARKER_SUPPLY_LOW) & ~low);
  return true;
}

void CardIdentify(pappl_printer_t* printer, pappl_identify_actions_t, const char*) {
  DeviceTurn turn(printer);
  if (!turn.open()) return;
  if (BuzzerControl(1, 1, 1) != 0)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "The printer did not sound its buzzer.");
}

const char* CardTestPage(pappl_printer_t* printer, char*, size_t) {
  DeviceTurn turn(printer);
  if (!turn.open()) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "The printer is busy; no self-test card.");
    return nullptr;
  }
  if (SelfPrinting() != 0)
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "The printer did not print its self-test card.");
  return nullptr;
}
