// The Printer Application's own parts: the card options' translation into
// the filter's options, and the printer exchange over a PAPPL socket device.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>

#include "app/card_options.h"
#include "app/printer_io.h"

// PAPPL keeps a few bytes of a closed device to the process exit (LeakSanitizer).
extern "C" const char* __lsan_default_suppressions() { return "leak:libpappl.so"; }

namespace {

using Options = std::map<std::string, std::string>;

// The PPD-named options a job's vendor options become.
Options translate(const Options& vendor, pappl_color_mode_t mode = PAPPL_COLOR_MODE_COLOR) {
  cups_option_t* in = nullptr;
  int count = 0;
  for (const auto& [name, value] : vendor) count = cupsAddOption(name.c_str(), value.c_str(), count, &in);
  cups_option_t* out = nullptr;
  const int n = CardOptionsForJob(count, in, mode, nullptr, &out);
  Options result;
  for (int i = 0; i < n; ++i) result[out[i].name] = out[i].value;
  cupsFreeOptions(count, in);
  cupsFreeOptions(n, out);
  return result;
}

// Out of range, not a number or not a listed keyword: the option is left out,
// so the filter's own default applies. Monochrome prints on the black panel
// only, whatever ribbon is asked for.
TEST(VendorCardOptions, ValuesMapToPpdChoicesAndUnsupportedOnesFallBackToTheDefault) {
  EXPECT_EQ(translate({}), (Options{{"CardRibbon", "Auto"}, {"CardFOverlay", "Full"}, {"CardBOverlay", "Full"},
                                    {"CardBlackExtraction", "NotUse"}, {"ColorStyle", "Normal"},
                                    {"CardBrightness", "45"}, {"CardContrast", "41"}, {"CardRed", "47"},
                                    {"CardGreen", "47"}, {"CardBlue", "47"}, {"CardSharpening", "5"},
                                    {"CardGamma", "93"}, {"CardSaturate", "1"}}));
  const struct {
    const char *vendor, *value, *ppdName, *expected;
  } kCases[] = {
      {"card-front-overlay", "ms", "CardFOverlay", "MS"},
      {"card-back-overlay", "iso", "CardBOverlay", "ISO"},
      {"card-black-extraction", "blackdots", "CardBlackExtraction", "BlackDots"},
      {"card-color-style", "notuse", "ColorStyle", "NotUse"},
      {"card-ribbon", "rw", "CardRibbon", "RW"},
      {"card-sharpening", "-3", "CardSharpening", "-3"},
      {"card-gamma", "140", "CardGamma", "140"},
      {"card-saturation", "30", "CardSaturate", "30"},
      {"card-brightness", "76", "CardBrightness", nullptr},
      {"card-contrast", "24", "CardContrast", nullptr},
      {"card-red", "4x", "CardRed", nullptr},
      {"card-front-overlay", "MS", "CardFOverlay", nullptr},
  };
  for (const auto& c : kCases) {
    const Options out = translate({{c.vendor, c.value}});
    EXPECT_EQ(out.count(c.ppdName) ? out.at(c.ppdName) : "(left out)", c.expected ? c.expected : "(left out)")
        << c.vendor << "=" << c.value;
  }
  EXPECT_EQ(translate({{"card-ribbon", "auto"}}, PAPPL_COLOR_MODE_MONOCHROME).at("CardRibbon"), "K");
}

TEST(VendorCardOptions, AttributesCarryEveryOptionWithItsDefault) {
  ipp_t* attrs = ippNew();
  AddCardOptionAttributes(attrs);
  int count = 0;
  const CardOptionSpec* specs = CardOptionSpecs(&count);
  for (int i = 0; i < count; ++i) {
    const std::string name = specs[i].ippName;
    EXPECT_NE(ippFindAttribute(attrs, (name + "-supported").c_str(), IPP_TAG_ZERO), nullptr) << name;
    ipp_attribute_t* def = ippFindAttribute(attrs, (name + "-default").c_str(), IPP_TAG_ZERO);
    ASSERT_NE(def, nullptr) << name;
    char text[64];
    ippAttributeString(def, text, sizeof(text));
    EXPECT_STREQ(text, specs[i].defaultValue) << name;
  }
  ippDelete(attrs);
}

// A printer on a loopback socket that the test answers by hand.
class SocketPrinter {
 public:
  SocketPrinter() {
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(addr);
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    listen(listener_, 1);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
    uri = "socket://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  }
  ~SocketPrinter() { close(listener_), peer >= 0 && close(peer); }
  void accept() { peer = ::accept(listener_, nullptr, nullptr); }
  void answer(const char* bytes) { ASSERT_EQ(write(peer, bytes, strlen(bytes)), ssize_t(strlen(bytes))); }
  // The next count bytes the printer received (fewer if the connection ends).
  std::string received(size_t count) {
    std::string text(count, '\0');
    size_t got = 0;
    for (ssize_t n; got < count && (n = read(peer, &text[got], count - got)) > 0;) got += size_t(n);
    return text.substr(0, got);
  }
  std::string uri;
  int peer = -1;

 private:
  int listener_ = socket(AF_INET, SOCK_STREAM, 0);
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The read gives up at its own time-out although PAPPL's socket read waits
// ten seconds; an answer that comes later is the next read's (or the
// drain's); a closed connection fails the read at once.
TEST(PapplPrinterIO, ReadStopsAtItsTimeOutLateAnswersAreReadOrDrainedNext) {
  SocketPrinter printer;
  pappl_device_t* device = papplDeviceOpen(printer.uri.c_str(), "test", nullptr, nullptr);
  ASSERT_NE(device, nullptr);
  printer.accept();
  {
    PapplPrinterIO io(device);
    ASSERT_EQ(io.Write("ABC", 3), 3u);
    io.Flush();
    EXPECT_EQ(printer.received(3), "ABC");
    char buffer[16] = {0};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(io.ReadBack(buffer, sizeof(buffer), 0.3), 0);
    EXPECT_LT(secondsSince(start), 3.0);
    printer.answer("late");
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(io.ReadBack(buffer, sizeof(buffer), 5.0), 4);
    EXPECT_EQ(std::string(buffer, 4), "late");
    printer.answer("now");
    ASSERT_EQ(io.ReadBack(buffer, 2, 5.0), 2);
    EXPECT_EQ(std::string(buffer, 2), "no");
    ASSERT_EQ(io.ReadBack(buffer, sizeof(buffer), 5.0), 1);
    EXPECT_EQ(buffer[0], 'w');
    EXPECT_LT(secondsSince(start), 3.0);
    // An answer left unread is drained before the next command; a drain
    // that finds nothing keeps the next answer for the read.
    printer.answer("old");
    size_t drained = 0;
    for (int i = 0; i < 100 && drained == 0; ++i) drained = io.Drain(buffer, sizeof(buffer));
    ASSERT_EQ(drained, 3u);
    EXPECT_EQ(std::string(buffer, 3), "old");
    EXPECT_EQ(io.Drain(buffer, sizeof(buffer)), 0u);
    printer.answer("new");
    ASSERT_EQ(io.ReadBack(buffer, sizeof(buffer), 5.0), 3);
    EXPECT_EQ(std::string(buffer, 3), "new");
    close(printer.peer), printer.peer = -1;  // the printer hangs up
    EXPECT_EQ(io.ReadBack(buffer, sizeof(buffer), 5.0), -1);
    EXPECT_LT(secondsSince(start), 3.0);
  }
  papplDeviceClose(device);
}

}  // namespace
