// Panel preparation of whole card sides: orientation, scaling, the panel
// table across the sides of a card, delivery of the colour panel, the guards
// on page size and output capacity, and the image-log dump files.
#include <glob.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include <jpeglib.h>

#include "pipeline_support.h"

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
};

Side Prepare(TestCtrl& c, int colorType, const std::vector<uint8_t>& bmp, int width, int height,
             size_t capacity = 0, uint8_t fill = 0) {
  Side s;
  s.out.assign(capacity ? capacity : bmp.size() + 8 * height + 1000, fill);
  c.LoadOptions();
  s.log = StderrOf([&] {
    s.result = c.MakeImageBuf(colorType, bmp.data(), static_cast<int>(bmp.size()), width, height,
                              s.out.data(), s.out.size());
  });
  return s;
}

bool JpegSize(const uint8_t* data, size_t size, int* width, int* height) {
  jpeg_decompress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, const_cast<uint8_t*>(data), static_cast<unsigned long>(size));
  bool ok = jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
  *width = static_cast<int>(info.image_width);
  *height = static_cast<int>(info.image_height);
  jpeg_destroy_decompress(&info);
  return ok;
}

std::vector<int> Table(const CVKCtrl_Print& c) {
  return std::vector<int>(c.nFileSize, c.nFileSize + 12);
}

std::vector<std::string> DumpFiles(int page) {
  std::vector<std::string> files;
  glob_t g;
  std::string pattern = "/tmp/testfile_*_" + std::to_string(page) + "_*";
  if (glob(pattern.c_str(), 0, nullptr, &g) == 0) {
    for (size_t i = 0; i < g.gl_pathc; ++i) files.push_back(g.gl_pathv[i]);
  }
  globfree(&g);
  return files;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(CardSide, OrientationPutsTheFirstRasterLineInTheLeftColumn) {
  // A 5 x 3 page where every pixel is different.
  auto pixel = [](int column, int line) {
    return Rgb{static_cast<uint8_t>(10 * line + column), static_cast<uint8_t>(100 + column),
               static_cast<uint8_t>(200 + line)};
  };
  TestCtrl c;
  c.option = NeutralJobOptions();
  Side s = Prepare(c, 16, PageBmp(5, 3, pixel), 5, 3);
  const CxImage& card = c.m_srcImg;
  ASSERT_TRUE(card.IsValid());
  ASSERT_EQ(card.GetWidth(), 3u);
  ASSERT_EQ(card.GetHeight(), 5u);
  // Stored pixel (x, y) is the page pixel at column y of raster line x.
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 5; ++y) EXPECT_EQ(PixelAt(card, x, y), pixel(y, x)) << x << "," << y;
  // Shown with row 0 at the bottom, the top-left pixel is the last pixel of
  // the first line.
  EXPECT_EQ(PixelAt(card, 0, 4), pixel(4, 0));
  EXPECT_EQ(card.GetXDPI(), 300);
  EXPECT_EQ(card.GetYDPI(), 300);
  EXPECT_EQ(card.GetJpegQuality(), 100);
  EXPECT_EQ(s.result, 20);
  EXPECT_NE(s.log.find("[->][MakeImageBuf " + std::to_string(54 + 3 * 16) +
                       " nColorType 16 m_srcImg 3]\n"),
            std::string::npos);
}

TEST(CardSide, PureRedPageKeepsItsRed) {
  TestCtrl c;
  c.option = NeutralJobOptions();
  Prepare(c, 32, PageBmp(4, 4, [](int, int) { return Rgb{255, 0, 0}; }), 4, 4);
  ASSERT_TRUE(c.m_srcImg2.IsValid());
  const uint8_t* p = c.m_srcImg2.GetBits(0);
  EXPECT_EQ(p[2], 255);  // red byte
  EXPECT_EQ(p[0], 0);    // blue byte
}

