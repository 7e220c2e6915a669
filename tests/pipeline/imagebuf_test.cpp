// Panel preparation of whole card sides: orientation, scaling, the panel
// table across the sides of a card, the guards on page size and output
// capacity, and the image-log dump files.
#include <glob.h>

#include <algorithm>

#include "pipeline_support.h"
#include "pts_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Table = std::vector<int>;

// A portrait card page with a near-black text bar in a colour picture.
Rgb CardPixel(int column, int line) {
  if (line >= 100 && line < 110 && column >= 50 && column < 300) return Rgb{4, 4, 4};
  if (line == 2 && column >= 2 && column < 5) return Rgb{6, 2, 0};
  return Rgb{uint8_t(column * 3 + line), uint8_t(line / 5), uint8_t(200 - column / 4)};
}

const Bytes& CardPage() {
  static const Bytes page = PageBmp(643, 1013, CardPixel);
  return page;
}

struct Side {
  int result = 0;
  std::string log;
  Bytes out;
  bool Untouched() const {
    return std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAA; });
  }
  Bytes Jpeg() const { return Bytes(out.begin(), out.begin() + result); }
};

// Prepares a side from freshly loaded options (unless reload is false); the
// output buffer is filled with 0xAA beforehand.
Side Prepare(TestCtrl& c, int colorType, const Bytes& bmp, int width, int height,
             size_t capacity = 0, bool reload = true) {
  Side s;
  s.out.assign(capacity ? capacity : bmp.size() + 8 * height + 1000, 0xAA);
  if (reload) c.LoadOptions();
  s.log = StderrOf([&] {
    s.result = c.MakeImageBuf(colorType, bmp.empty() ? nullptr : bmp.data(), int(bmp.size()),
                              width, height, s.out.data(), s.out.size());
  });
  return s;
}

// The panel table as the list of its entries at 256; any other value shows as -1.
Table Entries(const CVKCtrl_Print& c) {
  Table set;
  for (int i = 0; i < 12; ++i)
    if (c.nFileSize[i]) set.push_back(c.nFileSize[i] == 256 ? i : -1);
  return set;
}

}  // namespace

TEST(CardSide, OrientationPutsTheFirstRasterLineInTheLeftColumn) {
  auto pixel = [](int column, int line) {
    return Rgb{uint8_t(10 * line + column), uint8_t(100 + column), uint8_t(200 + line)};
  };
  TestCtrl c(NeutralJobOptions());
  const Side s = Prepare(c, 16, PageBmp(5, 3, pixel), 5, 3);
  EXPECT_EQ(s.result, 20);
  EXPECT_EQ(Entries(c), Table());  // no black, no overlay
  // Stored pixel (x, y) is the page pixel at column y of raster line x: shown
  // with row 0 at the bottom, the top-left pixel is the last one of line 0.
  const CxImage& card = c.m_srcImg;
  ASSERT_EQ(SizeOf(card), "3x5");
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 5; ++y) EXPECT_EQ(PixelAt(card, x, y), pixel(y, x)) << x << "," << y;
  EXPECT_EQ(card.GetXDPI(), 300);
  EXPECT_EQ(card.GetYDPI(), 300);
  EXPECT_EQ(card.GetJpegQuality(), 100);
}

TEST(CardSide, OnlyPagesWiderThan1000PixelsAreScaled) {
  TestCtrl c(NeutralJobOptions());
  auto flat = [](int, int) { return Rgb{90, 120, 150}; };
  EXPECT_FALSE(Has(Prepare(c, 16, PageBmp(1000, 4, flat), 1000, 4).log, "Resample"));
  EXPECT_EQ(SizeOf(c.m_srcImg), "4x1000");
  EXPECT_TRUE(Has(Prepare(c, 16, PageBmp(1001, 4, flat), 1001, 4).log,
                  "srcImg (nGetWidth 1001, nGetHeight 4)\n"
                  "Resample (nGetWidth 643, nGetHeight 1013)\n"));
  EXPECT_EQ(SizeOf(c.m_srcImg), "1013x643");
  EXPECT_EQ(PixelAt(c.m_srcImg, 500, 300), (Rgb{90, 120, 150}));
}

