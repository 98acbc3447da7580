// The two user settings kept between runs in "PREFS.DAT": the trigger level
// and the meter adjustment, as two little-endian 32-bit integers (8 bytes).
#pragma once

#include <string>

extern int TriggerLevel;  // minimum lit strength segments for a reading, 0 (off) .. 3
extern int MeterAdjust;   // calibration in tenths of a percent, -100 .. +100

// Where the settings live: "PREFS.DAT" in the current folder (desk), or in
// the folder that holds the program (pocket).
std::string PrefsPath();

// Loads both settings from PrefsPath(). A missing file keeps the current
// values; a short file fills only the bytes it has (low-order first); a
// trigger level outside 0..3 loads as 1 and an adjustment outside -100..100
// as 0.
void ReadPrefs();
void ReadPrefsFrom(const std::string& path);

// Stores both settings to PrefsPath(), atomically: the bytes go to a
// temporary file in the same folder that then replaces PREFS.DAT, so a crash
// or a full disk never leaves a damaged file. A file that already holds
// these two settings is not rewritten. A failure is reported on stderr; the
// return value says whether the file holds the settings.
bool WritePrefs();
bool WritePrefsTo(const std::string& path);