TEST(CardSide, OnlyPagesWiderThan1000PixelsAreScaled) {
  TestCtrl c;
  c.option = NeutralJobOptions();
  auto flat = [](int, int) { return Rgb{90, 120, 150}; };
  Side s = Prepare(c, 16, PageBmp(1000, 4, flat), 1000, 4);
  EXPECT_EQ(c.m_srcImg.GetWidth(), 4u);
  EXPECT_EQ(c.m_srcImg.GetHeight(), 1000u);
  EXPECT_EQ(s.log.find("Resample"), std::string::npos);

  s = Prepare(c, 16, PageBmp(1001, 4, flat), 1001, 4);
  EXPECT_EQ(c.m_srcImg.GetWidth(), 1013u);
  EXPECT_EQ(c.m_srcImg.GetHeight(), 643u);
  EXPECT_NE(s.log.find("srcImg (nGetWidth 1001, nGetHeight 4)\n"
                       "Resample (nGetWidth 643, nGetHeight 1013)\n"),
            std::string::npos);
  EXPECT_EQ(PixelAt(c.m_srcImg, 500, 300), (Rgb{90, 120, 150}));
}

TEST(CardSide, OneSidedCardDeliversA1013x643JpegAndItsPanels) {
  TestCtrl c;
  c.option = DefaultJobOptions();
  c.nFileSize[5] = 256;  // left over from an earlier card
  Side s = Prepare(c, 0, PageBmp(643, 1013, CardPixel), 643, 1013);
  ASSERT_GT(s.result, 2);
  EXPECT_EQ(s.out[0], 0xFF);
  EXPECT_EQ(s.out[1], 0xD8);
  int w = 0, h = 0;
  ASSERT_TRUE(JpegSize(s.out.data(), static_cast<size_t>(s.result), &w, &h));
  EXPECT_EQ(w, 1013);
  EXPECT_EQ(h, 643);
  // Panel table: front black and overlay announced, everything else clear.
  std::vector<int> want(12, 0);
  want[2] = 256;
  want[3] = 256;
  EXPECT_EQ(Table(c), want);
  EXPECT_EQ(c.m_nPage, 1);
  EXPECT_EQ(c.m_nLogImage, 0);
  char tail[64];
  snprintf(tail, sizeof(tail), "[->][nTxSize %d (1)]\n[->][pImgBuffer FF D8 FF ", s.result);
  EXPECT_NE(s.log.find(tail), std::string::npos);
  EXPECT_NE(s.log.find("[->][MakeImageBuf " + std::to_string(54 + 1932 * 1013) + " nColorType 0]\n"
                       "[->] MakeImageBuf g_Dev.poption.nRibbon : 0 (0)\r\n"
                       "[->] MakeImageBuf g_Dev.poption.nCheck : 0 (0) [0]\r\n"),
            std::string::npos);
}

TEST(CardSide, TwoSidedCardKeepsTheFrontEntriesWhileTheBackIsPrepared) {
  TestCtrl c;
  c.option = DefaultJobOptions();
  c.option.nBOverlay = 2;
  const std::vector<uint8_t> page = PageBmp(643, 1013, CardPixel);
  Side front = Prepare(c, 16, page, 643, 1013);
  EXPECT_EQ(front.result, 20);
  std::vector<int> want(12, 0);
  want[2] = want[3] = 256;
  EXPECT_EQ(Table(c), want);
  EXPECT_EQ(c.m_srcImg.GetWidth(), 1013u);

  Side back = Prepare(c, 32, page, 643, 1013);
  EXPECT_EQ(back.result, 20);
  want[5] = want[6] = 256;
  EXPECT_EQ(Table(c), want);
  EXPECT_EQ(back.log.find("MakeInit"), std::string::npos);
  EXPECT_TRUE(c.m_srcImg2.IsValid());
  EXPECT_TRUE(c.m_srcImgK2.IsValid());
  EXPECT_TRUE(c.m_srcImgO2.IsValid());
  // The back overlay is the stripe mask, the front one full.
  EXPECT_EQ(PixelAt(c.m_srcImgO2, 0, 642 - 500), (Rgb{255, 255, 255}));
  EXPECT_EQ(PixelAt(c.m_srcImgO, 0, 642 - 500), (Rgb{0, 0, 0}));

  // The next card starts over.
  c.option.nBlackUse = 0;
  Prepare(c, 0, page, 643, 1013);
  want.assign(12, 0);
  want[2] = 256;
  EXPECT_EQ(Table(c), want);
}

