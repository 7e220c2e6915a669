// The auto-add match: which driver a printer's IEEE 1284 device ID gets.
#include <gtest/gtest.h>

#include <string>

#include "app/device_id.h"
#include "app/vk4400_app.h"

namespace {

const DriverDeviceId kDrivers[] = {
    {"other", "MFG:Generic;MDL:VK2200;"},
    {VKR_DRIVER_NAME, VKR_DEVICE_ID},
};

const char* match(const char* deviceId) { return MatchDeviceId(deviceId, kDrivers, 2); }

// The card printer's own ID, spelled the ways printers spell it, gets the
// card driver; a near miss, another printer or a malformed ID gets none.
TEST(DeviceIdMatch, TheCardPrinterGetsItsDriverAndNoOtherPrinterDoes) {
  const struct {
    const char* deviceId;
    const char* driver;  // nullptr: no driver
  } kCases[] = {
      {VKR_DEVICE_ID, VKR_DRIVER_NAME},
      {"MFG:Generic;CMD:VKR;MDL:VK4400;CLS:PRINTER;DES:Card printer;", VKR_DRIVER_NAME},
      {"MANUFACTURER:Generic;MODEL:VK4400;", VKR_DRIVER_NAME},
      {"mfg:generic;mdl:vk4400;", VKR_DRIVER_NAME},
      {" MFG : Generic ; MDL : VK4400 ", VKR_DRIVER_NAME},
      {"MFG:Generic;MDL:VK4400", VKR_DRIVER_NAME},
      {"MFG:Generic;MDL:VK2200;", "other"},
      // Another model, a longer or shorter name, another maker.
      {"MFG:Generic;MDL:VK44000;", nullptr},
      {"MFG:Generic;MDL:VK440;", nullptr},
      {"MFG:Generic;MDL:XVK4400;", nullptr},
      {"MFG:Other;MDL:VK4400;", nullptr},
      // A key given twice counts the first time, as IEEE 1284 readers take it.
      {"MFG:Generic;MFG:Other;MDL:VK4400;", VKR_DRIVER_NAME},
      {"MFG:Other;MANUFACTURER:Generic;MDL:VK4400;", nullptr},
      {"MFG:HP;MDL:LaserJet 4000;CMD:PCL;", nullptr},
      // The model only in the description or the command set.
      {"MFG:Generic;DES:VK4400;CMD:VK4400;", nullptr},
      // Malformed: no maker or model, empty values, no colons, nothing.
      {"MDL:VK4400;", nullptr},
      {"MFG:Generic;", nullptr},
      {"MFG:;MDL:VK4400;", nullptr},
      {"MFG:Generic;MDL:;", nullptr},
      {"MFGGeneric;MDLVK4400;", nullptr},
      {"Generic VK4400", nullptr},
      {";;;:;", nullptr},
      {"", nullptr},
      {nullptr, nullptr},
      // The first value of a key counts.
      {"MFG:Generic;MDL:VK2200;MDL:VK4400;", "other"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.deviceId ? c.deviceId : "(null)");
    const char* got = match(c.deviceId);
    EXPECT_EQ(std::string(got ? got : "(none)"), std::string(c.driver ? c.driver : "(none)"));
  }
}

// A driver without a device ID is never matched, and a driver table without
// the card driver matches nothing.
TEST(DeviceIdMatch, DriversWithoutAnIdOrWithoutTheCardDriverMatchNothing) {
  const DriverDeviceId noId[] = {{"blank", nullptr}, {"empty", ""}};
  EXPECT_EQ(MatchDeviceId(VKR_DEVICE_ID, noId, 2), nullptr);
  EXPECT_EQ(MatchDeviceId(VKR_DEVICE_ID, kDrivers, 1), nullptr);
}

}  // namespace
