// A printer's turn, submission order and a printer's claim, against a PAPPL printer in this
// process: paused, so that its jobs wait as the test arranges them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <pappl/pappl.h>

#include "app/job_order.h"
#include "app/printer_claim.h"
#include "app/vk4400_app.h"

namespace {

class PausedPrinter : public testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/vkr-order.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    dir_ = folder;
    system_ = papplSystemCreate(PAPPL_SOPTIONS_MULTI_QUEUE, "order test", 0, nullptr, dir_.c_str(),
                                "/dev/null", PAPPL_LOGLEVEL_ERROR, nullptr, false);
    ASSERT_NE(system_, nullptr);
    static pappl_pr_driver_t drivers[] = {{VKR_DRIVER_NAME, VKR_DRIVER_DESCRIPTION, nullptr, nullptr}};
    papplSystemSetPrinterDrivers(system_, 1, drivers, nullptr, nullptr, CardDriverCallback, nullptr);
    printer_ = papplPrinterCreate(system_, 0, "card", VKR_DRIVER_NAME, "MFG:Generic;MDL:VK4400;",
                                  "socket://127.0.0.1:9");
    ASSERT_NE(printer_, nullptr);
    papplPrinterPause(printer_);
  }
  void TearDown() override {
    if (system_ != nullptr) papplSystemDelete(system_);
    std::string command = "rm -rf " + dir_;
    EXPECT_EQ(::system(command.c_str()), 0);
  }
  // A spooled job waiting for the printer.
  pappl_job_t* submit(int n) {
    const std::string file = dir_ + "/doc" + std::to_string(n) + ".png";
    std::ofstream(file) << "\x89PNG";
    return papplJobCreateWithFile(printer_, "user", "image/png", "card", 0, nullptr, file.c_str());
  }
  std::string dir_;
  pappl_system_t* system_ = nullptr;
  pappl_printer_t* printer_ = nullptr;
};

// What the turn's steps saw: the jobs printed, and the looks for a next job.
struct Seen {
  std::mutex lock;
  std::vector<int> printed;
  int checks = 0;
  std::function<void(pappl_job_t*)> whilePrinting;
};
Seen* g_seen = nullptr;

void fakeProcess(pappl_job_t* job) {
  {
    std::lock_guard<std::mutex> hold(g_seen->lock);
    g_seen->printed.push_back(papplJobGetID(job));
  }
  if (auto during = std::exchange(g_seen->whilePrinting, nullptr)) during(job);
}
void fakeStreamed(pappl_job_t* job, pappl_client_t*) { fakeProcess(job); }
void fakeCheck(pappl_printer_t* printer) {
  BeforeJobCheck(printer);
  std::lock_guard<std::mutex> hold(g_seen->lock);
  ++g_seen->checks;
}
const JobSteps kFakeSteps{fakeProcess, fakeStreamed, fakeCheck};

TEST_F(PausedPrinter, TheOldestSpooledWaitingJobIsNext) {
  std::vector<pappl_job_t*> jobs;
  for (int n = 0; n < 4; ++n) jobs.push_back(submit(n));
  for (pappl_job_t* job : jobs) ASSERT_EQ(papplJobGetState(job), IPP_JSTATE_PENDING);
  EXPECT_EQ(OldestWaitingJob(printer_), jobs[0]) << "PAPPL's own choice is the newest";
  ASSERT_TRUE(papplJobHold(jobs[0], "user", "indefinite", 0));
  EXPECT_EQ(OldestWaitingJob(printer_), jobs[1]) << "a job its user holds waits";
  papplJobCancel(jobs[1]);
  EXPECT_EQ(OldestWaitingJob(printer_), jobs[2]) << "a cancelled job is not printed";
}

TEST_F(PausedPrinter, AJobThreadPrintsTheOldestJobAndASecondOneLeavesItsJobWaiting) {
  Seen seen;
  g_seen = &seen;
  std::vector<pappl_job_t*> jobs;
  for (int n = 0; n < 3; ++n) jobs.push_back(submit(n));
  // PAPPL starts a thread for the newest job; while the first job prints, a
  // second look starts another thread, which must not print beside it.
  seen.whilePrinting = [&](pappl_job_t*) {
    std::thread second([&] { RunOldestJob(jobs[1], kFakeSteps); });
    second.join();
  };
  RunOldestJob(jobs[2], kFakeSteps);
  EXPECT_EQ(seen.printed, std::vector<int>{papplJobGetID(jobs[0])});
  EXPECT_EQ(seen.checks, 1) << "the job left waiting is looked for again as the first ends";
  // Nothing was left waiting this time: no second look.
  papplJobCancel(jobs[0]);
  RunOldestJob(jobs[2], kFakeSteps);
  EXPECT_EQ(seen.printed.back(), papplJobGetID(jobs[1]));
  EXPECT_EQ(seen.checks, 1);
  g_seen = nullptr;
}

TEST_F(PausedPrinter, OnlyAnEndedJobGivesItsTurnBack) {
  Seen seen;
  g_seen = &seen;
  std::vector<pappl_job_t*> jobs;
  for (int n = 0; n < 2; ++n) jobs.push_back(submit(n));
  auto secondThread = [&] {
    std::thread second([&] { RunOldestJob(jobs[1], kFakeSteps); });
    second.join();
  };
  seen.whilePrinting = [&](pappl_job_t* job) {
    fakeCheck(printer_);  // a job still printing looks for a next job
    secondThread();
    EXPECT_EQ(seen.printed.size(), 1u) << "two jobs print at once";
    papplJobCancel(job);
    fakeCheck(printer_);  // as PAPPL does once the job has ended
    secondThread();
  };
  RunOldestJob(jobs[0], kFakeSteps);
  ASSERT_EQ(seen.printed.size(), 2u) << "the turn was not given back as the job ended";
  EXPECT_EQ(seen.printed[1], papplJobGetID(jobs[1]));
  g_seen = nullptr;
}

TEST_F(PausedPrinter, AStreamedJobWaitsForTheTurn) {
  Seen seen;
  g_seen = &seen;
  pappl_job_t* spooled = submit(0);
  pappl_job_t* streamed = submit(1);
  std::atomic<bool> streamedDone{false};
  std::thread client;
  seen.whilePrinting = [&](pappl_job_t*) {
    client = std::thread([&] {
      RunStreamedJob(streamed, nullptr, kFakeSteps);
      streamedDone = true;
    });
    usleep(50000);
    EXPECT_FALSE(streamedDone) << "a streamed job printed beside a spooled one";
  };
  RunOldestJob(spooled, kFakeSteps);
  client.join();
  EXPECT_EQ(seen.printed, (std::vector<int>{papplJobGetID(spooled), papplJobGetID(streamed)}));
  g_seen = nullptr;
}

TEST_F(PausedPrinter, AJobHoldsItsPrinterUntilItGivesItBack) {
  EXPECT_FALSE(PrinterClaimedByJob(printer_));
  ClaimPrinterForJob(printer_);
  EXPECT_TRUE(PrinterClaimedByJob(printer_));
  ReleasePrinterFromJob(printer_);
  EXPECT_FALSE(PrinterClaimedByJob(printer_)) << "the next job would wait for ever";
}

}  // namespace