TEST(CardSide, BlackRibbonsGetTheMonochromePictureAndNoOtherPanels) {
  TestCtrl c;
  c.option = DefaultJobOptions();
  c.option.nRibbon = 11;
  Side s = Prepare(c, 16, PageBmp(643, 1013, CardPixel), 643, 1013);
  EXPECT_NE(s.log.find("[->][Rewrite Erase : Create black image]\n"), std::string::npos);
  EXPECT_NE(s.log.find("[->][->][poption.nRibbon(11), m_nRibbon(0x0b) ]\n"), std::string::npos);
  ASSERT_EQ(c.m_srcImg.GetWidth(), 1013u);
  for (int y = 0; y < 643; y += 7)
    for (int x = 0; x < 1013; x += 5) ASSERT_EQ(PixelAt(c.m_srcImg, x, y), (Rgb{0, 0, 0}));
  EXPECT_EQ(Table(c), std::vector<int>(12, 0));
  EXPECT_EQ(s.log.find("UseDefault"), std::string::npos);

  // Black ribbon: full-red colours stay, the rest turns black.
  c.option.nRibbon = 4;
  Prepare(c, 16, PageBmp(6, 6, [](int col, int) {
            return col < 3 ? Rgb{255, 255, 0} : Rgb{128, 128, 128};
          }), 6, 6);
  EXPECT_EQ(PixelAt(c.m_srcImg, 0, 0), (Rgb{255, 255, 0}));
  EXPECT_EQ(PixelAt(c.m_srcImg, 0, 5), (Rgb{0, 0, 0}));
  EXPECT_EQ(Table(c), std::vector<int>(12, 0));
}

TEST(CardSide, BufferThatIsNotABmpGivesAWhiteCard) {
  TestCtrl c;
  c.option = DefaultJobOptions();
  std::vector<uint8_t> zeros(2000, 0);
  Side s = Prepare(c, 16, zeros, 643, 1013);
  ASSERT_EQ(c.m_srcImg.GetWidth(), 1013u);
  // White stays white through the chain except for the colour balance.
  Rgb first = PixelAt(c.m_srcImg, 0, 0);
  for (int y = 0; y < 643; y += 9)
    for (int x = 0; x < 1013; x += 11) ASSERT_EQ(PixelAt(c.m_srcImg, x, y), first);
  EXPECT_EQ(c.nFileSize[3], 0);
  EXPECT_EQ(c.nFileSize[2], 256);
  EXPECT_NE(s.log.find("Black Panel - dot count = 0"), std::string::npos);
}

