// The printer exchange over a PAPPL device.
#include "app/printer_io.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unistd.h>

namespace {

// How long a drain gives bytes that already wait to come in (a read finds
// them at once; PAPPL has no way to ask without reading).
const auto kDrainWait = std::chrono::milliseconds(20);

}  // namespace

PapplPrinterIO::PapplPrinterIO(pappl_device_t* device) : device_(device) {}

PapplPrinterIO::~PapplPrinterIO() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  requested_.notify_all();
  // PAPPL's own read gives up after its time-out; the device stays open
  // until then.
  if (reader_.joinable()) reader_.join();
}

size_t PapplPrinterIO::Write(const void* bytes, size_t count) {
  if (lost_ || device_ == nullptr) return 0;
  if (papplDeviceWrite(device_, bytes, count) < 0) {
    lost_ = true;
    return 0;
  }
  return count;
}

void PapplPrinterIO::Flush() {
  if (!lost_ && device_ != nullptr) papplDeviceFlush(device_);
}

void PapplPrinterIO::Pause(unsigned int usec) { usleep(usec); }

void PapplPrinterIO::startRead(size_t count) {
  reading_ = true;
  readFailed_ = false;
  wanted_ = count;
  if (reader_.joinable())
    requested_.notify_one();
  else
    reader_ = std::thread([this] { readLoop(); });
}

void PapplPrinterIO::readLoop() {
  std::unique_lock<std::mutex> hold(mutex_);
  std::vector<uint8_t> bytes;
  for (;;) {
    requested_.wait(hold, [this] { return wanted_ > 0 || stopping_; });
    if (stopping_) return;
    bytes.resize(wanted_);
    wanted_ = 0;
    hold.unlock();
    const ssize_t got = papplDeviceRead(device_, bytes.data(), bytes.size());
    hold.lock();
    if (got > 0)
      stash_.insert(stash_.end(), bytes.begin(), bytes.begin() + got);
    else
      readFailed_ = true;
    reading_ = false;
    arrived_.notify_all();
  }
}

// PAPPL's device read may wait far longer than the printer is given to
// answer (ten seconds on a socket), so the read runs on a thread of its own
// and this call waits only for the filter's time-out. A read that gives up
// late leaves its bytes for the next call.
ssize_t PapplPrinterIO::ReadBack(void* buffer, size_t count, double timeout) {
  if (lost_ || device_ == nullptr) return -1;
  std::unique_lock<std::mutex> hold(mutex_);
  if (stash_.empty() && !reading_) startRead(count);
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(timeout));
  arrived_.wait_until(hold, deadline, [this] { return !stash_.empty() || !reading_; });
  if (!stash_.empty()) return ssize_t(takeStash(buffer, count));
  // A read that ended without bytes before the time-out: the connection
  // failed or was closed.
  if (!reading_ && readFailed_) return -1;
  return 0;
}

size_t PapplPrinterIO::Drain(void* buffer, size_t count) {
  if (lost_ || device_ == nullptr || count == 0) return 0;
  std::unique_lock<std::mutex> hold(mutex_);
  if (stash_.empty() && !reading_) startRead(count);
  arrived_.wait_for(hold, kDrainWait, [this] { return !stash_.empty() || !reading_; });
  return takeStash(buffer, count);
}

size_t PapplPrinterIO::takeStash(void* buffer, size_t count) {
  const size_t taken = std::min(count, stash_.size());
  if (taken > 0) {
    memcpy(buffer, stash_.data(), taken);
    stash_.erase(stash_.begin(), stash_.begin() + long(taken));
  }
  return taken;
}
