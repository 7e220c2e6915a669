// The magnetic-stripe encoder's commands: coercivity, track buffer, and
// writing, reading and erasing a track.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/VKDevice.h"

namespace {

// Reply areas: a track read back may fill 256 bytes, the other answers 32.
constexpr int kStripeReplyArea = 32;
constexpr int kTrackReplyArea = 256;

// Runs a one-track command and hands its payload to the caller's buffer,
// bounded by the reply area and the buffer. Returns the result; *copied is
// the number of bytes now in out, or -1 when out was left untouched.
int trackQuery(CVKDevice& dev, const char* code, uint8_t track, uint8_t* out, int outCapacity,
               int areaSize, int* copied) {
  uint8_t area[kTrackReplyArea] = {0};
  int length = 0;
  *copied = -1;
  int result = dev.QueryCommand(code, &track, 1, area, &length, areaSize);
  if (result != 0 || length < 1) return result;
  int count = 0;
  if (out != nullptr && outCapacity > 0) count = std::min(length, outCapacity);
  if (count > 0) memcpy(out, area, size_t(count));
  *copied = count;
  return result;
}

}  // namespace

// Sets the encoder's coercivity.
int CVKDevice::VKCL_MS_SetEncoderCoercivity(uint8_t coercivity) {
  return QueryCommand("&MEC", &coercivity, 1, nullptr, nullptr, 0);
}

// Loads a track's data into the printer's track buffer. Data that would not
// fit the printer's 256-byte command area is refused before anything is sent.
int CVKDevice::VKCL_MS_SetTrackBuffer(uint8_t track, const uint8_t* data, int count) {
  if (count > VK_TRACK_DATA_MAX) {
    fprintf(stderr,
            "DEBUG: VKCL_MS_SetTrackBuffer: %d bytes of track data exceed the %d that fit, "
            "nothing sent\n",
            count, VK_TRACK_DATA_MAX);
    return VK_ERR_REFUSED;
  }
  if (count > 0 && data == nullptr) {
    fprintf(stderr, "DEBUG: VKCL_MS_SetTrackBuffer: %d bytes of track data but no data, "
                    "nothing sent\n",
            count);
    return VK_ERR_REFUSED;
  }
  uint8_t params[1 + VK_TRACK_DATA_MAX] = {0};
  params[0] = track;
  const int n = std::max(count, 0);
  if (n > 0) memcpy(params + 1, data, size_t(n));
  return QueryCommand("&MST", params, 1 + n, nullptr, nullptr, 0);
}

// Writes the buffered data to a track; out receives the printer's answer.
int CVKDevice::VKCL_MS_WriteTrackData(uint8_t track, uint8_t* out, int outCapacity) {
  int copied = 0;
  return trackQuery(*this, "&MWT", track, out, outCapacity, kStripeReplyArea, &copied);
}

// Reads a track back: out receives its data, *length their byte count.
int CVKDevice::VKCL_MS_ReadTrackData(uint8_t track, uint8_t* out, int* length,
                                     int outCapacity) {
  int copied = 0;
  int result = trackQuery(*this, "&MRT", track, out, outCapacity, kTrackReplyArea, &copied);
  // The length tells how many bytes out now holds.
  if (copied >= 0 && length != nullptr) *length = copied;
  return result;
}

// Erases a track; out receives the printer's answer.
int CVKDevice::VKCL_MS_EraseTrackData(uint8_t track, uint8_t* out, int outCapacity) {
  int copied = 0;
  return trackQuery(*this, "&MET", track, out, outCapacity, kStripeReplyArea, &copied);
}