TEST(CardSide, PageOfAnotherSizeThanAnnouncedFailsTheSide) {
  TestCtrl c;
  c.option = DefaultJobOptions();
  // A good front first, so there is something that must not survive.
  Prepare(c, 16, PageBmp(8, 6, CardPixel), 8, 6);
  ASSERT_TRUE(c.m_srcImg.IsValid());
  const std::vector<uint8_t> bmp = PageBmp(10, 10, CardPixel);
  struct Case {
    int type, width, height;
  } cases[] = {{16, 12, 10}, {0, 10, 12}, {32, 9, 10}, {0, 10, 9}};
  for (const Case& k : cases) {
    c.nFileSize[2] = c.nFileSize[3] = c.nFileSize[5] = c.nFileSize[6] = 256;
    Side s = Prepare(c, k.type, bmp, k.width, k.height, 0, 0xAA);
    EXPECT_EQ(s.result, 0) << k.type << " " << k.width << "x" << k.height;
    EXPECT_TRUE(std::all_of(s.out.begin(), s.out.end(), [](uint8_t b) { return b == 0xAA; }));
    char line[160];
    snprintf(line, sizeof(line),
             "[->][MakeImageBuf failed: page image is 10 x 10 at 24 bpp, expected %d x %d at 24 "
             "bpp; side not prepared]\n",
             k.width, k.height);
    EXPECT_NE(s.log.find(line), std::string::npos) << s.log;
    EXPECT_NE(s.log.find("[->][nTxSize 0 (0)]\n"), std::string::npos);
    if (k.type == 32) {
      EXPECT_FALSE(c.m_srcImg2.IsValid());
      EXPECT_EQ(c.nFileSize[5], 0);
      EXPECT_EQ(c.nFileSize[6], 0);
      EXPECT_EQ(c.nFileSize[2], 256);
    } else {
      EXPECT_EQ(Table(c), std::vector<int>(12, 0));
    }
    if (k.type == 16) {
      EXPECT_FALSE(c.m_srcImg.IsValid());
    }
  }
}

TEST(CardSide, PageOfAnotherDepthFailsTheSide) {
  // An 8-bit BMP of the announced size: its rows are one byte a pixel, so
  // the byte exchange must not walk it as 24-bit rows.
  const int w = 16, h = 4;
  std::vector<uint8_t> bmp(54 + 1024 + w * h, 0);
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, static_cast<uint32_t>(bmp.size()));
  put32(10, 54 + 1024);
  put32(14, 40);
  put32(18, w);
  put32(22, h);
  bmp[26] = 1;
  bmp[28] = 8;
  put32(34, w * h);
  TestCtrl c;
  c.option = DefaultJobOptions();
  Side s = Prepare(c, 0, bmp, w, h, 0, 0xAA);
  EXPECT_EQ(s.result, 0);
  EXPECT_NE(s.log.find("page image is 16 x 4 at 8 bpp, expected 16 x 4 at 24 bpp"),
            std::string::npos);
  EXPECT_TRUE(std::all_of(s.out.begin(), s.out.end(), [](uint8_t b) { return b == 0xAA; }));

  // No buffer at all reads as a page that does not decode: a white card.
  TestCtrl n;
  n.option = NeutralJobOptions();
  n.LoadOptions();
  std::vector<uint8_t> out(64, 0);
  StderrOf([&] { n.MakeImageBuf(16, nullptr, 0, 8, 6, out.data(), out.size()); });
  ASSERT_EQ(n.m_srcImg.GetWidth(), 6u);
  EXPECT_EQ(PixelAt(n.m_srcImg, 3, 3), (Rgb{255, 255, 255}));
}

