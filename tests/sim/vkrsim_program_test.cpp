// The vkrsim program as the harness runs it: a script file drives its
// answers, and a bad rule stops it with a reason before any answer.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/run_filter.h"

TEST(VkrsimProgram, ScriptFileSetsTheAnswersPerCall) {
  std::string dir = vkrtest::MakeTempDir();
  {
    std::ofstream script(dir + "/printer.script");
    script << "# a busy printer with a black ribbon\n"
              "$PJS ack 01 07 00 00 00 00 00   # the preflight sees job 7\n"
              "$PJS ack 00 07 00 00 00 00 00\n"
              "!CRS ack 00 35\n";
  }
  vkrtest::FilterSetup setup;
  setup.simScript = dir + "/printer.script";
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  vkrtest::RemoveTree(dir);
  EXPECT_EQ(run.exitStatus, 0) << run.simErrors;
  EXPECT_TRUE(run.LogHas("DEBUG: PJS [nRet=0][1][7][0][0][0][0][0]\r\n"));
  EXPECT_TRUE(run.LogHas("DEBUG: CheckRibbonSensor (0 35)\n"));
  EXPECT_NE(run.simLog.find("#1 $PJS N=0 params: (none)\n   reply (19 bytes): 1b 24 50 4a 53 00 06 00 00 00 07 01 07"),
            std::string::npos)
      << run.simLog;
}

TEST(VkrsimProgram, BadRuleStopsTheSimulatorWithAReason) {
  vkrtest::FilterSetup setup;
  setup.simRules = {"$PJS ack 1234"};
  vkrtest::FilterRun run = vkrtest::RunFilter(setup);
  EXPECT_NE(run.simErrors.find("vkrsim: bad rule \"$PJS ack 1234\": cannot read 1234"), std::string::npos)
      << run.simErrors;
  EXPECT_NE(run.simErrors.find("[vkrsim exit status 2]"), std::string::npos);
  // With no printer on the line the filter cannot go on.
  EXPECT_NE(run.exitStatus, 0);
}
