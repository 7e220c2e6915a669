// Panel preparation of whole card sides: orientation, scaling, the panel
// table across the sides of a card, delivery of the colour panel, the guards
// on page size and output capacity, and the image-log dump files.
#include <glob.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "pipeline_support.h"
#include "pts_support.h"

namespace {

// A portrait card page with a near-black text bar in a colour picture.
Rgb CardPixel(int column, int line) {
  if (line >= 100 && line < 110 && column >= 50 && column < 300) return Rgb{4, 4, 4};
  if (line == 2 && column >= 2 && column < 5) return Rgb{6, 2, 0};
  return Rgb{static_cast<uint8_t>(column * 3 + line), static_cast<uint8_t>(line / 5),
             static_cast<uint8_t>(200 - column / 4)};
}

struct Side {
  int result = 0;
  std::string log;
  std::vector<uint8_t> out;
  bool Untouched() const {
    return std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAA; });
  }
};

// Prepares a side from freshly loaded options (unless reload is false); the
// output buffer is filled with 0xAA beforehand.
Side Prepare(TestCtrl& c, int colorType, const std::vector<uint8_t>& bmp, int width, int height,
             size_t capacity = 0, bool reload = true) {
  Side s;
  s.out.assign(capacity ? capacity : bmp.size() + 8 * height + 1000, 0xAA);
  if (reload) c.LoadOptions();
  s.log = StderrOf([&] {
    s.result = c.MakeImageBuf(colorType, bmp.empty() ? nullptr : bmp.data(),
                              static_cast<int>(bmp.size()), width, height, s.out.data(), s.out.size());
  });
  return s;
}

std::vector<int> Table(const CVKCtrl_Print& c) { return std::vector<int>(c.nFileSize, c.nFileSize + 12); }

// A panel table with these entries at 256, the rest 0.
std::vector<int> Entries(std::initializer_list<int> set) {
  std::vector<int> t(12, 0);
  for (int i : set) t[i] = 256;
  return t;
}

}  // namespace

TEST(CardSide, OrientationPutsTheFirstRasterLineInTheLeftColumn) {
  // A 5 x 3 page where every pixel is different.
  auto pixel = [](int column, int line) {
    return Rgb{uint8_t(10 * line + column), uint8_t(100 + column), uint8_t(200 + line)};
  };
  TestCtrl c(NeutralJobOptions());
  // The log shows the device options next to differing working copies.
  c.option.nRibbon = 4;
  c.option.nCheck = 3;
  c.LoadOptions();
  c.m_nRibbon = c.m_nCheck = 0;
  Side s = Prepare(c, 16, PageBmp(5, 3, pixel), 5, 3, 0, false);
  EXPECT_TRUE(Has(s.log, "[->] MakeImageBuf g_Dev.poption.nRibbon : 4 (0)\r\n"
                         "[->] MakeImageBuf g_Dev.poption.nCheck : 3 (0) [0]\r\n"));
  EXPECT_TRUE(Has(s.log, "[->][->][poption.nRibbon(4), m_nRibbon(0x00) ]\n"));
  EXPECT_TRUE(Has(s.log, "[->]pszTxBuffer[dh 3][dw 5 di 5 bpp 24]\n[->][outputarray_Log 10]\n66 77 ")) << s.log;
  const CxImage& card = c.m_srcImg;
  ASSERT_EQ(SizeOf(card), "3x5");
  // Stored pixel (x, y) is the page pixel at column y of raster line x: shown
  // with row 0 at the bottom, the top-left pixel is the last one of line 0.
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 5; ++y) EXPECT_EQ(PixelAt(card, x, y), pixel(y, x)) << x << "," << y;
  EXPECT_EQ(card.GetXDPI(), 300);
  EXPECT_EQ(card.GetYDPI(), 300);
  EXPECT_EQ(card.GetJpegQuality(), 100);
  EXPECT_EQ(s.result, 20);
  EXPECT_TRUE(Has(s.log, "[->][MakeImageBuf " + std::to_string(54 + 3 * 16) +
                             " nColorType 16 m_srcImg 3]\n"));
}

TEST(CardSide, OnlyPagesWiderThan1000PixelsAreScaled) {
  TestCtrl c(NeutralJobOptions());
  auto flat = [](int, int) { return Rgb{90, 120, 150}; };
  Side s = Prepare(c, 16, PageBmp(1000, 4, flat), 1000, 4);
  EXPECT_EQ(SizeOf(c.m_srcImg), "4x1000");
  EXPECT_FALSE(Has(s.log, "Resample"));

  s = Prepare(c, 16, PageBmp(1001, 4, flat), 1001, 4);
  EXPECT_EQ(SizeOf(c.m_srcImg), "1013x643");
  EXPECT_TRUE(Has(s.log, "srcImg (nGetWidth 1001, nGetHeight 4)\n"
                         "Resample (nGetWidth 643, nGetHeight 1013)\n"));
  EXPECT_EQ(PixelAt(c.m_srcImg, 500, 300), (Rgb{90, 120, 150}));
}

