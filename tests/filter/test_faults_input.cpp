// The input side of the fault matrix, through the real filter and the
// simulator: raster streams cut short at every stage, empty and zero-sized
// pages, line lengths that disagree with the width, sizes whose 32-bit
// products overflow, pages of different sizes in one job, colour spaces and
// depths the filter refuses, an empty file and random bytes. Each ends in
// its defined outcome: the stated lines and exit 1, or a completed job;
// never a signal, a hang or a partial command.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fcntl.h>
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

  // No whole page header: the stream has no first page; nothing is printed
  // and the job ends as an empty one.
  Expect("sync word only", cutTo(4), {0, kNoCard, {}});
  Expect("inside the first header", cutTo(4 + 900), {0, kNoCard, {}});
  // A header and part of a line.
  Expect("inside the first line", cutTo(kHeaderBytes + 100),
         {1, kRefused, {kReadError, "DEBUG: Unable to read line 1 for page 1.\n"}});
  Expect("mid page", cutTo(kHeaderBytes + kLineBytes * 500 + 7),
         {1, kRefused, {kReadError, "DEBUG: Unable to read line 501 for page 1.\n"}});
  Expect("last line of the page", cutTo(4 + page - 1),
         {1, kRefused, {kReadError, "DEBUG: Unable to read line 1013 for page 1.\n"}});
  // The first card is whole: it is printed, and the cut second page ends
  // the job as its stage says.
  Expect("inside the second header", cutTo(4 + page + 500), {0, kOneCard, {}});
  Expect("inside the second page", cutTo(4 + page + kHeaderBytes - 4 + kLineBytes * 10),
         {1, {"$PJS", "!GVT", "!CRS", "$PTS"},
          {kReadError, "DEBUG: Unable to read line 11 for page 2.\n"}});
}

TEST(InputFaults, EmptyInputAndRandomBytesPrintNothing) {
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
    Expect("random bytes", noise, {0, kNoCard, {}});
  }
}

TEST(InputFaults, RandomBytesBehindAValidSyncWordEndCleanly) {
  // Whatever the header fields say, the job either refuses the page, reads
  // nothing, or fails to read its lines: it ends with 0 or with an ERROR
  // line and 1, in time, and sends no card made of noise.
  std::mt19937 random(7);
  for (const uint32_t sync : {CUPS_RASTER_SYNCv1, CUPS_RASTER_SYNC, CUPS_RASTER_SYNCv2}) {
    for (int i = 0; i < 4; ++i) {
      Bytes input(4);
      memcpy(input.data(), &sync, 4);
      for (int k = 0; k < 30000; ++k) input.push_back(uint8_t(random()));
      const faultrelay::RelayRun run = RunWith(input);
      SCOPED_TRACE(i);
      EXPECT_FALSE(run.timedOut);
      EXPECT_TRUE(run.exitStatus == 0 || run.exitStatus == 1) << run.exitStatus;
      if (run.exitStatus == 1) {
        EXPECT_TRUE(run.LogHas("ERROR: ")) << run.log;
      }
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
    Expect("zero height", RawRaster({{h, {}}}), {0, kNoCard, {}});
    h = card;
    h.cupsWidth = 0;
    h.cupsBytesPerLine = 0;
    Expect("zero width", RawRaster({{h, {}}}), {0, kNoCard, {}});
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
    // A pixel more or less a line than the width holds: the page frame
    // decides; longer lines are cut at the page's edge, shorter ones leave
    // the rest of the line white. The card is printed either way.
    cups_page_header2_t h = card;
    h.cupsBytesPerLine = card.cupsBytesPerLine + 3;
    Expect("longer lines", RawRaster({{h, PixelsFor(h)}}),
           {0, kOneCard, {"test linesize: 1929\n", "VKCL_PTSEx nTxSize 1954077, dw 643, dh 1013\n"}});
    h.cupsBytesPerLine = card.cupsBytesPerLine - 3;
    Expect("shorter lines", RawRaster({{h, PixelsFor(h)}}),
           {0, kOneCard, {"VKCL_PTSEx nTxSize 1954077, dw 643, dh 1013\n"}});
    // Not whole pixels: libcups reads no page from such a header.
    h.cupsBytesPerLine = card.cupsBytesPerLine + 1;
    Expect("partial pixel", RawRaster({{h, PixelsFor(h)}}), {0, kNoCard, {}});
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
    Expect("unknown to libcups", RawRaster({{h, PixelsFor(h)}}), {0, kNoCard, {}});
  }
  // Accepted colour spaces that are not printed: read, then dropped.
  for (unsigned space : {0u, 3u, 18u, 48u, 62u}) {
    cups_page_header2_t h = card;
    h.cupsColorSpace = cups_cspace_t(space);
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = 643;
    Expect("not printed", RawRaster({{h, PixelsFor(h)}}), {0, kNoCard, {"Copy raster data..."}});
  }
}
