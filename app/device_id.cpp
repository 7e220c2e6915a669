// Matches a printer's IEEE 1284 device ID against the drivers' own IDs.
#include "app/device_id.h"

#include <strings.h>

#include <cctype>

#include <string>

namespace {

// The manufacturer and model a device ID names (empty when it names none).
struct MakeAndModel {
  std::string make, model;
};

// The text between two positions without the spaces around it.
std::string trimmed(const std::string& text, size_t begin, size_t end) {
  while (begin < end && isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// Reads "KEY:value;" pairs; a pair without a colon is skipped, and the first
// value of a key counts.
MakeAndModel readMakeAndModel(const char* deviceId) {
  MakeAndModel found;
  const std::string text(deviceId);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const size_t colon = text.find(':', start);
    if (colon < end) {
      const std::string key = trimmed(text, start, colon);
      const std::string value = trimmed(text, colon + 1, end);
      const char* k = key.c_str();
      if ((!strcasecmp(k, "MFG") || !strcasecmp(k, "MANUFACTURER")) && found.make.empty())
        found.make = value;
      else if ((!strcasecmp(k, "MDL") || !strcasecmp(k, "MODEL")) && found.model.empty())
        found.model = value;
    }
    start = end + 1;
  }
  return found;
}

}  // namespace

const char* MatchDeviceId(const char* deviceId, const DriverDeviceId* drivers, size_t count) {
  if (deviceId == nullptr) return nullptr;
  const MakeAndModel printer = readMakeAndModel(deviceId);
  if (printer.make.empty() || printer.model.empty()) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (drivers[i].deviceId == nullptr) continue;
    const MakeAndModel driver = readMakeAndModel(drivers[i].deviceId);
    if (!strcasecmp(printer.make.c_str(), driver.make.c_str()) &&
        !strcasecmp(printer.model.c_str(), driver.model.c_str()))
      return drivers[i].driverName;
  }
  return nullptr;
}