TEST(CardSide, OneSidedCardDeliversA1013x643JpegAndItsPanels) {
  TestCtrl c(DefaultJobOptions());
  c.nFileSize[5] = 256;  // left over from an earlier card
  Side s = Prepare(c, 0, PageBmp(643, 1013, CardPixel), 643, 1013);
  ASSERT_GT(s.result, 2);
  EXPECT_EQ(s.out[0], 0xFF);
  EXPECT_EQ(s.out[1], 0xD8);
  DecodedJpeg jpeg = DecodeJpeg(std::vector<uint8_t>(s.out.begin(), s.out.begin() + s.result));
  ASSERT_TRUE(jpeg.ok);
  EXPECT_EQ(jpeg.width, 1013);
  EXPECT_EQ(jpeg.height, 643);
  // Front black and overlay announced, everything else clear.
  EXPECT_EQ(Table(c), Entries({2, 3}));
  EXPECT_EQ(c.m_nPage, 1);
  EXPECT_EQ(c.m_nLogImage, 0);
  EXPECT_TRUE(Has(s.log, "[->][nTxSize " + std::to_string(s.result) + " (1)]\n[->][pImgBuffer FF D8 FF "));
  EXPECT_TRUE(Has(s.log, "[->][MakeImageBuf " + std::to_string(54 + 1932 * 1013) + " nColorType 0]\n"
                         "[->] MakeImageBuf g_Dev.poption.nRibbon : 0 (0)\r\n"
                         "[->] MakeImageBuf g_Dev.poption.nCheck : 0 (0) [0]\r\n"));
}

TEST(CardSide, TwoSidedCardKeepsTheFrontEntriesWhileTheBackIsPrepared) {
  TestCtrl c(DefaultJobOptions());
  c.option.nBOverlay = 2;
  const std::vector<uint8_t> page = PageBmp(643, 1013, CardPixel);
  EXPECT_EQ(Prepare(c, 16, page, 643, 1013).result, 20);
  EXPECT_EQ(Table(c), Entries({2, 3}));
  EXPECT_EQ(c.m_srcImg.GetWidth(), 1013u);

  Side back = Prepare(c, 32, page, 643, 1013);
  EXPECT_EQ(back.result, 20);
  EXPECT_EQ(Table(c), Entries({2, 3, 5, 6}));
  EXPECT_FALSE(Has(back.log, "MakeInit"));
  EXPECT_TRUE(c.m_srcImg2.IsValid());
  EXPECT_TRUE(c.m_srcImgK2.IsValid());
  // The back overlay is the stripe mask, the front one full.
  EXPECT_EQ(PixelAt(c.m_srcImgO2, 0, 642 - 500), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(c.m_srcImgO, 0, 642 - 500), (Rgb{0, 0, 0}));

  // The next card starts over.
  c.option.nBlackUse = 0;
  Prepare(c, 0, page, 643, 1013);
  EXPECT_EQ(Table(c), Entries({2}));
}

TEST(CardSide, BlackRibbonsGetTheMonochromePictureAndNoOtherPanels) {
  TestCtrl c(DefaultJobOptions());
  c.option.nRibbon = 11;
  Side s = Prepare(c, 16, PageBmp(643, 1013, CardPixel), 643, 1013);
  EXPECT_TRUE(Has(s.log, "[->][Rewrite Erase : Create black image]\n"));
  EXPECT_TRUE(Has(s.log, "[->][->][poption.nRibbon(11), m_nRibbon(0x0b) ]\n"));
  ASSERT_EQ(c.m_srcImg.GetWidth(), 1013u);
  for (int y = 0; y < 643; y += 7)
    for (int x = 0; x < 1013; x += 5) ASSERT_EQ(PixelAt(c.m_srcImg, x, y), (Rgb{0, 0, 0}));
  EXPECT_EQ(Table(c), Entries({}));
  EXPECT_FALSE(Has(s.log, "UseDefault"));

  // Black ribbon: full-red colours stay, the rest turns black.
  c.option.nRibbon = 4;
  Prepare(c, 16, PageBmp(6, 6, [](int col, int) {
            return col < 3 ? Rgb{255, 255, 0} : Rgb{128, 128, 128};
          }), 6, 6);
  EXPECT_EQ(PixelAt(c.m_srcImg, 0, 0), (Rgb{255, 255, 0}));
  EXPECT_EQ(PixelAt(c.m_srcImg, 0, 5), (Rgb{0, 0, 0}));
  EXPECT_EQ(Table(c), Entries({}));
}

