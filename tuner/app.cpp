// The tuner application (app.h).
#include "app.h"

MyClass game;

TPocketPCWindow& TheApplication() { return game; }

void MyClass::ProgramStart(int&) {}

void MyClass::ProgramEnd() {}

void MyClass::DisplayInit() {}

int MyClass::DisplayExit() { return 1; }

void MyClass::Paint() {}

void MyClass::ProcessMessage(unsigned, unsigned, long) {}
