// The two user settings kept between runs in "PREFS.DAT": the trigger level
// and the meter adjustment, as two little-endian 32-bit integers (8 bytes).
#pragma once

#include <string>

extern int TriggerLevel;  // minimum lit strength segments for a reading, 0 (off) .. 3
extern int MeterAdjust;   // calibration in tenths of a percent, -100 .. +100

// Names the settings file of this run (--settings FILE), in place of the
// usual one; "" goes back to the usual one.
void SetPrefsFile(const std::string& path);

// Where the settings live: the file SetPrefsFile named, else "PREFS.DAT" in
// zelvaro/ of the user's configuration folder ($XDG_CONFIG_HOME, or
// ~/.config when that is unset or not absolute).
std::string PrefsPath();

// Loads both settings from PrefsPath(). A missing file keeps the current
// values; a short file fills only the bytes it has (low-order first); a
// trigger level outside 0..3 loads as 1 and an adjustment outside -100..100
// as 0.
// Earlier versions kept the file in the current folder. While the usual
// file does not exist yet, a "PREFS.DAT" there of exactly 8 bytes with both
// values in range is loaded instead and saved to the usual place (the old
// file stays); any other file of that name is left alone, as it may be
// another program's. A relative XDG_CONFIG_HOME is reported on stderr.
void ReadPrefs();
void ReadPrefsFrom(const std::string& path);

// Stores both settings to PrefsPath(), atomically: the bytes go to a
// temporary file in the same folder that then replaces PREFS.DAT, so a crash
// or a full disk never leaves a damaged file. The usual folder is made
// (mode 0700) when missing. A file that already holds these two settings is
// not rewritten. A failure is reported on stderr in one line; the return
// value says whether the file holds the settings.
bool WritePrefs();
bool WritePrefsTo(const std::string& path);
