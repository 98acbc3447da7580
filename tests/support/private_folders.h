// Test helper: every test runs with XDG_CONFIG_HOME and XDG_RUNTIME_DIR
// pointing at fresh folders of its own, made before the test starts and
// removed after it ends, so nothing a test does (or a program it starts)
// reaches the settings or the runtime folder of whoever runs the tests.
// The tests' main (private_folders.cpp) installs it for every suite.
#pragma once

#include <string>

namespace testing_support {

// The configuration folder ($XDG_CONFIG_HOME) and the runtime folder
// ($XDG_RUNTIME_DIR, mode 0700) the running test was given.
std::string TestConfigHome();
std::string TestRuntimeDir();

// Where the programs keep their settings under the test's configuration
// folder.
inline std::string TestSettingsFile() { return TestConfigHome() + "/zelvaro/PREFS.DAT"; }

}  // namespace testing_support