// One controller through the sides of several cards: a one-sided card clears
// what an earlier card left, a back keeps its front's entries, black ribbons
// get the monochrome picture and no other panels.
TEST(CardSide, PanelTableFollowsTheSidesOfEachCard) {
  TestCtrl c(DefaultJobOptions());
  c.nFileSize[5] = 256;  // left over from an earlier card
  Side s = Prepare(c, 0, CardPage(), 643, 1013);
  const DecodedJpeg jpeg = DecodeJpeg(s.Jpeg());
  EXPECT_TRUE(jpeg.ok && jpeg.width == 1013 && jpeg.height == 643);
  EXPECT_EQ(Entries(c), (Table{2, 3}));
  EXPECT_EQ(c.m_nPage, 1);
  EXPECT_TRUE(Has(s.log, "[->][nTxSize " + std::to_string(s.result) + " (1)]\n"));
  c.option.nBOverlay = 2;  // a two-sided card, the stripe on its back
  EXPECT_EQ(Prepare(c, 16, CardPage(), 643, 1013).result, 20);
  EXPECT_EQ(Entries(c), (Table{2, 3}));
  s = Prepare(c, 32, CardPage(), 643, 1013);
  EXPECT_EQ(s.result, 20);
  EXPECT_EQ(Entries(c), (Table{2, 3, 5, 6}));
  EXPECT_FALSE(Has(s.log, "MakeInit"));
  EXPECT_TRUE(c.m_srcImg.IsValid() && c.m_srcImg2.IsValid() && c.m_srcImgK2.IsValid());
  EXPECT_EQ(PixelAt(c.m_srcImgO2, 0, 142), (Rgb{255, 255, 255}));  // the back's stripe mask
  EXPECT_EQ(PixelAt(c.m_srcImgO, 0, 142), (Rgb{0, 0, 0}));
  c.option.nBlackUse = 0;  // a one-sided card without black
  Prepare(c, 0, CardPage(), 643, 1013);
  EXPECT_EQ(Entries(c), (Table{2}));
  c.option.nRibbon = 11;  // a rewritable card
  s = Prepare(c, 16, CardPage(), 643, 1013);
  EXPECT_TRUE(Has(s.log, "[->][Rewrite Erase : Create black image]\n"));
  EXPECT_FALSE(Has(s.log, "UseDefault"));
  for (int y = 0; y < 643; y += 7)
    for (int x = 0; x < 1013; x += 5) ASSERT_EQ(PixelAt(c.m_srcImg, x, y), (Rgb{0, 0, 0}));
  EXPECT_EQ(Entries(c), Table());
  c.option.nRibbon = 4;  // a black ribbon
  Prepare(c, 16, PageBmp(6, 6, [](int col, int) {
            return col < 3 ? Rgb{255, 255, 0} : Rgb{128, 128, 128};
          }), 6, 6);
  EXPECT_EQ(PixelAt(c.m_srcImg, 0, 0), (Rgb{255, 255, 0}));
  EXPECT_EQ(PixelAt(c.m_srcImg, 0, 5), (Rgb{0, 0, 0}));
  EXPECT_EQ(Entries(c), Table());
}

TEST(CardSide, PageOfAnotherSizeOrDepthThanAnnouncedFailsTheSide) {
  TestCtrl c(DefaultJobOptions());
  Prepare(c, 16, PageBmp(8, 6, CardPixel), 8, 6);  // a good front that must not survive
  ASSERT_TRUE(c.m_srcImg.IsValid());
  const Bytes bmp = PageBmp(10, 10, CardPixel);
  struct Case {
    int type, width, height;
    Table entries;
  } cases[] = {{16, 12, 10, {}}, {0, 10, 12, {}}, {32, 9, 10, {2, 3}}, {0, 10, 9, {}}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.type << " " << k.width << "x" << k.height);
    c.nFileSize[2] = c.nFileSize[3] = c.nFileSize[5] = c.nFileSize[6] = 256;
    const Side s = Prepare(c, k.type, bmp, k.width, k.height);
    EXPECT_EQ(s.result, 0);
    EXPECT_TRUE(s.Untouched());
    EXPECT_TRUE(Has(s.log, "[->][MakeImageBuf failed: page image is 10 x 10 at 24 bpp, expected " +
                               std::to_string(k.width) + " x " + std::to_string(k.height) +
                               " at 24 bpp; side not prepared]\n"));
    EXPECT_TRUE(Has(s.log, "[->][nTxSize 0 (0)]\n"));
    EXPECT_EQ(Entries(c), k.entries);
    if (k.type != 0) {
      EXPECT_FALSE((k.type == 32 ? c.m_srcImg2 : c.m_srcImg).IsValid());
    }
  }
  // An 8-bit BMP of the announced size: its rows are one byte a pixel, so
  // the byte exchange must not walk it as 24-bit rows.
  const Side s = Prepare(c, 0, BmpHeader(16, 4, 8, 16, 1024), 16, 4);
  EXPECT_EQ(s.result, 0);
  EXPECT_TRUE(Has(s.log, "page image is 16 x 4 at 8 bpp, expected 16 x 4 at 24 bpp"));
  EXPECT_TRUE(s.Untouched());
}

