// The input side of the fault matrix, through the real filter and the
// simulator: raster streams cut short at every stage, unreadable headers,
// empty and zero-sized pages, line lengths that disagree with the width,
// heights that wrap, sizes whose 32-bit products overflow, pages of
// different sizes in one job, colour spaces and depths the filter refuses or
// turns into RGB, an empty file and random bytes, and the image log's and
// the dumps' fixed names taken by a link or another user's file. Each ends
// in its defined outcome: the stated lines and exit 1, or a completed job;
// never a signal, a hang or a partial command.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "fault_relay.h"
#include "raster_pages.h"
#include "support/run_filter.h"

using namespace rastertest;

namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<std::string>;

const Codes kNoCard = {"$PJS", "!GVT", "!CRS", "$PJS"};
const Codes kOneCard = {"$PJS", "!GVT", "!CRS", "$PTS", "$PJS"};
const Codes kRefused = {"$PJS", "!GVT", "!CRS"};
const char kUnsupported[] = "ERROR: Unsupported raster data.\n";
const char kReadError[] = "ERROR: Error reading raster data.\n";
const char kNoPages[] = "ERROR: No pages were found.\n";

// Size of an uncompressed raster's sync word and page header.
const size_t kHeaderBytes = 4 + sizeof(cups_page_header2_t);
// One line of the default 643-pixel RGB page.
const size_t kLineBytes = 643 * 3;

// A raster written byte by byte, uncompressed (sync word "RaS3"), so that
// headers libcups's writer would not produce can be tried.
Bytes RawRaster(const std::vector<std::pair<cups_page_header2_t, Bytes>>& pages) {
  Bytes out;
  const uint32_t sync = CUPS_RASTER_SYNC;
  const uint8_t* s = reinterpret_cast<const uint8_t*>(&sync);
  out.insert(out.end(), s, s + 4);
  for (const auto& page : pages) {
    const uint8_t* h = reinterpret_cast<const uint8_t*>(&page.first);
    out.insert(out.end(), h, h + sizeof(page.first));
    out.insert(out.end(), page.second.begin(), page.second.end());
  }
  return out;
}

// Grey pixel data for a header: cupsBytesPerLine x cupsHeight bytes.
Bytes PixelsFor(const cups_page_header2_t& h) {
  return Bytes(size_t(h.cupsBytesPerLine) * h.cupsHeight, 0x80);
}

struct Outcome {
  int exitStatus;
  Codes codes;
  std::vector<std::string> lines;
};

faultrelay::RelayRun RunWith(const Bytes& input) {
  faultrelay::RelaySetup setup;
  setup.stdinBytes = input;
  return faultrelay::Run(setup);
}

void Expect(const char* name, const Bytes& input, const Outcome& want) {
  SCOPED_TRACE(name);
  const faultrelay::RelayRun run = RunWith(input);
  EXPECT_FALSE(run.timedOut);
  const std::string tail = run.log.substr(run.log.size() > 2000 ? run.log.size() - 2000 : 0);
  EXPECT_EQ(run.exitStatus, want.exitStatus) << tail;
  EXPECT_EQ(run.Codes(), want.codes);
  for (const std::string& line : want.lines) EXPECT_TRUE(run.LogHas(line)) << line << "\n" << tail;
  EXPECT_TRUE(run.AllFramesWhole());
  if (want.exitStatus == 1) {
    EXPECT_TRUE(run.LogHas("ERROR: "));
  }
}

PageSpec Grey() { return Filled(Rgb{128, 128, 128}); }

}  // namespace

