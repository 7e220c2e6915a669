// Fuzz target: printer replies. Arbitrary bytes arrive as the back-channel
// read result for every command kind, through SencRecv and the operations
// that decode payloads, and through the filter's own conversation with the
// printer (preflight, completion wait, recovery).
//
// Input: one selector byte, then the answers: each is a two-byte big-endian
// length (taken modulo 9000, so that answers longer than one read can hold
// are tried too) and that many bytes; the last answer takes whatever is
// left. Reads after the last answer find a silent printer. Every reply
// buffer is allocated at exactly its documented capacity, so a copy beyond
// it is a sanitizer report.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "device/VK4400.h"
#include "device/VKDevice.h"
#include "filter/filter.h"
#include "fuzz/fuzz_printer.h"

namespace {

// A reply buffer of exactly n bytes on the heap.
struct Out {
  explicit Out(size_t n) : bytes(new uint8_t[n]), size(n) { memset(bytes.get(), 0xA5, n); }
  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
};

void queueAnswers(FuzzPrinter& printer, const uint8_t* data, size_t size) {
  while (size > 0) {
    if (size < 2) {
      printer.answers.push_back(FuzzPrinter::Bytes(data, data + size));
      return;
    }
    size_t n = ((size_t(data[0]) << 8) | data[1]) % 9000;
    data += 2;
    size -= 2;
    if (n > size) n = size;
    printer.answers.push_back(FuzzPrinter::Bytes(data, data + n));
    data += n;
    size -= n;
  }
}

// One call of the command kind that the selector names.
void runCommand(uint8_t selector) {
  switch (selector % 27) {
    case 0: { Out o(VK_JOBSTATUS_SIZE); PrintJobStatus(o.bytes.get()); break; }
    case 1: CancelPrintJob(selector); break;
    case 2: CheckPrinterStatus(); break;
    case 3: ClearErrorStatus(); break;
    case 4: { Out o(VK_REPLY_SIZE); GetPrinterVersion(o.bytes.get()); break; }
    case 5: { Out o(VK_REPLY_SIZE); CheckRibbonSensor(o.bytes.get()); break; }
    case 6: CardInsert(); break;
    case 7: SelfPrinting(); break;
    case 8: BuzzerControl(1, 2, 3); break;
    case 9: { Out o(VK_REPLY_SIZE); CheckFeederSensor(o.bytes.get()); break; }
    case 10: { Out o(VK_REPLY_SIZE); RibbonSensorValue(o.bytes.get()); break; }
    case 11: { Out o(VK_REPLY_SIZE); GetOptionInformationValue(o.bytes.get()); break; }
    case 12: { std::unique_ptr<int> v(new int(0)); GetPrinterParameterValue(selector & 7, v.get()); break; }
    case 13: { std::unique_ptr<int> v(new int(0)); GetPrintCount(v.get()); break; }
    case 14: { std::unique_ptr<int> v(new int(0)); CheckRibbonCount(v.get()); break; }
    case 15: ClearImageBuffer(1, 2); break;
    case 16: MS_SetEncoderCoercivity(1); break;
    case 17: { const unsigned char track[] = "%B1234567890^NAME^?"; MS_SetTrackBuffer(1, track, int(sizeof(track) - 1)); break; }
    case 18: { Out o(VK_REPLY_SIZE); MS_WriteTrackData(2, o.bytes.get()); break; }
    case 19: {
      Out o(VK_TRACK_SIZE);
      std::unique_ptr<int> length(new int(-1));
      // The length, when written, tells how many bytes pData holds.
      MS_ReadTrackData(3, o.bytes.get(), length.get());
      if (*length < -1 || *length > VK_TRACK_SIZE) abort();
      break;
    }
    case 20: { Out o(VK_REPLY_SIZE); MS_EraseTrackData(1, o.bytes.get()); break; }
    case 21: { unsigned char cmd[] = {0x1B, '!', 'C', 'S', 'S', 0, 0, 0, 0, 0x0D}; OneCmdPrinting(0, cmd, int(sizeof(cmd))); break; }
    case 22: { FilterJob job; CheckJobStatus(job); break; }
    case 23: { FilterJob job; if (CheckVersion(job) == kGoOn) CheckRibbon(job); break; }
    case 24: { FilterJob job; RecoverPrinter(job, (selector & 1) != 0); break; }
    case 25: { FilterJob job; CompletionWait(job); break; }
    default: {
      // The bare transport: a query through SencRecv, then the payload.
      const uint8_t cmd[] = {'$', 'P', 'J', 'S'};
      g_Dev.SencRecv(cmd, 4);
      Out o(16);
      int length = -1;
      g_Dev.GetResultData(o.bytes.get(), &length, 16);
      if (length < 0 || length > 16 || g_Dev.nRcvlen < 0 || g_Dev.nRcvlen > VK_RCVBUF_SIZE) abort();
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietLogs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzPrinter printer;
  if (size < 1) return 0;
  printer.Reset();
  queueAnswers(printer, data + 1, size - 1);
  runCommand(data[0]);
  // Whatever the printer said, the filter never wrote half a command.
  if (data[0] % 27 != 21) printer.RequireWholeFrames();
  return 0;
}
