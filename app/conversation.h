// One conversation with a printer: a card worker process, and a relay thread
// that carries out its printer requests on the printer's PAPPL device. Jobs,
// status queries, identify and the self-test card each hold one for as long
// as they talk to the printer, and nothing else: no lock is shared between
// printers, and nothing of a conversation outlives it.
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <thread>
#include <vector>

#include "app/printer_io.h"
#include "app/worker_process.h"
#include "app/worker_relay.h"

class Conversation {
 public:
  explicit Conversation(pappl_device_t* device) : io_(device) {}
  // Ends a worker still running and waits for the relay.
  ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  // Starts the worker (see WorkerProcess::Start) and the relay that serves
  // it with these handlers.
  bool Start(const std::vector<std::string>& args, bool withPages, const RelayHandlers& handlers,
             std::string* why);
  WorkerProcess& worker() { return worker_; }
  // Waits until the worker has closed its link and log (it has ended).
  void JoinRelay();
  // JoinRelay, then reaps the worker; returns its wait status.
  int Finish();
  // Whether the printer's connection failed during the conversation.
  bool DeviceLost() const { return io_.Lost(); }

 private:
  PapplPrinterIO io_;
  WorkerProcess worker_;
  std::thread relay_;
};

// Runs one short conversation to its end (a status query, identify, the
// self-test card): the worker in this mode, its reports to onReport, its log
// to the printer's log at debug level. Returns the worker's wait status, or
// -1 when it could not start.
int RunConversation(pappl_printer_t* printer, pappl_device_t* device, const char* mode,
                    const std::function<void(const std::string&)>& onReport);