TEST(InputFaults, StreamCutShortAtEveryStage) {
  const Bytes whole = WriteRaster({Grey(), Grey()});
  const size_t page = kHeaderBytes - 4 + kLineBytes * 1013;  // header and lines of one page
  ASSERT_EQ(whole.size(), 4 + 2 * page);
  auto cutTo = [&](size_t n) { return Bytes(whole.begin(), whole.begin() + long(n)); };

  // A stream of no pages is an empty job; a header cut short fails it.
  Expect("sync word only", cutTo(4), {0, kNoCard, {}});
  Expect("inside the first header", cutTo(4 + 900), {1, kRefused, {kNoPages}});
  // A header and part of a line.
  Expect("inside the first line", cutTo(kHeaderBytes + 100),
         {1, kRefused, {kReadError, "DEBUG: Unable to read line 1 for page 1.\n"}});
  Expect("mid page", cutTo(kHeaderBytes + kLineBytes * 500 + 7),
         {1, kRefused, {kReadError, "DEBUG: Unable to read line 501 for page 1.\n"}});
  Expect("last line of the page", cutTo(4 + page - 1),
         {1, kRefused, {kReadError, "DEBUG: Unable to read line 1013 for page 1.\n"}});
  // The first card is whole: it is printed, and the cut second page fails
  // the job, so the missing card is not reported as printed.
  Expect("inside the second header", cutTo(4 + page + 500),
         {1, {"$PJS", "!GVT", "!CRS", "$PTS"},
          {kReadError, "DEBUG: Unable to read the header of page 2.\n"}});
  Bytes garbage = cutTo(4 + page);
  for (int i = 0; i < 3000; ++i) garbage.push_back(uint8_t(i * 37 + 11));
  Expect("garbage after the first page", garbage,
         {1, {"$PJS", "!GVT", "!CRS", "$PTS"},
          {kReadError, "DEBUG: Unable to read the header of page 2.\n"}});
  Expect("inside the second page", cutTo(4 + page + kHeaderBytes - 4 + kLineBytes * 10),
         {1, {"$PJS", "!GVT", "!CRS", "$PTS"},
          {kReadError, "DEBUG: Unable to read line 11 for page 2.\n"}});
}

TEST(InputFaults, EmptyInputPrintsNothingAndUnreadableInputFails) {
  Expect("empty standard input", {}, {0, kNoCard, {}});

  // An empty file named on the command line.
  const std::string dir = vkrtest::MakeTempDir();
  const std::string path = dir + "/empty.ras";
  close(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
  faultrelay::RelaySetup setup;
  setup.args.push_back(path);
  const faultrelay::RelayRun run = faultrelay::Run(setup);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), kNoCard);
  vkrtest::RemoveTree(dir);

  std::mt19937 random(20261206);
  for (int i = 0; i < 3; ++i) {
    Bytes noise(size_t(40000 + 9000 * i));
    for (uint8_t& b : noise) b = uint8_t(random());
    Expect("random bytes", noise, {1, kRefused, {kNoPages}});
  }
  // A first page header that libcups refuses: no page, a failed job.
  cups_page_header2_t h = HeaderOf(Grey());
  h.cupsWidth = 1000000000;
  h.cupsBytesPerLine = 3000000000u;
  Expect("header libcups refuses", RawRaster({{h, Bytes(6000, 0x80)}}), {1, kRefused, {kNoPages}});
}

TEST(InputFaults, RandomBytesBehindAValidSyncWordFailTheJob) {
  // Whatever the header fields say, the job refuses the header or the page,
  // or fails to read its lines: it ends with an ERROR line and 1, in time,
  // and sends no card made of noise.
  std::mt19937 random(7);
  for (const uint32_t sync : {CUPS_RASTER_SYNCv1, CUPS_RASTER_SYNC, CUPS_RASTER_SYNCv2}) {
    for (int i = 0; i < 4; ++i) {
      Bytes input(4);
      memcpy(input.data(), &sync, 4);
      for (int k = 0; k < 30000; ++k) input.push_back(uint8_t(random()));
      const faultrelay::RelayRun run = RunWith(input);
      SCOPED_TRACE(i);
      EXPECT_FALSE(run.timedOut);
      EXPECT_EQ(run.exitStatus, 1);
      EXPECT_TRUE(run.LogHas("ERROR: ")) << run.log;
      EXPECT_TRUE(run.AllFramesWhole());
      for (const std::string& code : run.Codes()) EXPECT_NE(code, "$PTS");
    }
  }
}

