// Golden images: a surface compared pixel for pixel with a committed BMP.
//
//   EXPECT_TRUE(MatchesGolden(dib, "font2-text"));
//
// compares `dib` with tests/golden/font2-text-555.bmp (or -565.bmp: the
// current pixel layout is part of the name, since the two layouts give
// different pixels). On a mismatch, or when the golden is missing, the
// actual image is written to <build>/test-dumps/<name>-<layout>.bmp and the
// assertion fails saying where. With ZELVARO_REBASELINE=1 in the environment
// the actual image replaces the golden instead and the assertion passes:
// scripts/rebaseline-golden runs the suites that way, after which
// `git diff tests/golden` shows what changed.
//
// Header-only: it uses the drawing library of the variant the test links.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "common_code/dib.h"

namespace testing_support {

inline std::string GoldenLayoutName() {
  if (DisplayProperties.ffFormat & kfDirect565) return "565";
  if (DisplayProperties.ffFormat & kfDirect555) return "555";
  return "none";
}

inline std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

// The source and build folders, compiled into every test program.
inline std::string SourceDir() { return EnvOr("ZELVARO_SOURCE_DIR", ZELVARO_SOURCE_DIR); }
inline std::string BinaryDir() { return EnvOr("ZELVARO_BINARY_DIR", ZELVARO_BINARY_DIR); }

inline ::testing::AssertionResult MatchesGolden(CDib& actual, const std::string& name) {
  std::string file = name + "-" + GoldenLayoutName() + ".bmp";
  std::string golden = SourceDir() + "/tests/golden/" + file;
  if (EnvOr("ZELVARO_REBASELINE", "0") == "1") {
    if (!SaveBitmap(&actual, golden.c_str()))
      return ::testing::AssertionFailure() << "cannot write " << golden;
    return ::testing::AssertionSuccess() << "rebaselined " << golden;
  }

  CDib expected;
  std::string problem;
  if (!expected.LoadBMP(golden.c_str())) {
    problem = "no golden image " + golden;
  } else if (expected.W != actual.W || expected.H != actual.H) {
    problem = "size " + std::to_string(actual.W) + "x" + std::to_string(actual.H) + ", golden " +
              std::to_string(expected.W) + "x" + std::to_string(expected.H);
  } else {
    long differing = 0;
    int fx = -1, fy = -1;
    for (int y = 0; y < actual.H; y++)
      for (int x = 0; x < actual.W; x++)
        if (actual.GetPixel(x, y) != expected.GetPixel(x, y)) {
          if (differing++ == 0) fx = x, fy = y;
        }
    if (differing == 0) return ::testing::AssertionSuccess();
    char first[96];
    std::snprintf(first, sizeof(first), "first at (%d, %d): 0x%04X, golden 0x%04X", fx, fy,
                  actual.GetPixel(fx, fy), expected.GetPixel(fx, fy));
    problem = std::to_string(differing) + " pixels differ from " + golden + ", " + first;
  }

  std::string dumps = BinaryDir() + "/test-dumps";
  mkdir(dumps.c_str(), 0777);
  std::string dump = dumps + "/" + file;
  bool saved = SaveBitmap(&actual, dump.c_str());
  return ::testing::AssertionFailure()
         << name << ": " << problem << "; actual image "
         << (saved ? "written to " + dump : "could not be written to " + dump)
         << " (scripts/rebaseline-golden accepts it)";
}

}  // namespace testing_support