TEST(CardSide, LogShowsTheDeviceOptionsNextToTheWorkingCopies) {
  TestCtrl c;
  c.option = NeutralJobOptions();
  c.option.nRibbon = 4;
  c.option.nCheck = 3;
  c.LoadOptions();
  c.m_nRibbon = 0;
  c.m_nCheck = 0;
  std::vector<uint8_t> page = PageBmp(4, 4, [](int, int) { return Rgb{1, 2, 3}; });
  std::vector<uint8_t> out(64, 0);
  std::string log = StderrOf([&] {
    c.MakeImageBuf(16, page.data(), static_cast<int>(page.size()), 4, 4, out.data(), out.size());
  });
  EXPECT_NE(log.find("[->] MakeImageBuf g_Dev.poption.nRibbon : 4 (0)\r\n"
                     "[->] MakeImageBuf g_Dev.poption.nCheck : 3 (0) [0]\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("[->][->][poption.nRibbon(4), m_nRibbon(0x00) ]\n"), std::string::npos);
  EXPECT_NE(log.find("[->]pszTxBuffer[dh 4][dw 4 di 4 bpp 24]\n[->][outputarray_Log 10]\n66 77 "),
            std::string::npos);
}

TEST(CardSide, JpegNeverGoesPastTheOutputCapacity) {
  TestCtrl c;
  c.option = DefaultJobOptions();
  const std::vector<uint8_t> bmp = PageBmp(8, 6, CardPixel);
  Side roomy = Prepare(c, 0, bmp, 8, 6);
  const int n = roomy.result;
  ASSERT_GT(n, 100);

  Side exact = Prepare(c, 0, bmp, 8, 6, static_cast<size_t>(n));
  EXPECT_EQ(exact.result, n);
  EXPECT_TRUE(std::equal(exact.out.begin(), exact.out.end(), roomy.out.begin()));

  Side tight = Prepare(c, 0, bmp, 8, 6, static_cast<size_t>(n - 1), 0xAA);
  EXPECT_EQ(tight.result, 0);
  EXPECT_TRUE(std::all_of(tight.out.begin(), tight.out.end(), [](uint8_t b) { return b == 0xAA; }));
  EXPECT_NE(tight.log.find("does not fit the " + std::to_string(n - 1) + "-byte output buffer"),
            std::string::npos);
  EXPECT_EQ(Table(c), std::vector<int>(12, 0));
}

TEST(ImageLog, DumpsAppearUnderTmpOnlyWhenChecked) {
  const std::vector<uint8_t> bmp = PageBmp(8, 6, CardPixel);
  // Without the check no file appears, although construction set level 2.
  {
    TestCtrl c;
    c.option = DefaultJobOptions();
    c.m_nPage = UniquePage(5) - 1;
    Prepare(c, 0, bmp, 8, 6);
    EXPECT_EQ(c.m_nLogImage, 0);
    EXPECT_TRUE(DumpFiles(c.m_nPage).empty());
  }
  TestCtrl c;
  c.option = DefaultJobOptions();
  c.option.nCheck = 1;
  c.m_nPage = UniquePage(6) - 1;
  Side s = Prepare(c, 0, bmp, 8, 6);
  const int page = c.m_nPage;
  ASSERT_GT(s.result, 0);
  std::vector<std::string> files = DumpFiles(page);
  std::map<std::string, std::string> byTag;  // "tag_number" -> path
  const std::string prefix = "/tmp/testfile_";
  const std::string middle = "_" + std::to_string(page) + "_";
  for (const std::string& f : files) {
    size_t at = f.find(middle);
    byTag[f.substr(prefix.size(), at - prefix.size()) + "#" + f.substr(at + middle.size())] = f;
  }
  for (const char* fixed : {"Decode#0", "MakeColorK#1000", "MakeColorK#1001", "MakeColorK#1002",
                            "MakeColorK2#1002", "MakeShapening#2000", "MakeShapening#2001"}) {
    EXPECT_EQ(byTag.count(fixed), 1u) << fixed;
  }
  // The input buffer and the JPEG, numbered from the time of the call.
  std::string mac, jpeg;
  int macNumber = 0, jpegNumber = 0;
  for (const auto& kv : byTag) {
    if (kv.first.rfind("mac#", 0) == 0) {
      mac = kv.second;
      macNumber = std::stoi(kv.first.substr(4));
    }
    if (kv.first.rfind("MakeImageBuf#", 0) == 0) {
      jpeg = kv.second;
      jpegNumber = std::stoi(kv.first.substr(13));
    }
  }
  EXPECT_EQ(ReadFile(mac), bmp);
  EXPECT_EQ(ReadFile(jpeg), std::vector<uint8_t>(s.out.begin(), s.out.begin() + s.result));
  EXPECT_EQ(jpegNumber, macNumber + page + 20);
  EXPECT_EQ(files.size(), 9u);
  EXPECT_NE(s.log.find("[->][page " + std::to_string(page) + "  0 Decode]\n"), std::string::npos);
  for (const std::string& f : files) unlink(f.c_str());
}
