// Which driver a printer takes, from its IEEE 1284 device ID: the string a
// USB printer reports ("MFG:...;MDL:...;CMD:...;") and PAPPL passes to the
// auto-add callback when a printer is added with the driver "auto".
#pragma once

#include <cstddef>

// One driver's name and the device ID its printer reports.
struct DriverDeviceId {
  const char* driverName;
  const char* deviceId;
};

// The name of the first driver whose device ID names the same manufacturer
// and model as the printer's, or nullptr when none does (or the printer's ID
// has no manufacturer or model). Keys are matched without regard to case
// (MFG or MANUFACTURER, MDL or MODEL), values without regard to case and to
// spaces around them.
const char* MatchDeviceId(const char* deviceId, const DriverDeviceId* drivers, size_t count);