TEST(InputFaults, ZeroSizedPages) {
  cups_page_header2_t card = HeaderOf(Grey());
  {
    // libcups reads no page with no lines or no bytes in a line.
    cups_page_header2_t h = card;
    h.cupsHeight = 0;
    Expect("zero height", RawRaster({{h, {}}}), {1, kRefused, {kNoPages}});
    h = card;
    h.cupsWidth = 0;
    h.cupsBytesPerLine = 0;
    Expect("zero width", RawRaster({{h, {}}}), {1, kRefused, {kNoPages}});
  }
  {
    // A page frame of no size cannot hold the raster.
    cups_page_header2_t h = card;
    h.cupsPageSize[0] = 0;
    h.cupsPageSize[1] = 0;
    Expect("zero page size", RawRaster({{h, PixelsFor(h)}}),
           {1, kRefused, {kUnsupported, "DEBUG: Bad bottom/left/top margin on page 1.\n"}});
    h = card;
    h.HWResolution[0] = h.HWResolution[1] = 0;
    Expect("zero resolution", RawRaster({{h, PixelsFor(h)}}),
           {1, kRefused, {kUnsupported, "DEBUG: Bad bottom/left/top margin on page 1.\n"}});
    // Zero pixels across: lines of no bytes, which the image-log copy could
    // not even write.
    h = card;
    h.HWResolution[0] = 0;
    Expect("zero horizontal resolution", RawRaster({{h, PixelsFor(h)}}),
           {1, kRefused, {kUnsupported, "DEBUG: Empty page frame (0 x 1013 pixels) on page 1.\n"}});
    faultrelay::RelaySetup logged;
    logged.args[4] = "CardBlackCheck=Check";
    logged.stdinBytes = RawRaster({{h, PixelsFor(h)}});
    const faultrelay::RelayRun run = faultrelay::Run(logged);
    EXPECT_EQ(run.exitStatus, 1) << run.log;  // not SIGFPE (136)
    EXPECT_TRUE(run.LogHas("DEBUG: Empty page frame (0 x 1013 pixels) on page 1.\n"));
    EXPECT_EQ(run.Codes(), kRefused);
  }
}

TEST(InputFaults, LineLengthThatDisagreesWithWidthAndDepth) {
  const cups_page_header2_t card = HeaderOf(Grey());
  {
    // Lines whose length is not what the width and depth make, a pixel off
    // or gigabytes long (a 6 KB raster asking for a 2 GiB line), are
    // refused before any line is allocated or read.
    struct Case {
      unsigned bytesPerLine, width;
      const char* line;
    } cases[] = {
        {1932, 643, "DEBUG: cupsBytesPerLine 1932 does not match cupsWidth 643 at 24 bits a pixel"},
        {1926, 643, "DEBUG: cupsBytesPerLine 1926 does not match cupsWidth 643 at 24 bits"},
        {0x7FFFFFFEu, 643, "DEBUG: cupsBytesPerLine 2147483646 does not match cupsWidth 643"},
        {0x30000000u, 643, "DEBUG: cupsBytesPerLine 805306368 does not match cupsWidth 643"},
        {0x7FFFFFFEu, 0x2AAAAAAAu, "DEBUG: Raster width 715827882 is larger than 16384 pixels"},
        {3 * 16384, 16384, "DEBUG: cupsBytesPerLine 49152 does not match cupsWidth 16384"},
    };
    for (const Case& c : cases) {
      cups_page_header2_t h = card;
      h.cupsBytesPerLine = c.bytesPerLine;
      h.cupsWidth = c.width;
      if (c.width == 16384) h.cupsBitsPerPixel = 48;  // 16-bit RGB at 8-bit line length
      if (c.width == 16384) h.cupsBitsPerColor = 16;
      Expect(c.line, RawRaster({{h, Bytes(6000, 0x80)}}), {1, kRefused, {kUnsupported, c.line}});
    }
    // Not whole pixels: libcups reads no page from such a header.
    cups_page_header2_t h = card;
    h.cupsBytesPerLine = card.cupsBytesPerLine + 1;
    Expect("partial pixel", RawRaster({{h, PixelsFor(h)}}), {1, kRefused, {kNoPages}});
  }
  {
    // A raster wider than its page: each line is cut at the page's edge and
    // the card is printed.
    cups_page_header2_t h = card;
    h.cupsWidth = 700;
    h.cupsBytesPerLine = 700 * 3;
    Expect("raster wider than the page", RawRaster({{h, PixelsFor(h)}}),
           {0, kOneCard, {"test linesize: 1929\n", "VKCL_PTSEx nTxSize 1954077, dw 643, dh 1013\n"}});
  }
  {
    // Bits per pixel that disagree with the colour space and depth.
    cups_page_header2_t h = card;
    h.cupsBitsPerPixel = 16;
    h.cupsBytesPerLine = 643 * 2;
    Expect("16 bits a pixel for 8-bit RGB", RawRaster({{h, PixelsFor(h)}}),
           {1, kRefused,
            {kUnsupported, "DEBUG: Unsupported cupsBitsPerPixel 16 for cupsColorSpace 1 on page 1.\n"}});
  }
}