TEST(CardSide, BufferThatIsNotABmpGivesAWhiteCard) {
  TestCtrl c(DefaultJobOptions());
  Side s = Prepare(c, 16, std::vector<uint8_t>(2000, 0), 643, 1013);
  ASSERT_EQ(c.m_srcImg.GetWidth(), 1013u);
  // White stays white through the chain except for the colour balance.
  Rgb first = PixelAt(c.m_srcImg, 0, 0);
  for (int y = 0; y < 643; y += 9)
    for (int x = 0; x < 1013; x += 11) ASSERT_EQ(PixelAt(c.m_srcImg, x, y), first);
  EXPECT_EQ(Table(c), Entries({2}));
  EXPECT_TRUE(Has(s.log, "Black Panel - dot count = 0"));

  // No buffer at all reads the same way.
  TestCtrl n(NeutralJobOptions());
  Prepare(n, 16, {}, 8, 6, 64);
  ASSERT_EQ(n.m_srcImg.GetWidth(), 6u);
  EXPECT_EQ(PixelAt(n.m_srcImg, 3, 3), (Rgb{255, 255, 255}));
}

TEST(CardSide, PageOfAnotherSizeOrDepthThanAnnouncedFailsTheSide) {
  TestCtrl c(DefaultJobOptions());
  // A good front first, so there is something that must not survive.
  Prepare(c, 16, PageBmp(8, 6, CardPixel), 8, 6);
  ASSERT_TRUE(c.m_srcImg.IsValid());
  const std::vector<uint8_t> bmp = PageBmp(10, 10, CardPixel);
  struct Case {
    int type, width, height;
  } cases[] = {{16, 12, 10}, {0, 10, 12}, {32, 9, 10}, {0, 10, 9}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.type << " " << k.width << "x" << k.height);
    c.nFileSize[2] = c.nFileSize[3] = c.nFileSize[5] = c.nFileSize[6] = 256;
    Side s = Prepare(c, k.type, bmp, k.width, k.height);
    EXPECT_EQ(s.result, 0);
    EXPECT_TRUE(s.Untouched());
    EXPECT_TRUE(Has(s.log, "[->][MakeImageBuf failed: page image is 10 x 10 at 24 bpp, expected " +
                               std::to_string(k.width) + " x " + std::to_string(k.height) +
                               " at 24 bpp; side not prepared]\n"))
        << s.log;
    EXPECT_TRUE(Has(s.log, "[->][nTxSize 0 (0)]\n"));
    if (k.type == 32) {
      EXPECT_FALSE(c.m_srcImg2.IsValid());
      EXPECT_EQ(Table(c), Entries({2, 3}));
    } else {
      EXPECT_EQ(Table(c), Entries({}));
    }
    if (k.type == 16) {
      EXPECT_FALSE(c.m_srcImg.IsValid());
    }
  }

  // An 8-bit BMP of the announced size: its rows are one byte a pixel, so
  // the byte exchange must not walk it as 24-bit rows.
  Side s = Prepare(c, 0, BmpHeader(16, 4, 8, 16, 1024), 16, 4);
  EXPECT_EQ(s.result, 0);
  EXPECT_TRUE(Has(s.log, "page image is 16 x 4 at 8 bpp, expected 16 x 4 at 24 bpp"));
  EXPECT_TRUE(s.Untouched());
}

// A page BMP as the card-side submission builds it is turned from its rows
// where they are; the panels are those of the same page decoded (here made
// to take the decoder by one pixel a metre less, which keeps 96 dpi), and a
// file one byte short of its rows is still left to the decoder, which
// refuses it.
TEST(CardSide, PageTurnedFromItsBmpRowsEqualsTheDecodedPage) {
  TestCtrl plain(DefaultJobOptions()), decoded(DefaultJobOptions());
  const std::vector<uint8_t> page = PageBmp(643, 1013, CardPixel);
  std::vector<uint8_t> other = page;
  Put32(other, 38, 3779);
  const Side a = Prepare(plain, 0, page, 643, 1013);
  const Side b = Prepare(decoded, 0, other, 643, 1013);
  ASSERT_GT(a.result, 100);
  EXPECT_EQ(a.result, b.result);
  EXPECT_TRUE(a.out == b.out);
  ASSERT_TRUE(plain.m_srcImgK.IsValid() && decoded.m_srcImgK.IsValid());
  EXPECT_EQ(memcmp(plain.m_srcImgK.GetBits(0), decoded.m_srcImgK.GetBits(0),
                   size_t(plain.m_srcImgK.GetEffWidth()) * plain.m_srcImgK.GetHeight()), 0);

  // Short rows do not decode: the side is prepared from a white page.
  std::vector<uint8_t> cut(page.begin(), page.end() - 1);
  const Side c = Prepare(plain, 0, cut, 643, 1013);
  const Side white = Prepare(decoded, 0, PageBmp(643, 1013, [](int, int) { return Rgb{255, 255, 255}; }), 643, 1013);
  ASSERT_EQ(c.result, white.result);
  EXPECT_TRUE(std::equal(c.out.begin(), c.out.begin() + c.result, white.out.begin()));
}

