// PREFS.DAT: byte images, defaults, short and long files, out-of-range
// values, a save that cannot damage the file, and the taking over of an
// earlier version's file in the current folder (where the file lives is
// the whole-program tests' part).
#include "tuner/prefs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "support/private_folders.h"
#include "support/process.h"
#include "support/wav.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

using Bytes = std::vector<unsigned char>;

class Prefs : public ::testing::Test {
 protected:
  void SetUp() override {
    TriggerLevel = 1;
    MeterAdjust = 0;
    path = dir.File("PREFS.DAT");
  }
  void Load(const Bytes& bytes) {
    WriteFile(path, bytes);
    ReadPrefsFrom(path);
  }
  TempDir dir;
  std::string path;
};

TEST_F(Prefs, MissingFileKeepsTheBuiltInValuesAndExitWritesThem) {
  ReadPrefsFrom(path);
  EXPECT_EQ(TriggerLevel, 1);
  EXPECT_EQ(MeterAdjust, 0);
  ASSERT_TRUE(WritePrefsTo(path));
  EXPECT_EQ(ReadFile(path), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(Prefs, ByteImages) {
  Load({2, 0, 0, 0, 0x9C, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(TriggerLevel, 2);
  EXPECT_EQ(MeterAdjust, -100);
  Load({3, 0, 0, 0, 0x65, 0, 0, 0});  // 101 is out of range
  EXPECT_EQ(TriggerLevel, 3);
  EXPECT_EQ(MeterAdjust, 0);

  TriggerLevel = 3;
  MeterAdjust = 7;
  ASSERT_TRUE(WritePrefsTo(path));
  EXPECT_EQ(ReadFile(path), (Bytes{3, 0, 0, 0, 7, 0, 0, 0}));
  MeterAdjust = -2;
  ASSERT_TRUE(WritePrefsTo(path));
  EXPECT_EQ(ReadFile(path), (Bytes{3, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Prefs, OutOfRangeTriggerLoadsAsTheBuiltInLevel) {
  Load({4, 0, 0, 0, 5, 0, 0, 0});
  EXPECT_EQ(TriggerLevel, 1);
  EXPECT_EQ(MeterAdjust, 5);
  Load({0xFF, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0});
  EXPECT_EQ(TriggerLevel, 1);
  Load({0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(TriggerLevel, 0);
}

TEST_F(Prefs, ShortFilesFillOnlyTheLowOrderBytesTheyHave) {
  TriggerLevel = 1;
  MeterAdjust = 0;
  Load({2, 0, 0, 0});  // only the trigger level
  EXPECT_EQ(TriggerLevel, 2);
  EXPECT_EQ(MeterAdjust, 0);
  MeterAdjust = 0x300;  // out of range until its low byte is replaced
  Load({3, 0, 0, 0, 0x05});
  EXPECT_EQ(TriggerLevel, 3);
  EXPECT_EQ(MeterAdjust, 0);  // 0x305 fails the range check
  TriggerLevel = 2;
  Load({});
  EXPECT_EQ(TriggerLevel, 2);
}

TEST_F(Prefs, LongFileReadsEightBytesAndTheNextSaveDropsTheRest) {
  Load({2, 0, 0, 0, 9, 0, 0, 0, 0xAA, 0xBB});
  EXPECT_EQ(TriggerLevel, 2);
  EXPECT_EQ(MeterAdjust, 9);
  ASSERT_TRUE(WritePrefsTo(path));
  EXPECT_EQ(ReadFile(path).size(), 8u);
}

TEST_F(Prefs, FailedSaveLeavesNoTemporaryFileAndNoDamage) {
  // PREFS.DAT is a folder here, so it cannot be replaced.
  ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WritePrefsTo(path));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("PREFS.DAT"), std::string::npos) << err;
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  // Only the folder itself is left behind.
  EXPECT_EQ(testing_support::RunCommand("ls -A " + testing_support::ShellQuote(dir.Path())).Out,
            "PREFS.DAT\n");
}

TEST_F(Prefs, AnEarlierVersionsFileInTheCurrentFolderIsTakenOverOnlyWhenItIsSound) {
  testing_support::CurrentFolder here(dir.Path());
  const std::string usual = testing_support::TestSettingsFile();
  struct Case {
    Bytes old;
    bool taken;
  } cases[] = {
      {{2, 0, 0, 0, 0xF6, 0xFF, 0xFF, 0xFF}, true},
      {{0, 0, 0, 0, 100, 0, 0, 0}, true},
      {{2, 0, 0, 0, 0xF6, 0xFF, 0xFF}, false},           // short
      {{2, 0, 0, 0, 0xF6, 0xFF, 0xFF, 0xFF, 0}, false},  // long
      {{4, 0, 0, 0, 0, 0, 0, 0}, false},                 // no such trigger level
      {{1, 0, 0, 0, 0x65, 0, 0, 0}, false},              // adjustment 101
      {{1, 0, 0, 0, 0x9B, 0xFF, 0xFF, 0xFF}, false},     // adjustment -101
  };
  for (const Case& c : cases) {
    std::remove(usual.c_str());
    WriteFile(path, c.old);
    TriggerLevel = 1;
    MeterAdjust = 0;
    testing::internal::CaptureStderr();
    ReadPrefs();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(TriggerLevel, c.taken ? c.old[0] : 1) << c.old.size();
    EXPECT_EQ(MeterAdjust, c.taken ? static_cast<int8_t>(c.old[4]) : 0) << c.old.size();
    EXPECT_EQ(ReadFile(usual), c.taken ? c.old : Bytes{}) << c.old.size();
    EXPECT_EQ(ReadFile(path), c.old);  // left as it was
    EXPECT_EQ(err.find(usual) != std::string::npos, c.taken) << err;
  }
  // Once the usual file exists, the old one is no longer looked at.
  WriteFile(path, {3, 0, 0, 0, 0, 0, 0, 0});
  WriteFile(usual, {2, 0, 0, 0, 5, 0, 0, 0});
  ReadPrefs();
  EXPECT_EQ(TriggerLevel, 2);
  EXPECT_EQ(MeterAdjust, 5);
}

TEST_F(Prefs, TheSaveKeepsPermissionsFollowsNothingPlantedAndLeavesAnUnchangedFileAlone) {
  auto modeOf = [](const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  auto inodeOf = [](const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  const mode_t oldMask = umask(027);
  ASSERT_TRUE(WritePrefsTo(path));
  EXPECT_EQ(modeOf(path), 0640u);  // a new file: 0666 less the umask
  umask(oldMask);

  // Whatever stands under a temporary name someone could guess is left alone.
  const std::string victim = dir.File("victim");
  WriteFile(victim, Bytes(100, 'v'));
  ASSERT_EQ(symlink(victim.c_str(), (path + ".tmp." + std::to_string(getpid())).c_str()), 0);
  ASSERT_EQ(chmod(path.c_str(), 0604), 0);
  MeterAdjust = 5;
  ASSERT_TRUE(WritePrefsTo(path));
  EXPECT_EQ(ReadFile(path), (Bytes{1, 0, 0, 0, 5, 0, 0, 0}));
  EXPECT_EQ(ReadFile(victim), Bytes(100, 'v'));
  EXPECT_EQ(modeOf(path), 0604u);
  EXPECT_EQ(
      testing_support::RunCommand("ls -A " + testing_support::ShellQuote(dir.Path()) + " | wc -l")
          .Out,
      "3\n");  // PREFS.DAT, the victim and the planted link: no temporary file

  // The same settings again: the very same file stays.
  const auto inode = inodeOf(path);
  ASSERT_TRUE(WritePrefsTo(path));
  EXPECT_EQ(inodeOf(path), inode);
  MeterAdjust = 6;
  ASSERT_TRUE(WritePrefsTo(path));
  EXPECT_NE(inodeOf(path), inode);
}

}  // namespace
