// Display power while the program runs, in place of the handheld's
// backlight time-out and its system idle timer.
#pragma once

// With `on`, the system's screen saver and display blanking are held off
// until KeepDisplayAwake(false), which gives back what the system had
// before. The hold can be asked for before the display exists; it takes
// effect when the display service starts. GUI thread only.
void KeepDisplayAwake(bool on);

// Tells the system that the user is active now, so it does not idle the
// display or suspend.
void SystemIdleTimerReset();
