// Whether a debugger watches this process, and stopping in it.
#pragma once

// True when another process traces this one (TracerPid in /proc/self/status).
bool DebuggerAttached();

// Stops the process with SIGTRAP so that the attached debugger takes over; it
// can continue the process afterwards. Without a debugger the signal ends the
// process, so callers ask DebuggerAttached first.
void BreakIntoDebugger();
