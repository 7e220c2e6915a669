// How the simulated printer answers the job-control commands when no script
// says otherwise: idle, firmware 0123, a colour ribbon loaded.
#include "sim/sim_core.h"

namespace vkrsim {
namespace {

// Job status: byte 0 job state (0 idle), byte 1 the current job number.
Response jobStatus(const Frame&, Simulator&) { return Reply::Ack({0, 0, 0, 0, 0, 0, 0}); }

// Firmware version: bytes 2 and 3 hold the version digits 01 23.
Response version(const Frame&, Simulator&) { return Reply::Ack({0x00, 0x00, 0x01, 0x23}); }

// Ribbon sensor: byte 1 names the ribbon ('1' a colour ribbon).
Response ribbonSensor(const Frame&, Simulator&) { return Reply::Ack({0x00, '1'}); }

Response accept(const Frame&, Simulator&) { return Reply::Ack(); }

}  // namespace

VKRSIM_HANDLER("$PJS", jobStatus);
VKRSIM_HANDLER("!GVT", version);
VKRSIM_HANDLER("!CRS", ribbonSensor);
VKRSIM_HANDLER("$CPJ", accept);
VKRSIM_HANDLER("!CSS", accept);
VKRSIM_HANDLER("!RCE", accept);

}  // namespace vkrsim
