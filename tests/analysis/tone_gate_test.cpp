// The desk build's sample utilities: the noise gate and the reference tone.
#include <gtest/gtest.h>

#include <vector>

#include "tuner/analysis.h"

#if !ZELVARO_POCKET
namespace {

std::vector<unsigned char> Gate(std::vector<unsigned char> v, int threshold, int hold, int release,
                                int attack) {
  noise_gate(v.data(), static_cast<int>(v.size()), 8000, threshold, hold, release, attack);
  return v;
}

TEST(NoiseGate, ClosesAfterTheHoldFadesOutAndFadesBackIn) {
  std::vector<unsigned char> in(100, 130);
  in.resize(200, 200);
  auto out = Gate(in, 10, 10, 5, 5);
  for (int i = 0; i < 81; i++) EXPECT_EQ(out[i], 130) << i;
  for (int i = 81; i < 100; i++) EXPECT_EQ(out[i], 129) << i;
  EXPECT_EQ(out[100], 167);
  for (int i = 101; i < 118; i++) {
    EXPECT_GT(out[i], out[i - 1]) << i;
    EXPECT_LT(out[i], 200) << i;
  }
  EXPECT_EQ(out[118], 200);  // the 19th loud sample reaches full gain
  for (int i = 119; i < 200; i++) EXPECT_EQ(out[i], 200) << i;
}

TEST(NoiseGate, ThresholdZeroAndBandEdges) {
  std::vector<unsigned char> in(300, 129);
  EXPECT_EQ(Gate(in, 0, 1, 1, 1), in);
  // Exactly 128 +- threshold is loud, so the gate never closes.
  std::vector<unsigned char> edges(300);
  for (size_t i = 0; i < edges.size(); i++) edges[i] = i % 2 ? 138 : 118;
  EXPECT_EQ(Gate(edges, 10, 1, 1, 1), edges);
}

TEST(NoiseGate, RampsShorterThanOneSampleActAtOnce) {
  std::vector<unsigned char> in(20, 130);
  in.resize(30, 200);
  in.resize(40, 130);
  // hold 0 ms: the first quiet sample closes the gate; release and attack
  // of 0 samples silence and restore immediately.
  auto out = Gate(in, 10, 0, 0, 0);
  EXPECT_EQ(out[0], 130);
  for (int i = 1; i < 20; i++) EXPECT_EQ(out[i], 128) << i;
  for (int i = 20; i < 30; i++) EXPECT_EQ(out[i], 200) << i;
  EXPECT_EQ(out[30], 130);
  for (int i = 31; i < 40; i++) EXPECT_EQ(out[i], 128) << i;
}

TEST(Tone, SquareSineAndTriangle) {
  std::vector<unsigned char> sq(16);
  ASSERT_EQ(tone(sq.data(), 16, 1000, 8000, 100, 1), 0);
  EXPECT_EQ(sq, (std::vector<unsigned char>{228, 228, 228, 228, 28, 28, 28, 28, 228, 228, 228, 228,
                                            28, 28, 28, 28}));

  std::vector<unsigned char> sine(10);
  ASSERT_EQ(tone(sine.data(), 10, 1000, 8000, 100, 2), 0);
  EXPECT_EQ(sine, (std::vector<unsigned char>{128, 198, 228, 198, 128, 57, 28, 57, 128, 198}));

  std::vector<unsigned char> tri(16);
  ASSERT_EQ(tone(tri.data(), 16, 500, 8000, 100, 3), 0);  // period 16, step 25
  EXPECT_EQ(tri, (std::vector<unsigned char>{128, 153, 178, 203, 203, 178, 153, 128, 103, 78, 53,
                                             28, 53, 78, 103, 128}));
}

TEST(Tone, AmplitudeIsLimitedTo127) {
  std::vector<unsigned char> sq(8);
  ASSERT_EQ(tone(sq.data(), 8, 1000, 8000, 200, 1), 0);
  EXPECT_EQ(sq[0], 255);
  EXPECT_EQ(sq[7], 1);
}

TEST(Tone, RefusalsLeaveTheOutputUntouched) {
  std::vector<unsigned char> out(16, 7);
  EXPECT_EQ(tone(out.data(), 16, 1000, 8000, 100, 4), -1);
  EXPECT_EQ(tone(out.data(), 16, 9000, 8000, 100, 1), -1);  // period below one sample
  EXPECT_EQ(tone(out.data(), 16, 0, 8000, 100, 2), -1);
  EXPECT_EQ(tone(out.data(), 16, -50, 8000, 100, 2), -1);
  EXPECT_EQ(tone(out.data(), 16, 1e-9, 8000, 100, 2), -1);  // absurdly long period
  EXPECT_EQ(out, std::vector<unsigned char>(16, 7));
  EXPECT_EQ(tone(out.data(), 16, 8000, 8000, 100, 1), 0);  // one-sample period
}

}  // namespace
#endif
