// The ribbon's label on the printer's page: its level as ten blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "app/ribbon_link.h"

namespace {

TEST(RibbonLink, LevelAsTenBlocks) {
  struct { int level; const char* bar; } cases[] = {
      {-1, ""},
      {0, " \u25A1\u25A1\u25A1\u25A1\u25A1\u25A1\u25A1\u25A1\u25A1\u25A1"},
      {1, " \u25A0\u25A1\u25A1\u25A1\u25A1\u25A1\u25A1\u25A1\u25A1\u25A1"},
      {60, " \u25A0\u25A0\u25A0\u25A0\u25A0\u25A0\u25A1\u25A1\u25A1\u25A1"},
      {61, " \u25A0\u25A0\u25A0\u25A0\u25A0\u25A0\u25A0\u25A1\u25A1\u25A1"},
      {100, " \u25A0\u25A0\u25A0\u25A0\u25A0\u25A0\u25A0\u25A0\u25A0\u25A0"},
  };
  for (const auto& c : cases) {
    pappl_supply_t supply{};
    strcpy(supply.description, "Color Ribbon (300 cards left)");
    supply.level = c.level;
    EXPECT_EQ(RibbonLinkLabel(supply), std::string("Color Ribbon (300 cards left)") + c.bar) << c.level;
  }
}

}  // namespace
