// Command frames and the exchange with the printer: one frame written to the
// printer stream, a one-second pause, one read of the back channel, and the
// parse of the printer's reply into a result code and a payload.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "device/PrinterIO.h"
#include "device/VKDevice.h"
#include "device/backchannel.h"

namespace {

const uint8_t kESC = 0x1B;
const uint8_t kCR = 0x0D;
const uint8_t kNAK = 0x15;

// Fixed part of a reply: ESC, four bytes, class, code, four length bytes.
const int kReplyHeader = 11;
// Reply area of one command exchange.
const int kReplyArea = 4096;
// Receive area of one back-channel read; one byte stays for the terminator.
const int kReceiveArea = 8192;
// The fixed pause between writing a command and reading its answer.
const unsigned int kAnswerDelay = 1000000;
// How long the back channel is given to answer.
const double kReadTimeout = 5.0;

// Reads a big-endian 32-bit value.
uint32_t readBigEndian(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

// Forgets the last reply's payload.
int CVKDevice::InitSndRcvBuf() {
  nRcvlen = 0;
  memset(RcvBuf, 0, sizeof(RcvBuf));
  return 0;
}

// Frames one command (code and parameters), exchanges it with the printer and
// turns the reply into a result code; the payload is then held for
// GetResultData.
int CVKDevice::SencRecv(const uint8_t* cmd, int length) {
  InitSndRcvBuf();
  // A command is at least its four code characters; anything shorter has no
  // frame to build, so nothing is sent.
  if (cmd == nullptr || length < 4) return 1;
  const size_t params = size_t(length) - 4;

  std::vector<uint8_t> frame;
  try {
    frame.assign(size_t(length) + 33, 0);
  } catch (const std::bad_alloc&) {
    return 1;
  }
  frame[0] = kESC;
  memcpy(&frame[1], cmd, 4);
  frame[5] = uint8_t(params >> 24);
  frame[6] = uint8_t(params >> 16);
  frame[7] = uint8_t(params >> 8);
  frame[8] = uint8_t(params);
  if (params > 0) memcpy(&frame[9], cmd + 4, params);
  frame[9 + params] = kCR;

  std::vector<uint8_t> reply(kReplyArea, 0);
  int replyLength = 0;
  if (SendRecvData(frame.data(), int(params + 10), reply.data(), &replyLength, kReplyArea) < 0) {
    fprintf(stderr, "Recv Data faild..... ");
    return -1;
  }
  int result = RecveData(reply.data(), replyLength);
  fprintf(stderr, "\r\n");
  return result;
}

// Writes count bytes to the printer unchanged (after dropping what the
// printer left unread), pauses, and reads one answer from the back channel
// into reply (at most replyCapacity bytes). Returns 1
// when anything came back, -1 when nothing did.
int CVKDevice::SendRecvData(const uint8_t* bytes, int count, uint8_t* reply, int* replyLength,
                            int replyCapacity) {
  PrinterIO& printer = Printer();
  fprintf(stderr, "[->]SendRecvProc fn() Entry\n");
  if (bytes != nullptr && count > 0) {
    // An answer left over from an earlier command is no answer to this one.
    DropUnreadAnswers(printer);
    printer.Write(bytes, size_t(count));
  }
  printer.Flush();
  fprintf(stderr, "[->][SendRecvProc : after snd.. usleep]\n");
  printer.Pause(kAnswerDelay);

  std::vector<uint8_t> received(kReceiveArea, 0);
  // The answer is read whole by its length field, in as many reads as it
  // takes, within the read limit and the time-out.
  const ssize_t got = ReadAnswer(printer, received.data(), kReceiveArea - 1, kReceiveArea - 1,
                                 kReadTimeout);
  if (got > 0) received[size_t(got)] = 0;

  fprintf(stderr, "[->]cupsSideChannelDoRequest report_levels2\n");
  fprintf(stderr,
          "[->]\n %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x %02x (%d)\n",
          received[0], received[1], received[2], received[3], received[4], received[5],
          received[6], received[7], received[8], received[9], received[10], received[11],
          received[12], int(got));
  if (got <= 0) {
    fprintf(stderr, "[->]SendRecvProc fn() - Fail \n");
    return -1;
  }

  // The answer is kept only as far as the caller's area reaches; a reply
  // longer than that is cut off here and judged by the parser.
  int kept = int(std::min<ssize_t>(got, replyCapacity > 0 ? replyCapacity : 0));
  if (reply != nullptr && kept > 0) memcpy(reply, received.data(), size_t(kept));
  if (replyLength != nullptr) *replyLength = reply != nullptr ? kept : 0;
  return 1;
}

// Parses one reply of replyLength bytes: sets nRet to the result code and
// keeps the payload (at most the size of RcvBuf) for GetResultData.
//
// The parse never looks past the bytes received. A reply that does not start
// with ESC, is too short for its status and length fields, claims a payload
// longer than what arrived, or lacks the CR after its payload is not a reply
// the printer can have meant: it gives -1, the same result as no reply at
// all, and no payload is kept.
int CVKDevice::RecveData(const uint8_t* reply, int replyLength) {
  int step = 1;
  bool complete = false;
  const int status = AnswerStatus(reply, replyLength > 0 ? size_t(replyLength) : 0);
  if (reply == nullptr || replyLength < 1 || reply[0] != kESC) {
    nRet = -1;
  } else if (status < 0) {
    step = 2;
    nRet = -1;
  } else {
    step = 2;
    if (reply[6] == kNAK) {
      nRet = 9;
      step = 5;
      complete = true;
    } else {
      nRet = status;
      step = 3;
      if (replyLength < kReplyHeader) {
        nRet = -1;
      } else {
        const int32_t payload = int32_t(readBigEndian(reply + 7));
        if (payload <= 0) {
          step = 5;
          complete = true;
        } else if (int64_t(kReplyHeader) + payload > replyLength) {
          // The length field claims more than arrived (or more than the
          // reply area holds): the payload cannot be trusted.
          step = 4;
          nRet = -1;
        } else if (int64_t(kReplyHeader) + payload == replyLength ||
                   reply[kReplyHeader + payload] != kCR) {
          // The reply stops right after its payload, or the byte after it
          // is not CR.
          step = 5;
          nRet = -1;
        } else {
          step = 4;
          const int kept = std::min<int32_t>(payload, int32_t(sizeof(RcvBuf)));
          memcpy(RcvBuf, reply + kReplyHeader, size_t(kept));
          nRcvlen = kept;
          complete = true;
        }
      }
    }
  }
  if (!complete) InitSndRcvBuf();
  fprintf(stderr, "nStep:%d, nRet:%d\n", step, nRet);
  fprintf(stderr, " nRet:%d\n", nRet);
  return nRet;
}

// Copies the last reply's payload into out (at most outCapacity bytes) and
// tells its length; a reply without payload leaves out untouched.
int CVKDevice::GetResultData(uint8_t* out, int* outLength, int outCapacity) {
  int copied = std::min<int>(nRcvlen, outCapacity > 0 ? outCapacity : 0);
  if (out == nullptr) copied = 0;
  if (copied > 0) memcpy(out, RcvBuf, size_t(copied));
  if (outLength != nullptr) *outLength = copied;
  return 0;
}

// Writes the bytes as upper-case hexadecimal text, two characters a byte,
// and terminates it; returns the number of characters.
int CVKDevice::htoa(char* text, const uint8_t* bytes, int count) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (count <= 0) {
    text[0] = '\0';
    return 0;
  }
  for (int i = 0; i < count; ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  text[2 * count] = '\0';
  return 2 * count;
}

// Sends a command that the caller framed itself and reads one answer, which
// is dropped. Returns 1 when the printer answered anything, -1 otherwise.
int CVKDevice::VKCL_CMD(const uint8_t* bytes, int count) {
  uint8_t reply[100] = {0};
  int replyLength = 0;
  return SendRecvData(bytes, count, reply, &replyLength, int(sizeof(reply)));
}
