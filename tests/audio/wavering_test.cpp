// WaveRing at its edges: a write and a read that cross the end come back in
// order, a full ring takes nothing more and an empty one gives nothing.
#include "tuner/wavering.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadAll(WaveRing& ring) {
  Bytes out(ring.GetDataLen());
  EXPECT_TRUE(ring.Read(out.data(), static_cast<DWORD>(out.size())));
  return out;
}

TEST(WaveRing, WritesAndReadsAcrossTheEndInOrder) {
  WaveRing ring;
  ASSERT_TRUE(ring.Allocate(8));
  // Starting 1, 2 and 0 bytes before the end, and right at it.
  for (DWORD start : {7u, 6u, 8u, 0u}) {
    SCOPED_TRACE(start);
    ring.Reset(start);
    const Bytes audio = {1, 2, 3, 4, 5};
    ASSERT_TRUE(ring.Write(audio.data(), 3));
    ASSERT_TRUE(ring.Write(audio.data() + 3, 2));
    ASSERT_TRUE(ring.Fill(0x80, 2));
    Bytes peeked(7);
    ASSERT_TRUE(ring.Peek(peeked.data(), 7));
    EXPECT_EQ(peeked, (Bytes{1, 2, 3, 4, 5, 0x80, 0x80}));
    ASSERT_TRUE(ring.Discard(2));
    EXPECT_EQ(ReadAll(ring), (Bytes{3, 4, 5, 0x80, 0x80}));
  }
}

TEST(WaveRing, AFullRingTakesNothingAndAnEmptyOneGivesNothing) {
  WaveRing ring;
  unsigned char byte = 9;
  EXPECT_FALSE(ring.Write(&byte, 1));  // no memory yet
  ASSERT_TRUE(ring.Allocate(8));
  ring.Reset(5);
  const Bytes audio = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(ring.Write(audio.data(), 8));
  EXPECT_EQ(ring.GetFree(), 0u);
  EXPECT_FALSE(ring.Write(&byte, 1));
  EXPECT_FALSE(ring.Fill(0, 1));
  Bytes nine(9);
  EXPECT_FALSE(ring.Read(nine.data(), 9));
  EXPECT_FALSE(ring.Discard(9));
  EXPECT_EQ(ReadAll(ring), audio);
  EXPECT_FALSE(ring.Read(&byte, 1));
  EXPECT_FALSE(ring.Peek(&byte, 1));
  EXPECT_EQ(byte, 9);
  // Emptied, it takes a full ring again.
  EXPECT_TRUE(ring.Write(audio.data(), 8));
}

}  // namespace