TEST(CardSide, JpegNeverGoesPastTheOutputCapacity) {
  TestCtrl c(DefaultJobOptions());
  const std::vector<uint8_t> bmp = PageBmp(8, 6, CardPixel);
  Side roomy = Prepare(c, 0, bmp, 8, 6);
  const int n = roomy.result;
  ASSERT_GT(n, 100);
  Side exact = Prepare(c, 0, bmp, 8, 6, static_cast<size_t>(n));
  EXPECT_EQ(exact.result, n);
  EXPECT_TRUE(std::equal(exact.out.begin(), exact.out.end(), roomy.out.begin()));

  Side tight = Prepare(c, 0, bmp, 8, 6, static_cast<size_t>(n - 1));
  EXPECT_EQ(tight.result, 0);
  EXPECT_TRUE(tight.Untouched());
  EXPECT_TRUE(Has(tight.log, "does not fit the " + std::to_string(n - 1) + "-byte output buffer"));
  EXPECT_EQ(Table(c), Entries({}));
}

namespace {

// Dump files of a page, keyed "tag#number".
std::map<std::string, std::string> DumpFiles(int page) {
  std::map<std::string, std::string> byTag;
  const std::string middle = "_" + std::to_string(page) + "_";
  glob_t g;
  if (glob(("/tmp/testfile_*" + middle + "*").c_str(), 0, nullptr, &g) == 0)
    for (size_t i = 0; i < g.gl_pathc; ++i) {
      std::string f = g.gl_pathv[i];
      size_t at = f.find(middle);
      byTag[f.substr(14, at - 14) + "#" + f.substr(at + middle.size())] = f;
    }
  globfree(&g);
  return byTag;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(ImageLog, DumpsAppearUnderTmpOnlyWhenChecked) {
  const std::vector<uint8_t> bmp = PageBmp(8, 6, CardPixel);
  {  // Without the check no file appears, although construction set level 2.
    TestCtrl c(DefaultJobOptions());
    c.m_nPage = UniquePage(5) - 1;
    Prepare(c, 0, bmp, 8, 6);
    EXPECT_EQ(c.m_nLogImage, 0);
    EXPECT_TRUE(DumpFiles(c.m_nPage).empty());
  }
  TestCtrl c(DefaultJobOptions());
  c.option.nCheck = 1;
  c.m_nPage = UniquePage(6) - 1;
  Side s = Prepare(c, 0, bmp, 8, 6);
  const int page = c.m_nPage;
  ASSERT_GT(s.result, 0);
  std::map<std::string, std::string> files = DumpFiles(page);
  for (const char* fixed : {"Decode#0", "MakeColorK#1000", "MakeColorK#1001", "MakeColorK#1002",
                            "MakeColorK2#1002", "MakeShapening#2000", "MakeShapening#2001"})
    EXPECT_EQ(files.count(fixed), 1u) << fixed;
  // The input buffer and the JPEG, numbered from the time of the call.
  int macNumber = 0, jpegNumber = 0;
  for (const auto& kv : files) {
    if (kv.first.rfind("mac#", 0) == 0) {
      EXPECT_EQ(ReadFile(kv.second), bmp);
      macNumber = std::stoi(kv.first.substr(4));
    }
    if (kv.first.rfind("MakeImageBuf#", 0) == 0) {
      EXPECT_EQ(ReadFile(kv.second), std::vector<uint8_t>(s.out.begin(), s.out.begin() + s.result));
      jpegNumber = std::stoi(kv.first.substr(13));
    }
  }
  EXPECT_EQ(jpegNumber, macNumber + page + 20);
  EXPECT_EQ(files.size(), 9u);
  EXPECT_TRUE(Has(s.log, "[->][page " + std::to_string(page) + "  0 Decode]\n"));
  for (const auto& kv : files) unlink(kv.second.c_str());
}