// A page BMP as the card-side submission builds it is turned from its rows
// where they are; the panels are those of the same page decoded (here made to
// take the decoder by one pixel a metre less, which keeps 96 dpi). A file one
// byte short of its rows, or no file at all, is left to the decoder, which
// refuses it: the side is prepared from a white page.
TEST(CardSide, PageTurnedFromItsBmpRowsEqualsTheDecodedPage) {
  TestCtrl plain(DefaultJobOptions()), decoded(DefaultJobOptions());
  Bytes other = CardPage();
  Put32(other, 38, 3779);
  const Side a = Prepare(plain, 0, CardPage(), 643, 1013);
  const Side b = Prepare(decoded, 0, other, 643, 1013);
  ASSERT_GT(a.result, 100);
  EXPECT_TRUE(a.Jpeg() == b.Jpeg());
  const CxImage &k1 = plain.m_srcImgK, &k2 = decoded.m_srcImgK;
  ASSERT_TRUE(k1.IsValid() && k2.IsValid());
  EXPECT_EQ(memcmp(k1.GetBits(0), k2.GetBits(0), size_t(k1.GetEffWidth()) * k1.GetHeight()), 0);
  const Side cut = Prepare(plain, 0, Bytes(CardPage().begin(), CardPage().end() - 1), 643, 1013);
  const Bytes white = PageBmp(643, 1013, [](int, int) { return Rgb{255, 255, 255}; });
  EXPECT_TRUE(cut.Jpeg() == Prepare(decoded, 0, white, 643, 1013).Jpeg());
  TestCtrl none(NeutralJobOptions());
  Prepare(none, 16, {}, 8, 6, 64);
  ASSERT_EQ(none.m_srcImg.GetWidth(), 6u);
  EXPECT_EQ(PixelAt(none.m_srcImg, 3, 3), (Rgb{255, 255, 255}));
}

// The JPEG goes out when it fits the output exactly; one byte less fails the side.
TEST(CardSide, JpegNeverGoesPastTheOutputCapacity) {
  TestCtrl c(DefaultJobOptions());
  const Bytes bmp = PageBmp(8, 6, CardPixel);
  const Side roomy = Prepare(c, 0, bmp, 8, 6);
  const int n = roomy.result;
  ASSERT_GT(n, 100);
  const Side exact = Prepare(c, 0, bmp, 8, 6, size_t(n));
  EXPECT_EQ(exact.result, n);
  EXPECT_TRUE(std::equal(exact.out.begin(), exact.out.end(), roomy.out.begin()));
  const Side tight = Prepare(c, 0, bmp, 8, 6, size_t(n - 1));
  EXPECT_EQ(tight.result, 0);
  EXPECT_TRUE(tight.Untouched());
  EXPECT_TRUE(Has(tight.log, "does not fit the " + std::to_string(n - 1) + "-byte output"));
  EXPECT_EQ(Entries(c), Table());
}

// Dumps appear under /tmp only when checked, although construction sets level 2.
TEST(ImageLog, DumpsAppearUnderTmpOnlyWhenChecked) {
  auto dumps = [](int page) {
    glob_t g;
    std::vector<std::string> files;
    if (glob(("/tmp/testfile_*_" + std::to_string(page) + "_*").c_str(), 0, nullptr, &g) == 0)
      files.assign(g.gl_pathv, g.gl_pathv + g.gl_pathc);
    globfree(&g);
    return files;
  };
  for (int check : {0, 1}) {
    TestCtrl c(DefaultJobOptions());
    c.option.nCheck = check;
    c.m_nPage = UniquePage(5 + check) - 1;
    Prepare(c, 0, PageBmp(8, 6, CardPixel), 8, 6);
    const std::vector<std::string> files = dumps(c.m_nPage);
    EXPECT_EQ(files.size(), check ? 9u : 0u);
    for (const std::string& f : files) unlink(f.c_str());
  }
}
