// The system services: one running instance per program and user, with the
// requests of later starts to come to the front, the runtime folder those
// live in, and the memory the system says is available.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/services/instance.h"
#include "platform/services/sysinfo.h"
#include "support/headless.h"
#include "support/process.h"
#include "support/wav.h"

namespace {

using testing_support::HeadlessTest;
using testing_support::TempDir;

constexpr UINT kRaise = WM_APP + 9;

class Instance : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    hadRuntime = old != nullptr;
    if (old) savedRuntime = old;
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    hwnd = OpenWindow("InstanceTest", nullptr, "", 0);
    ASSERT_NE(hwnd, nullptr);
  }
  void TearDown() override {
    DestroyWindow(hwnd);
    if (hadRuntime)
      setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }

  // How many raise requests reach the window within `ms` of real time.
  int RaisesWithin(int ms) {
    int n = 0;
    testing_support::WaitFor(
        [&] {
          MSG m;
          while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE))
            if (m.hwnd == hwnd && m.message == kRaise) n++;
          return false;
        },
        ms);
    return n;
  }

  TempDir runtime;
  std::string savedRuntime;
  bool hadRuntime = false;
  HWND hwnd = nullptr;
};

TEST_F(Instance, TheFirstClaimHoldsAndLaterOnesAskItToComeForward) {
  SingleInstance first, second, third, other;
  ASSERT_EQ(first.Claim("zelvaro-test"), SingleInstance::kFirst);
  // A request before the window exists waits for it, and counts once.
  EXPECT_EQ(second.Claim("zelvaro-test"), SingleInstance::kOther);
  EXPECT_EQ(third.Claim("zelvaro-test"), SingleInstance::kOther);
  first.SetWindow(hwnd, kRaise);
  EXPECT_EQ(RaisesWithin(200), 1);
  EXPECT_EQ(second.Claim("zelvaro-test"), SingleInstance::kOther);
  EXPECT_EQ(RaisesWithin(200), 1);
  // Another program's name is another lock.
  EXPECT_EQ(other.Claim("zelvaro-other"), SingleInstance::kFirst);

  struct stat st {};
  ASSERT_EQ(stat((runtime.Path() + "/zelvaro-test.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  ASSERT_EQ(stat((runtime.Path() + "/zelvaro-test.socket").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));

  first.Release();
  EXPECT_NE(stat((runtime.Path() + "/zelvaro-test.socket").c_str(), &st), 0);
  EXPECT_EQ(second.Claim("zelvaro-test"), SingleInstance::kFirst);
}

TEST_F(Instance, ALockLeftByAProcessThatDiedIsFreeAndItsSocketIsReplaced) {
  // A child takes the lock and is killed: the kernel drops its lock. (The
  // child waits for the lock, which the probe below holds for a moment.)
  pid_t child = testing_support::StartProcess(
      {"flock", "--no-fork", runtime.Path() + "/zelvaro-test.lock", "sleep", "30"}, {}, "", "");
  ASSERT_GT(child, 0);
  const std::string lock = runtime.Path() + "/zelvaro-test.lock";
  ASSERT_TRUE(testing_support::WaitFor(
      [&] { return system(("flock -n " + lock + " true").c_str()) != 0; }, 5000));
  testing_support::StopProcess(child, SIGKILL, 5000);
  testing_support::WriteFile(runtime.Path() + "/zelvaro-test.socket", {'x'});

  SingleInstance first, second;
  ASSERT_EQ(first.Claim("zelvaro-test"), SingleInstance::kFirst);
  first.SetWindow(hwnd, kRaise);
  EXPECT_EQ(second.Claim("zelvaro-test"), SingleInstance::kOther);
  EXPECT_EQ(RaisesWithin(200), 1);
}

TEST_F(Instance, WithoutASocketPathThatFitsTheLockStillDecides) {
  // Unix socket paths hold 107 bytes; the lock works with any path.
  std::string deep = runtime.Path() + "/" + std::string(100, 'd');
  ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", deep.c_str(), 1);
  SingleInstance first, second;
  EXPECT_EQ(first.Claim("zelvaro-test"), SingleInstance::kFirst);
  first.SetWindow(hwnd, kRaise);
  EXPECT_EQ(second.Claim("zelvaro-test"), SingleInstance::kNoAnswer);
  EXPECT_EQ(RaisesWithin(100), 0);
}

TEST_F(Instance, TheRuntimeFolderIsTheUsersOwnOrAPrivateOneInTmp) {
  EXPECT_EQ(SingleInstance::RuntimeFolder(nullptr), runtime.Path());
  const std::string fallback = "/tmp/zelvaro-" + std::to_string(getuid());
  for (const char* unusable : {"relative/path", "/nonexistent/zelvaro", ""}) {
    setenv("XDG_RUNTIME_DIR", unusable, 1);
    std::string error;
    std::string folder = SingleInstance::RuntimeFolder(&error);
    ASSERT_EQ(folder, fallback) << unusable << ": " << error;
    struct stat st {};
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_uid, getuid());
    EXPECT_EQ(st.st_mode & 077, 0u);
  }
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(SingleInstance::RuntimeFolder(nullptr), fallback);
  // A name with a folder in it is no program name.
  SingleInstance odd;
  EXPECT_EQ(odd.Claim("../zelvaro"), SingleInstance::kUnknown);
  EXPECT_EQ(odd.Claim(""), SingleInstance::kUnknown);
}

TEST(SystemMemory, MemAvailableIsReadInKilobytesAndNothingElseCounts) {
  unsigned long long bytes = 0;
  EXPECT_TRUE(
      ParseMemAvailable("MemTotal:  999 kB\nMemFree: 5 kB\nMemAvailable:    2000 kB\n", &bytes));
  EXPECT_EQ(bytes, 2048000u);
  EXPECT_TRUE(ParseMemAvailable("MemAvailable: 0 kB", &bytes));
  EXPECT_EQ(bytes, 0u);
  for (const char* bad :
       {"MemFree: 2000 kB\n", "MemAvailable: kB\n", "MemAvailable: -5 kB\n", "MemAvailable: 12\n",
        "MemAvailable: 12 MB\n", "MemAvailable: 99999999999999999999 kB\n", ""}) {
    bytes = 7;
    EXPECT_FALSE(ParseMemAvailable(bad, &bytes)) << bad;
    EXPECT_EQ(bytes, 7u) << bad;
  }
  // This machine says how much it has.
  EXPECT_TRUE(AvailableMemory(&bytes));
  EXPECT_GT(bytes, 0u);
}

}  // namespace
