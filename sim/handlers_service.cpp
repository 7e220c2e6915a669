// How the simulated printer answers the service and stripe-encoder commands
// when no script says otherwise. It keeps a print counter and a ribbon
// counter (a self-test print moves both), answers printer parameters with the
// index echoed, and has a stripe encoder: "&MST" loads a track buffer,
// "&MWT" writes it to the card's track, "&MRT" reads the card's track back
// and "&MET" erases it. A command without the parameters it needs is refused
// (NAK) and the reason noted in the log.
#include <string>

#include "sim/sim_core.h"

namespace vkrsim {
namespace {

// Counter values of a fresh printer.
const long kFreshRibbonCount = 500;
const long kFreshPrintCount = 1234;
// Parameter 27 as the printer stores it (the device reports 32 minus this).
const long kFreshParameter27 = 5;

// A named counter, starting from its fresh value.
long& counter(Simulator& sim, const std::string& name, long fresh) {
  auto it = sim.counters.find(name);
  if (it == sim.counters.end()) it = sim.counters.emplace(name, fresh).first;
  return it->second;
}

long& ribbonCount(Simulator& sim) { return counter(sim, "ribbon", kFreshRibbonCount); }
long& printCount(Simulator& sim) { return counter(sim, "prints", kFreshPrintCount); }

// Refuses a frame that lacks the parameters its command needs.
Response refuseShort(const Frame& frame, size_t needed, Simulator& sim) {
  sim.Note("%s refused: %zu parameter bytes, %zu needed%s", frame.code.c_str(),
           frame.params.size(), needed, frame.complete ? "" : " (stream ended inside the frame)");
  return Reply::Nak();
}

bool tooShort(const Frame& frame, size_t needed) {
  return !frame.complete || frame.params.size() < needed;
}

std::string trackKey(const char* what, uint8_t track) {
  return std::string("track.") + what + "." + std::to_string(track);
}

// --- service commands ---

Response cardInsert(const Frame&, Simulator& sim) {
  ++counter(sim, "inserted", 0);
  sim.Note("card taken in");
  return Reply::Ack();
}

// A self-test print uses a card's worth of ribbon and counts as a print.
Response selfPrint(const Frame& frame, Simulator& sim) {
  if (tooShort(frame, 1)) return refuseShort(frame, 1, sim);
  ++printCount(sim);
  long& ribbon = ribbonCount(sim);
  if (ribbon > 0) --ribbon;
  sim.Note("self-test print (mode %02x): print count %ld, ribbon count %ld", frame.params[0],
           printCount(sim), ribbon);
  return Reply::Ack();
}

Response buzzer(const Frame& frame, Simulator& sim) {
  if (tooShort(frame, 6)) return refuseShort(frame, 6, sim);
  const Bytes& p = frame.params;
  sim.Note("buzzer %d %d %d", p[0] * 256 + p[1], p[2] * 256 + p[3], p[4] * 256 + p[5]);
  return Reply::Ack();
}

// Fixed sensor and option readings; tests script others.
Response feederSensor(const Frame&, Simulator&) { return Reply::Ack({0x00, 0x01}); }
Response ribbonSensorValue(const Frame&, Simulator&) { return Reply::Ack({0x00, 0x7F, 0x00, 0x7F}); }
Response optionInformation(const Frame&, Simulator&) { return Reply::Ack({0x01, 0x00}); }

// A parameter: its index echoed, then its value as four big-endian bytes.
Response parameter(const Frame& frame, Simulator& sim) {
  if (tooShort(frame, 1)) return refuseShort(frame, 1, sim);
  const uint8_t index = frame.params[0];
  const long value =
      counter(sim, "param." + std::to_string(index), index == 27 ? kFreshParameter27 : 0);
  const uint32_t v = uint32_t(value);
  return Reply::Ack({index, uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

Response printCounter(const Frame&, Simulator& sim) {
  const uint32_t v = uint32_t(printCount(sim));
  return Reply::Ack({uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

Response ribbonCounter(const Frame&, Simulator& sim) {
  const uint32_t v = uint32_t(ribbonCount(sim));
  return Reply::Ack({uint8_t(v >> 8), uint8_t(v)});
}

Response clearImageBuffer(const Frame& frame, Simulator& sim) {
  if (tooShort(frame, 2)) return refuseShort(frame, 2, sim);
  sim.Note("image buffer cleared (%02x %02x)", frame.params[0], frame.params[1]);
  return Reply::Ack();
}

// --- stripe encoder ---

Response coercivity(const Frame& frame, Simulator& sim) {
  if (tooShort(frame, 1)) return refuseShort(frame, 1, sim);
  sim.counters["coercivity"] = frame.params[0];
  sim.Note("encoder coercivity %02x", frame.params[0]);
  return Reply::Ack();
}

// Loads the track buffer with the bytes after the track number.
Response setTrackBuffer(const Frame& frame, Simulator& sim) {
  if (tooShort(frame, 1)) return refuseShort(frame, 1, sim);
  const uint8_t track = frame.params[0];
  sim.stores[trackKey("buffer", track)] = Bytes(frame.params.begin() + 1, frame.params.end());
  sim.Note("track %u buffer loaded with %zu bytes", track, frame.params.size() - 1);
  return Reply::Ack();
}

// Writes the loaded buffer to the card's track; nothing loaded is refused.
Response writeTrack(const Frame& frame, Simulator& sim) {
  if (tooShort(frame, 1)) return refuseShort(frame, 1, sim);
  const uint8_t track = frame.params[0];
  auto buffer = sim.stores.find(trackKey("buffer", track));
  if (buffer == sim.stores.end()) {
    sim.Note("&MWT refused: nothing loaded for track %u", track);
    return Reply::Nak();
  }
  sim.stores[trackKey("card", track)] = buffer->second;
  sim.Note("track %u written with %zu bytes", track, buffer->second.size());
  return Reply::Ack({track, 0x00});
}

// Reads the card's track: its bytes, or no payload for a blank track.
Response readTrack(const Frame& frame, Simulator& sim) {
  if (tooShort(frame, 1)) return refuseShort(frame, 1, sim);
  auto card = sim.stores.find(trackKey("card", frame.params[0]));
  if (card == sim.stores.end()) return Reply::Ack();
  return Reply::Ack(card->second);
}

Response eraseTrack(const Frame& frame, Simulator& sim) {
  if (tooShort(frame, 1)) return refuseShort(frame, 1, sim);
  const uint8_t track = frame.params[0];
  sim.stores.erase(trackKey("card", track));
  sim.Note("track %u erased", track);
  return Reply::Ack({track, 0x00});
}

}  // namespace

VKRSIM_HANDLER("!RIP", cardInsert);
VKRSIM_HANDLER("!RSP", selfPrint);
VKRSIM_HANDLER("!RBZ", buzzer);
VKRSIM_HANDLER("!CFS", feederSensor);
VKRSIM_HANDLER("!GRS", ribbonSensorValue);
VKRSIM_HANDLER("!GOI", optionInformation);
VKRSIM_HANDLER("!GCV", parameter);
VKRSIM_HANDLER("!GPC", printCounter);
VKRSIM_HANDLER("!CRC", ribbonCounter);
VKRSIM_HANDLER("$CCB", clearImageBuffer);
VKRSIM_HANDLER("&MEC", coercivity);
VKRSIM_HANDLER("&MST", setTrackBuffer);
VKRSIM_HANDLER("&MWT", writeTrack);
VKRSIM_HANDLER("&MRT", readTrack);
VKRSIM_HANDLER("&MET", eraseTrack);

}  // namespace vkrsim
