// Submission order and a printer's claim, against a PAPPL printer in this
// process: paused, so that its jobs wait as the test arranges them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
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

TEST_F(PausedPrinter, OnlyTheOldestWaitingJobMayStartNextAndTheRestComeBack) {
  std::vector<pappl_job_t*> jobs;
  for (int n = 0; n < 4; ++n) jobs.push_back(submit(n));
  for (pappl_job_t* job : jobs) ASSERT_EQ(papplJobGetState(job), IPP_JSTATE_PENDING);
  // A job ends: PAPPL would take the newest waiting job, so all but the
  // oldest are held for the moment.
  KeepSubmissionOrder(printer_, nullptr);
  EXPECT_EQ(papplJobGetState(jobs[0]), IPP_JSTATE_PENDING);
  for (int n = 1; n < 4; ++n) EXPECT_EQ(papplJobGetState(jobs[n]), IPP_JSTATE_HELD) << "job " << n;
  // The oldest starts: the others wait again, in order.
  ReleaseHeldJobs(printer_);
  for (int n = 0; n < 4; ++n) EXPECT_EQ(papplJobGetState(jobs[n]), IPP_JSTATE_PENDING) << "job " << n;
  // The job that is ending is no candidate; a job held by its user stays held.
  ASSERT_TRUE(papplJobHold(jobs[1], "user", "indefinite", 0));
  KeepSubmissionOrder(printer_, jobs[0]);
  ReleaseHeldJobs(printer_);
  EXPECT_EQ(papplJobGetState(jobs[1]), IPP_JSTATE_HELD) << "a user's hold is not ours to release";
}

TEST_F(PausedPrinter, AJobHoldsItsPrinterUntilItGivesItBack) {
  EXPECT_FALSE(PrinterClaimedByJob(printer_));
  ClaimPrinterForJob(printer_);
  EXPECT_TRUE(PrinterClaimedByJob(printer_));
  ReleasePrinterFromJob(printer_);
  EXPECT_FALSE(PrinterClaimedByJob(printer_)) << "the next job would wait for ever";
}

}  // namespace
