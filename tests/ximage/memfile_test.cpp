// Memory streams: growth, reads, writes and seeks at the edges, and caller memory left alone.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ximage/xmemfile.h"

// Items count, not bytes: 3 items of 50000 bytes need 150000.
TEST(MemoryStream, AllocatedLengthGrowsInWhole64KiBSteps) {
  std::vector<uint8_t> data(200000, 0xAB);
  CxMemFile f;
  ASSERT_TRUE(f.Open());
  EXPECT_FALSE(f.Open());  // already has a buffer
  const struct { size_t size, count; int64_t allocated, total; } writes[] = {
      {1, 65535, 65536, 65535}, {1, 1, 65536, 65536}, {1, 1, 131072, 65537},
      {50000, 3, 262144, 215537}};
  for (const auto& w : writes) {
    ASSERT_EQ(f.Write(data.data(), w.size, w.count), w.count);
    EXPECT_EQ(f.GetAllocatedLength(), w.allocated) << w.total;
    EXPECT_TRUE(f.Size() == w.total && f.Tell() == w.total);
  }
  EXPECT_EQ(f.Write(data.data(), 0, 3), 0u);
  EXPECT_EQ(f.Write(nullptr, 1, 3), 0u);
  CxMemFile g;  // a first write of a whole step already takes the next
  ASSERT_TRUE(g.Open() && g.Write(data.data(), 1, 65536) == 65536u);
  EXPECT_EQ(g.GetAllocatedLength(), 131072);
}
TEST(MemoryStream, PartialItemsAreCopiedButNotCountedAndPastTheEndIsAnError) {
  uint8_t src[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  CxMemFile f(src, 10);
  uint8_t out[8];
  EXPECT_EQ(f.Read(out, 4, 1), 1u);
  memset(out, 0xEE, sizeof(out));
  EXPECT_EQ(f.Read(out, 4, 2), 1u);  // 6 bytes left: one whole item
  EXPECT_TRUE(out[5] == 9 && out[6] == 0xEE);
  EXPECT_TRUE(f.Eof());
  EXPECT_EQ(f.Read(out, 1, 1), 0u);
  EXPECT_FALSE(f.Error());
  EXPECT_TRUE(f.Seek(100, 0));
  EXPECT_EQ(f.Read(out, 1, 1), 0u);
  EXPECT_TRUE(f.Error());
}
TEST(MemoryStream, SeekClampsBelowZeroOnlyAndRefusesUnknownOrigins) {
  uint8_t src[20] = {0};
  CxMemFile f(src, 20), none;
  const struct { int64_t offset; int origin; int64_t at; } seeks[] = {
      {-10, 0, 0}, {5, 1, 5}, {3, 1, 8}, {-4, 2, 16}, {-100, 1, 0}, {100, 0, 100}};
  for (const auto& s : seeks) {
    EXPECT_TRUE(f.Seek(s.offset, s.origin));
    EXPECT_EQ(f.Tell(), s.at) << s.offset << " from " << s.origin;
  }
  EXPECT_FALSE(f.Seek(0, 3));
  // A stream that grew by writing has more room than data: the end is its data's.
  CxMemFile grown;
  ASSERT_TRUE(grown.Open());
  ASSERT_EQ(grown.Write("0123456789", 1, 10), 10u);
  EXPECT_TRUE(grown.Seek(-4, 2));
  EXPECT_EQ(grown.Tell(), 6);
  EXPECT_EQ(grown.GetC(), '6');
  EXPECT_FALSE(none.Seek(0, 0));
  EXPECT_TRUE(none.Tell() == -1 && none.Size() == -1 && none.GetC() == -1);
  EXPECT_TRUE(none.Eof() && none.Error() && !none.Flush());
}
TEST(MemoryStream, GetCAndGetSStopAtTheEnd) {
  const char text[] = "ab\ncdef";
  CxMemFile f((uint8_t*)text, 7);
  char line[16];
  ASSERT_NE(f.GetS(line, sizeof(line)), nullptr);
  EXPECT_STREQ(line, "ab\n");
  ASSERT_NE(f.GetS(line, 3), nullptr);  // two bytes and the NUL
  EXPECT_STREQ(line, "cd");
  for (int want : {(int)'e', (int)'f', -1, -1}) EXPECT_EQ(f.GetC(), want);
  f.Seek(5, 0);
  EXPECT_EQ(f.GetS(line, sizeof(line)), nullptr);  // the end comes before a line feed
  EXPECT_EQ(f.Scanf("%d", nullptr), 0);
}
TEST(MemoryStream, CallerMemoryIsNeverReallocatedAndGapsAreZeroed) {
  std::vector<uint8_t> caller = {1, 2, 3, 4};
  {
    CxMemFile f(caller.data(), 4);
    f.Seek(2, 0);
    ASSERT_EQ(f.Write("xyz", 1, 3), 3u);  // runs past the caller's 4 bytes
    uint8_t* own = f.GetBuffer(false);
    EXPECT_NE(own, caller.data());
    EXPECT_EQ(std::vector<uint8_t>(own, own + 5), (std::vector<uint8_t>{1, 2, 'x', 'y', 'z'}));
  }
  EXPECT_EQ(caller, (std::vector<uint8_t>{1, 2, 3, 4}));
  uint8_t* kept = nullptr;  // a detached buffer is the caller's
  {
    CxMemFile f;
    ASSERT_TRUE(f.Open() && f.Seek(4, 0));
    ASSERT_EQ(f.Write("Z", 1, 1), 1u);
    EXPECT_EQ(f.Size(), 5);
    kept = f.GetBuffer(true);
  }
  EXPECT_EQ(std::vector<uint8_t>(kept, kept + 5), (std::vector<uint8_t>{0, 0, 0, 0, 'Z'}));
  free(kept);
}