TEST(InputFaults, SizesWhose32BitProductsOverflow) {
  const cups_page_header2_t card = HeaderOf(Grey());
  struct Case {
    const char* name;
    float points[2];
    unsigned dpi[2];
    const char* line;
  } cases[] = {
      {"resolution near 2^32", {643, 1013}, {4294967295u, 4294967295u},
       "DEBUG: Page size 4294967295 x 4294967295 pixels is larger than 16384 pixels a side"},
      {"width x resolution past 32 bits", {65536, PointsFor(1013, 300)}, {65537, 300},
       "DEBUG: Page size 59653233 x 1013 pixels is larger than 16384 pixels a side"},
      {"negative page size", {-643, -1013}, {300, 300},
       "pixels is larger than 16384 pixels a side on page 1.\n"},
      {"not a number", {__builtin_nanf(""), 1013}, {300, 300}, "on page 1.\n"},
      {"infinite", {__builtin_inff(), 1013}, {300, 300}, "on page 1.\n"},
  };
  for (const Case& c : cases) {
    cups_page_header2_t h = card;
    h.cupsPageSize[0] = c.points[0];
    h.cupsPageSize[1] = c.points[1];
    h.HWResolution[0] = c.dpi[0];
    h.HWResolution[1] = c.dpi[1];
    Expect(c.name, RawRaster({{h, PixelsFor(h)}}), {1, kRefused, {kUnsupported, c.line}});
  }
  {
    // Depth and width whose bit count passes 32 bits: 16-bit RGB 16384
    // pixels wide is 786432 bits a line, the page buffer over the limit.
    cups_page_header2_t h = card;
    h.cupsBitsPerColor = 16;
    h.cupsBitsPerPixel = 48;
    h.cupsBytesPerLine = 643 * 6;
    h.cupsPageSize[0] = PointsFor(16384, 300);
    h.cupsPageSize[1] = PointsFor(16384, 300);
    h.cupsImagingBBox[2] = h.cupsPageSize[0];
    h.cupsImagingBBox[3] = h.cupsPageSize[1];
    Expect("deep and wide", RawRaster({{h, PixelsFor(h)}}),
           {1, kRefused, {kUnsupported, "DEBUG: Page buffer of"}});
  }
}

