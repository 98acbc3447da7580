// Test helper: a headless test free to change the frame's display globals
// (the display's properties, orientation and pitches, the window scale, the
// stylus factor, the program options); each is as a fresh start leaves it
// after the test.
#pragma once

#include "common_code/PPCAPI.h"
#include "common_code/dib.h"
#include "common_code/xdib.h"
#include "platform/services/backend.h"
#include "support/headless.h"

namespace testing_support {

class FrameTest : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    m_SavedDisplay = DisplayProperties;
    ProgramOptions = FrameOptions{};
  }
  // Closes the window (HeadlessTest) and puts the globals back.
  void TearDown() override {
    HeadlessTest::TearDown();
    headless::SetDisplayPitches(0, 0);
    platform::SetDisplayScale(0);
    DisplayProperties = m_SavedDisplay;
    ProgramOptions = FrameOptions{};
    ScreenOrientation = 0;
    bRotateLandscape = 1;
    StylusScale = 1.0f;
  }

 private:
  GXDisplayProperties m_SavedDisplay{};
};

}  // namespace testing_support
