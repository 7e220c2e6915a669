// Scripted answers for the simulator, one rule a line (in a script file or
// given with --rule):
//
//   <CODE> <action> [modifiers] [payload bytes]
//
// actions   ack                 status class 00, code 06
//           nak                 status class 00, code 15
//           error <hh>          status class 80 with error code hh
//           status <cc> <hh>    any status class and code
//           silent              no answer at all (the filter times out)
//           raw <hh> <hh> ...   exactly these bytes, nothing else (garbage)
// modifiers noesc               leave out the leading ESC
//           nocr                leave out the closing CR
//           len=<n>             put n (decimal, may be negative) in the length
//                               field whatever the payload is
//           fill=<n>[:<hh>]     append n bytes (default 41) to the payload
//           echo=<XXXX>         echo these four characters instead of the code
//           times=<n>           this answer for n calls in a row (default 1)
// payload   hexadecimal bytes (01 or 0x01), or text=<characters>
//
// Rules for one code are used in order, one per call; the last one stays
// for every further call. '#' starts a comment. Example: a printer busy
// twice, then idle:
//   $PJS ack 01 05 00 00 00 00 00 times=2
//   $PJS ack 00 05 00 00 00 00 00
#pragma once

#include <string>

#include "sim/sim_core.h"

namespace vkrsim {

// Adds one rule to the simulator; false with a message on a bad rule.
bool AddRule(Simulator& sim, const std::string& rule, std::string* error);
// Adds every rule of a script file.
bool LoadScript(Simulator& sim, const std::string& path, std::string* error);

}  // namespace vkrsim
