// The printer's answers on the back channel: one answer per command. What
// the printer sent that nobody read is dropped before the next command goes
// out, and an answer is read whole by its length field, within the read
// limit and the read time-out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "device/PrinterIO.h"

// The most bytes one answer is read up to.
const size_t kAnswerReadLimit = 8191;

// Drops what the printer left unread in the back channel (at most a bounded
// amount per call, without waiting) and logs it as a "DEBUG: " line. Returns
// the number of bytes dropped.
size_t DropUnreadAnswers(PrinterIO& io);

// Reads one answer into buffer: a first read of at most firstLimit bytes;
// then, while the answer is shorter than its length field says, further
// reads for the missing bytes, up to totalLimit bytes in all and until
// timeout seconds have passed since the first read began. A reply that does
// not start with ESC is taken as it came. Returns the number of bytes read,
// or the first read's result (0 or -1) when nothing arrived. buffer holds at
// least totalLimit bytes; totalLimit is at least firstLimit.
ssize_t ReadAnswer(PrinterIO& io, uint8_t* buffer, size_t firstLimit, size_t totalLimit,
                   double timeout);

// The result code that an answer's status stands for: 9 for NAK, the status
// code for an error of class 0x80, 0 for ACK or any other status; -1 when
// the answer does not start with ESC or ends before its status bytes.
int AnswerStatus(const uint8_t* answer, size_t length);
