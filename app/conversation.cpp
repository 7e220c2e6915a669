// A printer conversation: the worker and the relay that serves it.
#include "app/conversation.h"

#include <csignal>

bool Conversation::Start(const std::vector<std::string>& args, bool withPages,
                         const RelayHandlers& handlers, std::string* why) {
  if (!worker_.Start(args, withPages, why)) return false;
  const int link = worker_.link(), log = worker_.log();
  relay_ = std::thread([this, link, log, handlers] { ServeWorker(link, log, io_, handlers); });
  return true;
}

void Conversation::JoinRelay() {
  if (relay_.joinable()) relay_.join();
}

int Conversation::Finish() {
  JoinRelay();
  return worker_.Wait();
}

Conversation::~Conversation() {
  worker_.Signal(SIGKILL);
  Finish();
}

int RunConversation(pappl_printer_t* printer, pappl_device_t* device, const char* mode,
                    const std::function<void(const std::string&)>& onReport) {
  Conversation talk(device);
  RelayHandlers handlers;
  handlers.report = onReport;
  handlers.line = [printer](const std::string& line) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "%s", line.c_str());
  };
  std::string why;
  if (!talk.Start({mode}, false, handlers, &why)) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Unable to start the card worker: %s", why.c_str());
    return -1;
  }
  return talk.Finish();
}
