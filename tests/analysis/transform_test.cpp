// The power spectrum: exact arithmetic of the desk transform, agreement of the
// pocket transform, table lifetime, and refusals that must leave state alone.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "support/wav.h"
#include "tuner/analysis.h"

namespace {

using testing_support::Tone8;

// The transform written out plainly, one butterfly at a time, with every
// rounding to single precision where the transform defines one. The program's
// transform must match it bit for bit.
std::vector<double> PlainTransform(const void* data, unsigned long len, bool raw) {
  const double two_pi = 6.283185307179586;
  unsigned int stages = 1;
  for (unsigned long c = len; c > 2; c >>= 1) stages++;
  auto reverse = [&](unsigned int i) {
    unsigned int r = 0;
    for (unsigned int b = 0; b < stages; b++) {
      r = (r << 1) | (i & 1);
      i >>= 1;
    }
    return r;
  };
  std::vector<double> cosv(len / 2), sinv(len / 2), win(len), re(len), im(len);
  for (unsigned long i = 0; i < len / 2; i++) {
    float a = static_cast<float>(i * two_pi / len);
    cosv[i] = std::cos(static_cast<double>(a));
    sinv[i] = std::sin(static_cast<double>(a));
  }
  for (unsigned long i = 0; i < len / 2; i++) {
    double w = 0.51 - 0.49 * std::cos(i * two_pi / len);
    win[i] = w;
    win[len - 1 - i] = w;
  }
  for (unsigned long i = 0; i < len; i++) {
    unsigned int j = reverse(static_cast<unsigned int>(i));
    if (raw)
      re[j] = static_cast<double>(static_cast<const uint32_t*>(data)[i]);
    else
      re[j] = (static_cast<const unsigned char*>(data)[i] - 128) * win[i];
    im[j] = 0;
  }
  unsigned long half = 1, step = len / 2;
  for (unsigned int s = 0; s < stages; s++) {
    for (unsigned long j = 0; j < half; j++) {
      float c = static_cast<float>(cosv[j * step]);
      float sn = static_cast<float>(sinv[j * step]);
      for (unsigned long i = j; i < len; i += 2 * half) {
        unsigned long k = i + half;
        float tr = c * re[k] - sn * im[k];
        float ti = c * im[k] + sn * re[k];
        re[k] = re[i] - tr;
        im[k] = im[i] - ti;
        re[i] = re[i] + tr;
        im[i] = im[i] + ti;
      }
    }
    half *= 2;
    step /= 2;
  }
  std::vector<double> out(len / 2);
  for (unsigned long k = 0; k < len / 2; k++) out[k] = re[k] * re[k] + im[k] * im[k];
  return out;
}

std::vector<double> Spectrum(const void* data, unsigned long len, int raw = 0) {
  std::vector<double> out(len / 2 + 1, -1.0);
  EXPECT_EQ(fft(const_cast<void*>(data), len, out.data(), raw), 0);
  EXPECT_EQ(out[len / 2], -1.0) << "wrote past out[len/2 - 1]";
  out.resize(len / 2);
  return out;
}

size_t ArgMax(const std::vector<double>& v) {
  size_t best = 0;
  for (size_t i = 1; i < v.size(); i++)
    if (v[i] > v[best]) best = i;
  return best;
}

class Transform : public ::testing::Test {
 protected:
  void TearDown() override { fft_free(); }
};

#if !ZELVARO_POCKET
TEST_F(Transform, DeskMatchesPlainTranscriptionBitForBitOnRandomBlocks) {
  std::mt19937 rng(12345);
  for (unsigned long len : {2UL, 4UL, 8UL, 16UL, 64UL, 512UL, 4096UL, 8192UL}) {
    for (int trial = 0; trial < (len == 4096 ? 40 : 4); trial++) {
      std::vector<unsigned char> block(len);
      for (auto& b : block) b = static_cast<unsigned char>(rng());
      std::vector<double> want = PlainTransform(block.data(), len, false);
      std::vector<double> got = Spectrum(block.data(), len);
      for (unsigned long k = 0; k < len / 2; k++)
        ASSERT_EQ(got[k], want[k]) << "len " << len << " trial " << trial << " bin " << k;
    }
  }
}

TEST_F(Transform, DeskRawMatchesPlainTranscriptionBitForBit) {
  std::mt19937 rng(99);
  std::vector<uint32_t> block(4096);
  for (auto& v : block) v = rng();
  std::vector<double> want = PlainTransform(block.data(), 4096, true);
  std::vector<double> got = Spectrum(block.data(), 4096, 1);
  for (unsigned long k = 0; k < 2048; k++) ASSERT_EQ(got[k], want[k]) << "bin " << k;
}

TEST_F(Transform, DeskRefusesLengthsThatAreNotPowersOfTwoAndKeepsItsTables) {
  std::vector<unsigned char> block(4096, 200);
  Spectrum(block.data(), 4096);
  const double* old_window = window;
  std::vector<double> out(600, 7.0);
  EXPECT_EQ(fft(block.data(), 1000, out.data(), 0), -1);
  EXPECT_EQ(fft(block.data(), 12, out.data(), 0), -1);
  for (double v : out) EXPECT_EQ(v, 7.0);
  EXPECT_EQ(nn, 4096UL);
  EXPECT_EQ(window, old_window);
}

TEST_F(Transform, ReverseBitsUsesTheLowestStageBits) {
  std::vector<unsigned char> block(8, 128);
  Spectrum(block.data(), 8);
  EXPECT_EQ(lognn, 3u);
  EXPECT_EQ(_fft_reverse_bits(1), 4);
  EXPECT_EQ(_fft_reverse_bits(6), 3);
  EXPECT_EQ(_fft_reverse_bits(0xF1), 4);  // only the low three bits count
}
#else
TEST_F(Transform, PocketAcceptsAnyLengthFromTwo) {
  auto block = Tone8({{440, 100}}, 8000, 1000);
  std::vector<double> out = Spectrum(block.data(), 1000);
  EXPECT_EQ(ArgMax(out), 55u);  // 440 Hz at 8 Hz per bin
  EXPECT_EQ(nn, 1000UL);
}
#endif

TEST_F(Transform, AgreesWithTheExactTransformApartFromRounding) {
  auto block = Tone8({{440, 60}, {880, 30}, {1320, 20}}, 8000, 4096);
  std::vector<double> want = PlainTransform(block.data(), 4096, false);
  std::vector<double> got = Spectrum(block.data(), 4096);
  double peak = want[ArgMax(want)];
  for (size_t k = 0; k < want.size(); k++) ASSERT_NEAR(got[k], want[k], peak * 1e-6) << k;
}

TEST_F(Transform, PureToneConcentratesAroundItsBin) {
  auto block = Tone8({{440, 100}}, 8000, 4096);
  std::vector<double> out = Spectrum(block.data(), 4096);
  EXPECT_EQ(ArgMax(out), 225u);  // 440 * 4096 / 8000 = 225.28
  double total = 0, near = 0;
  for (size_t k = 0; k < out.size(); k++) {
    total += out[k];
    if (k >= 222 && k <= 229) near += out[k];
  }
  EXPECT_GT(out[225] + out[226], 0.6 * total);
  EXPECT_GT(near, 0.999 * total);
}

TEST_F(Transform, SilenceAndConstantBlocks) {
  std::vector<unsigned char> silent(4096, 128);
  for (double v : Spectrum(silent.data(), 4096)) EXPECT_EQ(v, 0.0);

  std::vector<unsigned char> offset(4096, 200);
  std::vector<double> out = Spectrum(offset.data(), 4096);
  double total = 0;
  for (double v : out) total += v;
  EXPECT_GT(out[0] + out[1], 0.999 * total);
  for (size_t k = 3; k < out.size(); k++) EXPECT_LT(out[k], 1e-9 * out[0]) << k;
}

TEST_F(Transform, RawOnesPutEverythingInBinZero) {
  std::vector<uint32_t> ones(4096, 1);
  std::vector<double> out = Spectrum(ones.data(), 4096, 1);
  EXPECT_DOUBLE_EQ(out[0], 4096.0 * 4096.0);
  for (size_t k = 1; k < out.size(); k++) EXPECT_NEAR(out[k], 0.0, 1e-6) << k;
}

TEST_F(Transform, TablesAreReusedForTheSameLengthAndRebuiltForAnother) {
  std::vector<unsigned char> block(4096, 130);
  Spectrum(block.data(), 4096);
  // A scribble on the window survives a call with the same length (no
  // rebuild) and is gone after a call with another length.
  window[0] = 123.0;
  Spectrum(block.data(), 4096);
  EXPECT_EQ(window[0], 123.0);
  Spectrum(block.data(), 2048);
  EXPECT_EQ(nn, 2048UL);
  EXPECT_DOUBLE_EQ(window[0], 0.51 - 0.49);

  fft_free();
  EXPECT_EQ(nn, 0UL);
  EXPECT_EQ(window, nullptr);
  Spectrum(block.data(), 2048);
  EXPECT_EQ(nn, 2048UL);
}

TEST_F(Transform, LengthsBelowTwoAreRefused) {
  unsigned char b[2] = {200, 50};
  double out[2] = {5, 5};
  EXPECT_EQ(fft(b, 0, out, 0), -1);
  EXPECT_EQ(fft(b, 1, out, 0), -1);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(fft(b, 2, out, 0), 0);
  EXPECT_GT(out[0], 0);
}

TEST_F(Transform, WindowRisesFromTwoHundredthsToAlmostOne) {
  std::vector<unsigned char> block(4096, 128);
  Spectrum(block.data(), 4096);
  EXPECT_DOUBLE_EQ(window[0], 0.51 - 0.49);
  EXPECT_DOUBLE_EQ(window[4095], 0.51 - 0.49);
  EXPECT_NEAR(window[2047], 1.0, 1e-5);
  EXPECT_LT(window[2047], 1.0);
  EXPECT_EQ(window[100], window[4095 - 100]);
}

// Sanitizers reserve address space of their own, so a limit on it cannot
// be used to provoke allocation failures there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELVARO_NO_ADDRESS_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZELVARO_NO_ADDRESS_LIMIT 1
#endif
#endif

TEST_F(Transform, AllocationFailureFailsTheCallAndKeepsTheOldTables) {
#ifdef ZELVARO_NO_ADDRESS_LIMIT
  GTEST_SKIP() << "address-space limits do not work under sanitizers";
#else
  auto block = Tone8({{440, 100}}, 8000, 4096);
  std::vector<double> before = Spectrum(block.data(), 4096);
  std::vector<unsigned char> big(1UL << 25, 128);

  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
  rlimit tight = old;
  tight.rlim_cur = 512UL << 20;  // far below the 2^25-point tables
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
  std::vector<double> out(4, 9.0);
  int r = fft(big.data(), big.size(), out.data(), 0);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &old), 0);

  EXPECT_EQ(r, -1);
  EXPECT_EQ(out[0], 9.0);
  EXPECT_EQ(nn, 4096UL);
  EXPECT_EQ(Spectrum(block.data(), 4096), before);
#endif
}

}  // namespace