TEST(InputFaults, PagesOfDifferentSizesInOneJob) {
  PageSpec small = Grey();
  small.width = 400;
  small.height = 600;
  PageSpec wide = Grey();
  wide.width = 1100;
  wide.height = 700;
  // Each page is framed and prepared on its own: every card is sent.
  const faultrelay::RelayRun run = RunWith(WriteRaster({Grey(), small, wide, Grey()}));
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.Codes(), (Codes{"$PJS", "!GVT", "!CRS", "$PTS", "$PTS", "$PTS", "$PTS", "$PJS"}));
  EXPECT_TRUE(run.AllFramesWhole());
  EXPECT_TRUE(run.LogHas("VKCL_PTSEx nTxSize 720000, dw 400, dh 600\n"));
  EXPECT_TRUE(run.LogHas("VKCL_PTSEx nTxSize 2310000, dw 1100, dh 700\n"));

  // A two-sided card whose back differs in size from its front.
  PageSpec front = Grey(), back = small;
  front.duplex = back.duplex = true;
  const faultrelay::RelayRun duplex = RunWith(WriteRaster({front, back}));
  EXPECT_EQ(duplex.exitStatus, 0) << duplex.log;
  EXPECT_EQ(duplex.Codes(), kOneCard);
  EXPECT_TRUE(duplex.AllFramesWhole());
}

TEST(InputFaults, RefusedColourSpacesAndDepths) {
  const cups_page_header2_t card = HeaderOf(Grey());
  struct Case {
    const char* name;
    unsigned space, bitsPerColor, bitsPerPixel;
    const char* line;
  } cases[] = {
      {"YMC", 5, 8, 24, "DEBUG: Unsupported cupsColorSpace 5 on page 1.\n"},
      {"CIELab", 16, 8, 24, "DEBUG: Unsupported cupsColorSpace 16 on page 1.\n"},
      {"RGBW", 17, 8, 32, "DEBUG: Unsupported cupsColorSpace 17 on page 1.\n"},
      {"ICC1", 32, 8, 24, "DEBUG: Unsupported cupsColorSpace 32 on page 1.\n"},
      {"ICCF", 46, 16, 48, "DEBUG: Unsupported cupsColorSpace 46 on page 1.\n"},
      {"DEVICE1", 48, 8, 8, "DEBUG: Unsupported cupsColorSpace 48 on page 1.\n"},
      {"DEVICEF", 62, 8, 120, "DEBUG: Unsupported cupsColorSpace 62 on page 1.\n"},
      {"W at 24 bits a pixel", 0, 8, 24,
       "DEBUG: Unsupported cupsBitsPerPixel 24 for cupsColorSpace 0 on page 1.\n"},
      {"2 bits a colour", 1, 2, 6, "DEBUG: Unsupported cupsBitsPerColor 2 on page 1.\n"},
      {"16-bit CMYK at 32 bits a pixel", 6, 16, 32,
       "DEBUG: Unsupported cupsBitsPerPixel 32 for cupsColorSpace 6 on page 1.\n"},
  };
  for (const Case& c : cases) {
    cups_page_header2_t h = card;
    h.cupsColorSpace = cups_cspace_t(c.space);
    h.cupsBitsPerColor = c.bitsPerColor;
    h.cupsBitsPerPixel = c.bitsPerPixel;
    h.cupsBytesPerLine = (643 * c.bitsPerPixel + 7) / 8;
    Expect(c.name, RawRaster({{h, PixelsFor(h)}}), {1, kRefused, {kUnsupported, c.line}});
  }
  // Colour spaces libcups does not know: it reads no page.
  for (unsigned space : {21u, 47u, 255u}) {
    cups_page_header2_t h = card;
    h.cupsColorSpace = cups_cspace_t(space);
    Expect("unknown to libcups", RawRaster({{h, PixelsFor(h)}}), {1, kRefused, {kNoPages}});
  }
}

