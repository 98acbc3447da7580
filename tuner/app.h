// The tuner application: the one class the frame (PPCAPI.h) drives.
#pragma once

#include "PPCAPI.h"

class MyClass : public TPocketPCWindow {
 public:
  void ProgramStart(int& orientation) override;
  void ProgramEnd() override;
  void DisplayInit() override;
  int DisplayExit() override;
  void Paint() override;
  void ProcessMessage(unsigned message, unsigned wParam, long lParam) override;
};

extern MyClass game;
