// Failure notices: the short text and caption of the program's message
// boxes ("CDib::Create Failed" / "m_Bitmap = NULL", "LoadBMP Failed" /
// "Debug" ...), for code that reports a failure and carries on. A notice is
// shown as a message box with an OK button (MessageBox, platform/winapi/win32.h:
// on the screen where there is one, else on standard error as
// "caption: text"; the headless backend records it), unless a handler is
// installed, as tests do to record notices themselves.
#pragma once

typedef void (*AlertHandler)(const char* text, const char* caption);

void Alert(const char* text, const char* caption);

// Installs `handler` (null restores the message box) and returns the
// previous one.
AlertHandler SetAlertHandler(AlertHandler handler);
