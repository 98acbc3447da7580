// Naming frequencies: note, octave and cents, the nearest note's frequency,
// and the running mean.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tuner/analysis.h"

namespace {

_note_type Name(double f, double tolerance = 0.0) {
  _note_type nt{};
  nt.tolerance = tolerance;
  EXPECT_EQ(note(f, &nt), 0) << f;
  return nt;
}

TEST(Note, NamesNotesWithIndexCentsAndOctave) {
  struct Case {
    double f;
    const char* name;
    int index, cents, octave;
  } cases[] = {
      {440.0, "A ", 0, 0, 0},   {466.16, "A#", 1, 0, 0},  {452.0, "A ", 0, 46, 0},
      {454.0, "A#", 1, -45, 0}, {261.63, "C ", 3, 0, -1}, {870.0, "A ", 12, -19, 0},
      {82.41, "E ", 7, 0, -3},  {880.0, "A ", 12, 0, 0},  {880.01, "A ", 0, 0, 1},
      {8.01, "C ", 3, -35, -6},
  };
  for (const Case& c : cases) {
    _note_type nt = Name(c.f);
    EXPECT_STREQ(nt.name, c.name) << c.f;
    EXPECT_EQ(nt.index, c.index) << c.f;
    EXPECT_EQ(nt.cents, c.cents) << c.f;
    EXPECT_EQ(nt.octave, c.octave) << c.f;
  }
}

TEST(Note, EightHertzAndBelowIsNoNote) {
  for (double f : {8.0, 0.0, -440.0, std::numeric_limits<double>::quiet_NaN()}) {
    _note_type nt{};
    nt.index = 5;
    nt.octave = 2;
    EXPECT_EQ(note(f, &nt), 0);
    EXPECT_EQ(nt.name, blank) << f;
    EXPECT_EQ(nt.cents, -49);
    EXPECT_EQ(nt.index, 5);  // left as it was
    EXPECT_EQ(nt.octave, 2);
  }
}

TEST(Note, InfinityIsRefusedInsteadOfLoopingForever) {
  _note_type nt{};
  nt.name = "xx";
  EXPECT_EQ(note(std::numeric_limits<double>::infinity(), &nt), -1);
  EXPECT_STREQ(nt.name, "xx");
  EXPECT_EQ(FindNearestNote(std::numeric_limits<float>::infinity()), 0.0f);
}

TEST(Note, ToleranceZoneReportsZeroCents) {
  EXPECT_EQ(Name(442.0, 10.0).cents, 0);
  EXPECT_EQ(Name(442.0, 0.0).cents, 7);
}

TEST(Note, NearestNoteFrequency) {
  EXPECT_EQ(FindNearestNote(445.0f), 440.0f);
  EXPECT_EQ(FindNearestNote(870.0f), 880.0f);
  EXPECT_EQ(FindNearestNote(0.0f), 0.0f);
  EXPECT_EQ(FindNearestNote(5.0f), 0.0f);
  EXPECT_NEAR(FindNearestNote(262.0f), 261.6256f, 1e-3);
  EXPECT_NEAR(FindNearestNote(81.0f), 82.4069f, 1e-3);
}

TEST(Smoothing, RunningMeanCountsTheInitialZeros) {
  const int h = kPocket ? 12 : 6;
  const float x = static_cast<float>(h);
  for (int i = 1; i <= h; i++) EXPECT_FLOAT_EQ(Smoothing(x), static_cast<float>(i)) << i;
  EXPECT_FLOAT_EQ(Smoothing(0.0f), static_cast<float>(h - 1));
}

}  // namespace
