// Test helper: the tuner application's settings and state, as a fresh start
// leaves them, for the suites that draw or run the tuner screen.
#pragma once

#include "tuner/app.h"
#include "tuner/prefs.h"

namespace testing_support {

inline void ResetTunerGlobals() {
  TriggerLevel = 1;
  MeterAdjust = 0;
  AdjustMode = 0;
  SquareScreen = 0;
  Tuner = TunerState{};
}

}  // namespace testing_support
