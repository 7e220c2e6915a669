// Memory streams: growth steps, reads and writes at the edges, seeking,
// byte and line reads at the end, and caller memory left alone.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ximage/xmemfile.h"

TEST(MemFileGrowth, AllocatedLengthGrowsInWhole64KiBSteps) {
  std::vector<uint8_t> data(200000, 0xAB);
  CxMemFile f;
  ASSERT_TRUE(f.Open());
  EXPECT_FALSE(f.Open());  // already has a buffer
  ASSERT_EQ(f.Write(data.data(), 1, 65535), 65535u);
  EXPECT_EQ(f.GetAllocatedLength(), 65536);
  EXPECT_EQ(f.Size(), 65535);
  ASSERT_EQ(f.Write(data.data(), 1, 1), 1u);  // exactly fills the allocation
  EXPECT_EQ(f.GetAllocatedLength(), 65536);
  ASSERT_TRUE(f.PutC(7));  // needs 65537
  EXPECT_EQ(f.GetAllocatedLength(), 131072);
  EXPECT_EQ(f.Size(), 65537);

  // Items count, not bytes: 3 items of 50000 bytes need 150000.
  struct Case {
    size_t size, count;
    int64_t allocated;
  } cases[] = {{1, 65536, 131072}, {50000, 3, 196608}};
  for (const Case& c : cases) {
    CxMemFile g;
    g.Open();
    ASSERT_EQ(g.Write(data.data(), c.size, c.count), c.count);
    EXPECT_EQ(g.GetAllocatedLength(), c.allocated) << c.size;
    EXPECT_EQ(g.Tell(), (int64_t)(c.size * c.count));
  }
  EXPECT_EQ(f.Write(data.data(), 0, 3), 0u);
  EXPECT_EQ(f.Write(nullptr, 1, 3), 0u);
}

TEST(MemFileRead, PartialItemsAreCopiedButNotCountedAndPastTheEndIsAnError) {
  uint8_t src[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  CxMemFile f(src, 10);
  uint8_t out[8];
  EXPECT_EQ(f.Read(out, 4, 1), 1u);
  EXPECT_EQ(f.Tell(), 4);
  memset(out, 0xEE, sizeof(out));
  EXPECT_EQ(f.Read(out, 4, 2), 1u);  // 6 bytes left: one whole item
  EXPECT_EQ(out[5], 9);
  EXPECT_EQ(out[6], 0xEE);
  EXPECT_TRUE(f.Eof());
  EXPECT_EQ(f.Read(out, 1, 1), 0u);
  EXPECT_FALSE(f.Error());
  EXPECT_TRUE(f.Seek(100, 0));
  EXPECT_EQ(f.Tell(), 100);
  EXPECT_EQ(f.Read(out, 1, 1), 0u);
  EXPECT_TRUE(f.Error());
}

TEST(MemFileSeek, ClampsBelowZeroOnlyAndRefusesUnknownOrigins) {
  uint8_t src[20] = {0};
  CxMemFile f(src, 20);
  EXPECT_TRUE(f.Seek(-10, 0));
  EXPECT_EQ(f.Tell(), 0);
  EXPECT_TRUE(f.Seek(5, 1));
  EXPECT_TRUE(f.Seek(3, 1));
  EXPECT_EQ(f.Tell(), 8);
  EXPECT_TRUE(f.Seek(-4, 2));
  EXPECT_EQ(f.Tell(), 16);
  EXPECT_TRUE(f.Seek(-100, 1));
  EXPECT_EQ(f.Tell(), 0);
  EXPECT_FALSE(f.Seek(0, 3));

  CxMemFile none;
  EXPECT_FALSE(none.Seek(0, 0));
  EXPECT_EQ(none.Tell(), -1);
  EXPECT_EQ(none.Size(), -1);
  EXPECT_TRUE(none.Eof());
  EXPECT_TRUE(none.Error());
  EXPECT_FALSE(none.Flush());
  EXPECT_EQ(none.GetC(), -1);
}

TEST(MemFileText, GetCAndGetSStopAtTheEnd) {
  const char text[] = "ab\ncdef";
  CxMemFile f((uint8_t*)text, 7);
  char line[16];
  ASSERT_NE(f.GetS(line, sizeof(line)), nullptr);
  EXPECT_STREQ(line, "ab\n");
  ASSERT_NE(f.GetS(line, 3), nullptr);  // two bytes and the NUL
  EXPECT_STREQ(line, "cd");
  EXPECT_EQ(f.GetC(), 'e');
  EXPECT_EQ(f.GetC(), 'f');
  EXPECT_EQ(f.GetC(), -1);
  EXPECT_EQ(f.GetC(), -1);
  f.Seek(5, 0);
  EXPECT_EQ(f.GetS(line, sizeof(line)), nullptr);  // the end comes before a line feed
  EXPECT_EQ(f.Scanf("%d", nullptr), 0);
}

TEST(MemFileWrite, CallerMemoryIsNeverReallocatedAndGapsAreZeroed) {
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

  // Writing past the end leaves zeros in the gap; a detached buffer is the caller's.
  uint8_t* kept = nullptr;
  {
    CxMemFile f;
    f.Open();
    f.Seek(4, 0);
    ASSERT_EQ(f.Write("Z", 1, 1), 1u);
    EXPECT_EQ(f.Size(), 5);
    kept = f.GetBuffer(true);
  }
  EXPECT_EQ(std::vector<uint8_t>(kept, kept + 5), (std::vector<uint8_t>{0, 0, 0, 0, 'Z'}));
  free(kept);
}
