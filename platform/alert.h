// Failure notices: the short text and caption of the program's message
// boxes ("CDib::Create Failed" / "m_Bitmap = NULL", "LoadBMP Failed" /
// "Debug" ...), for code that reports a failure and carries on. A notice
// goes to the installed handler: the display backend installs one that
// shows a message box, tests one that records; with none installed it is
// written to standard error as "caption: text".
#pragma once

typedef void (*AlertHandler)(const char* text, const char* caption);

void Alert(const char* text, const char* caption);

// Installs `handler` (null restores the standard-error default) and returns
// the previous one.
AlertHandler SetAlertHandler(AlertHandler handler);