TEST(InputFaults, HeightsThatWrapPastThePageAreRefused) {
  // Page top is page height - bottom - cupsHeight: with a 500-pixel bottom
  // margin a cupsHeight of 2^32 - 1 wraps it back into the page in 32 bits.
  PageSpec spec = Grey();
  spec.pageHeight = 1013;
  spec.bottom = 500;
  spec.height = 513;
  const cups_page_header2_t fits = HeaderOf(spec);
  struct Case {
    const char* name;
    uint32_t height;
    bool margin;
  } cases[] = {
      {"wrapped with a bottom margin", 0xFFFFFFFFu, true},
      {"wrapped without margins", 0xFFFFFFFFu, false},
      {"one line taller than page less its margin", 514, true},
  };
  for (const Case& c : cases) {
    cups_page_header2_t h = fits;
    h.cupsHeight = c.height;
    if (!c.margin) h.cupsImagingBBox[1] = 0;
    Expect(c.name, RawRaster({{h, Bytes(6000, 0x80)}}),
           {1, kRefused, {kUnsupported, "DEBUG: Bad bottom/left/top margin on page 1.\n"}});
  }
  Expect("exactly the page less its margin", RawRaster({{fits, PixelsFor(fits)}}),
         {0, kOneCard, {"test page_top: 0\n", "test page_bottom: 500\n"}});
}

namespace {

// The "$PTS" bytes a one-page job sends, with the colour style that adds no
// offsets, so that a grey page stays grey.
Bytes PrintCommandOf(const PageSpec& page) {
  faultrelay::RelaySetup setup;
  setup.args[4] = "ColorStyle=NotUse";
  setup.stdinBytes = WriteRaster({page});
  const faultrelay::RelayRun run = faultrelay::Run(setup);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  for (const vkrsim::Frame& f : run.frames)
    if (f.code == "$PTS") return f.params;
  ADD_FAILURE() << "no print command";
  return {};
}

}  // namespace

