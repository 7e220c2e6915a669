// The printer exchange over a PAPPL device (USB or AppSocket): the same
// write, pause and bounded read as the filter's, with the device that PAPPL
// opened for a job or a status query in place of standard output and the
// CUPS back channel. A conversation's relay carries out its worker's
// requests with it (conversation.h).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <pappl/pappl.h>

#include "device/PrinterIO.h"

class PapplPrinterIO : public PrinterIO {
 public:
  explicit PapplPrinterIO(pappl_device_t* device);
  // Waits for a read still in progress on the device before it is closed.
  ~PapplPrinterIO() override;
  PapplPrinterIO(const PapplPrinterIO&) = delete;
  PapplPrinterIO& operator=(const PapplPrinterIO&) = delete;

  // Writes the bytes to the device's buffer; a failed write marks the
  // printer lost and reports nothing written.
  size_t Write(const void* bytes, size_t count) override;
  // Pushes the device's buffer out to the printer.
  void Flush() override;
  // Sleeps for the given number of microseconds.
  void Pause(unsigned int usec) override;
  // One read of the printer's answer within timeout seconds: the bytes, 0
  // when nothing came in time, -1 when the connection failed or was lost.
  ssize_t ReadBack(void* buffer, size_t count, double timeout) override;
  // Takes what the printer sent and nobody read; waits only a moment, as
  // PAPPL cannot be asked whether anything is there.
  size_t Drain(void* buffer, size_t count) override;

  // Whether a write to the printer failed (the connection is gone).
  bool Lost() const { return lost_; }

 private:
  // Starts one device read on the reader thread (the lock is held).
  void startRead(size_t count);
  // The reader thread: one device read for each request, until stopped.
  void readLoop();
  // Moves up to count stashed bytes to buffer (the lock is held).
  size_t takeStash(void* buffer, size_t count);

  pappl_device_t* device_;
  std::atomic<bool> lost_{false};
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable requested_;
  std::thread reader_;
  size_t wanted_ = 0;
  bool stopping_ = false;
  bool reading_ = false;
  bool readFailed_ = false;
  // Bytes that came in after their read had given up; the next read takes
  // them first, as a late answer stays in the back channel for the filter.
  std::vector<uint8_t> stash_;
};
