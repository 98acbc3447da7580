// The tests' main: GoogleTest's, with a listener that gives each test its
// own XDG_CONFIG_HOME and XDG_RUNTIME_DIR. It lives in the support library,
// which the linker searches for main, so no registration object can be
// dropped on the way.
#include "support/private_folders.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <optional>

namespace testing_support {
namespace {

std::string g_Root;  // "" between tests

class PrivateFolders : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    char pattern[] = "/tmp/zelvaro-test-XXXXXX";
    if (!mkdtemp(pattern)) {
      std::perror("cannot make the test's private folders");
      std::abort();
    }
    g_Root = pattern;
    mkdir(TestConfigHome().c_str(), 0700);
    mkdir(TestRuntimeDir().c_str(), 0700);
    Swap("XDG_CONFIG_HOME", TestConfigHome(), m_Config);
    Swap("XDG_RUNTIME_DIR", TestRuntimeDir(), m_Runtime);
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    Restore("XDG_CONFIG_HOME", m_Config);
    Restore("XDG_RUNTIME_DIR", m_Runtime);
    std::error_code ignored;
    std::filesystem::remove_all(g_Root, ignored);
    g_Root.clear();
  }

 private:
  static void Swap(const char* name, const std::string& value, std::optional<std::string>& old) {
    const char* was = std::getenv(name);
    old = was ? std::optional<std::string>(was) : std::nullopt;
    setenv(name, value.c_str(), 1);
  }
  static void Restore(const char* name, const std::optional<std::string>& old) {
    if (old)
      setenv(name, old->c_str(), 1);
    else
      unsetenv(name);
  }

  std::optional<std::string> m_Config, m_Runtime;
};

}  // namespace

std::string TestConfigHome() { return g_Root + "/config"; }
std::string TestRuntimeDir() { return g_Root + "/runtime"; }

}  // namespace testing_support

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new testing_support::PrivateFolders);
  return RUN_ALL_TESTS();
}