TEST(InputFaults, GreySrgbAndAdobeRgbPagesPrintAsTheirRgbPage) {
  // Grey levels in bands; a grey pixel v is the RGB pixel (v, v, v), so each
  // page must give the very bytes of its RGB page: sRGB and AdobeRGB as they
  // are, W and SW replicated, K inverted (0 is white) and replicated, 16-bit
  // samples by their high byte (the low byte differs), 1-bit pages as black
  // and white.
  static const uint8_t kLevels[] = {0, 90, 200, 255};
  PageSpec bands = Grey();
  bands.pixel = [](int x, int y) {
    const uint8_t v = kLevels[(x / 40 + y / 50) % 4];
    return Rgb{v, v, v};
  };
  PageSpec twoTone = bands;
  twoTone.pixel = [](int x, int y) {
    const uint8_t v = ((x / 3 + y / 7) % 2) ? 255 : 0;
    return Rgb{v, v, v};
  };
  const Bytes reference = PrintCommandOf(bands);
  const Bytes twoToneReference = PrintCommandOf(twoTone);
  struct Case {
    const char* name;
    unsigned space, bits;
    int lowByte;
  } cases[] = {
      {"sRGB", 19, 8, -1},       {"AdobeRGB", 20, 8, -1},  {"W", 0, 8, -1},
      {"SW", 18, 8, -1},         {"K", 3, 8, -1},          {"RGB 16-bit", 1, 16, 0x11},
      {"K 16-bit", 3, 16, 0xEE}, {"W 1-bit", 0, 1, -1},    {"K 1-bit", 3, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PageSpec page = c.bits == 1 ? twoTone : bands;
    page.colorSpace = c.space;
    page.bits = c.bits;
    page.lowByte = c.lowByte;
    const Bytes printed = PrintCommandOf(page);
    EXPECT_TRUE(printed == (c.bits == 1 ? twoToneReference : reference));
  }
  // The reference card itself: panels of card size, grey where the page is.
  std::vector<uint8_t> command = {0x1B, '$', 'P', 'T', 'S', uint8_t(reference.size() >> 24),
                                  uint8_t(reference.size() >> 16), uint8_t(reference.size() >> 8),
                                  uint8_t(reference.size())};
  command.insert(command.end(), reference.begin(), reference.end());
  command.push_back(0x0D);
  const PtsCommand parsed = ParsePts(command);
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const DecodedJpeg colour = DecodeJpeg(parsed.panels.at(0));
  ASSERT_TRUE(colour.ok);
  EXPECT_EQ(colour.width, 1013);
  EXPECT_EQ(colour.height, 643);
  for (int y = 20; y < 643; y += 150) {
    const Rgb m = MeanOf(colour, 480, y, 8);
    EXPECT_LT(std::abs(m.r - m.g) + std::abs(m.g - m.b), 16) << int(m.r) << "," << int(m.g)
                                                             << "," << int(m.b);
  }
}

TEST(InputFaults, DebugFilesNeverFollowALinkOrWriteAnotherUsersFile) {
  // The image log and the dumps have fixed names in a shared folder. A link
  // planted there, or a file of another user, is left as it was: the image
  // log fails the job before anything is printed (as a log that cannot be
  // created does); a refused dump is skipped and the card is printed.
  const bool root = geteuid() == 0;
  const char* kDumps[] = {"testfile_Decode_1_0", "testfile_MakeShapening_1_2000",
                          "testfile_linux_ptsdata_1_100"};
  struct Case {
    const char* name;
    bool link;        // a link to a file elsewhere; else another user's file
    bool imageLog;    // planted under the image log's name; else the dumps'
  } cases[] = {{"linked image log", true, true},
               {"another user's image log", false, true},
               {"linked dumps", true, false},
               {"another user's dumps", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.link && !root) continue;  // only root can give a file away
    const std::string dir = vkrtest::MakeTempDir();
    std::vector<std::string> names;
    if (c.imageLog) names.push_back("test_pwg.raster");
    else names.assign(std::begin(kDumps), std::end(kDumps));
    std::vector<std::string> victims;
    for (const std::string& name : names) {
      const std::string victim = dir + "/victim_" + name;
      const int fd = open(victim.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      ASSERT_EQ(write(fd, "keep", 4), 4);
      close(fd);
      if (c.link) {
        ASSERT_EQ(symlink(victim.c_str(), (dir + "/" + name).c_str()), 0);
      } else {
        ASSERT_EQ(rename(victim.c_str(), (dir + "/" + name).c_str()), 0);
        ASSERT_EQ(chmod((dir + "/" + name).c_str(), 0666), 0);
        ASSERT_EQ(chown((dir + "/" + name).c_str(), 65534, 65534), 0);
        victims.push_back(dir + "/" + name);
        continue;
      }
      victims.push_back(victim);
    }
    vkrtest::FilterSetup setup;
    setup.tmpDir = dir;
    setup.Options("CardBlackCheck=Check");
    setup.stdinBytes = WriteRaster({Grey()});
    const vkrtest::FilterRun run = vkrtest::RunFilter(setup);
    for (const std::string& victim : victims) {
      char kept[16] = {0};
      const int fd = open(victim.c_str(), O_RDONLY | O_NOFOLLOW);
      EXPECT_GE(fd, 0) << victim;
      EXPECT_EQ(read(fd, kept, sizeof(kept)), 4) << victim;
      EXPECT_STREQ(kept, "keep");
      close(fd);
    }
    if (c.imageLog) {
      EXPECT_EQ(run.exitStatus, 1);
      EXPECT_TRUE(run.LogHas("DEBUG: Image log /tmp/test_pwg.raster not written: ")) << run.log;
      EXPECT_NE(run.PrinterText().find("test_pwg.raster FAIL ("), std::string::npos);
      EXPECT_EQ(run.Codes(), kRefused);
    } else {
      EXPECT_EQ(run.exitStatus, 0) << run.log;
      EXPECT_EQ(run.Codes(), kOneCard);
      for (const std::string& name : names)
        EXPECT_TRUE(run.LogHas("DEBUG: Debug file /tmp/" + name + " not written: ")) << name;
      // The files it did write are its own user's alone.
      int written = 0;
      DIR* folder = opendir(dir.c_str());
      ASSERT_NE(folder, nullptr);
      while (const dirent* e = readdir(folder)) {
        struct stat st;
        const std::string name = e->d_name;
        if (name.rfind("test", 0) != 0 ||
            lstat((dir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid())
          continue;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
        ++written;
      }
      closedir(folder);
      EXPECT_GE(written, 3);  // the image log and at least two dumps
    }
    vkrtest::RemoveTree(dir);
  }
}
