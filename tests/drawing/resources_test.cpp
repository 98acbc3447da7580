// The resource table built from resources/: every file is there under its
// name and type, bitmaps start at their info header, and the lookup calls
// handle what they are given.
#include "platform/winapi/resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "support/wav.h"

namespace {

using testing_support::ReadFile;
using Bytes = std::vector<unsigned char>;

Bytes Resource(const char* name, const char* type) {
  HRSRC r = FindResource(nullptr, name, type);
  if (!r) return {};
  auto* p = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, r)));
  return Bytes(p, p + SizeofResource(nullptr, r));
}

TEST(ResourceTable, HoldsEveryFileOfTheResourceFolder) {
  std::string folder = std::string(ZELVARO_SOURCE_DIR) + "/resources";
  size_t expected = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string name = entry.path().stem().string(), ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    Bytes file = ReadFile(entry.path().string());
    if (ext == ".BMP") {
      // A bitmap resource is the file without its 14-byte file header.
      EXPECT_EQ(Resource(name.c_str(), RT_BITMAP), Bytes(file.begin() + 14, file.end())) << name;
      expected += 1;
    } else if (ext == ".INF") {
      EXPECT_EQ(Resource(name.c_str(), "TEXT"), file) << name;
      EXPECT_EQ(Resource(name.c_str(), "INFO"), file) << name;
      expected += 2;
    } else if (ext == ".ICO") {
      EXPECT_EQ(Resource(name.c_str(), RT_ICON), file) << name;
      expected += 1;
    }
  }
  EXPECT_EQ(ResourceCount(), expected);
  for (size_t i = 0; i < ResourceCount(); i++) {
    const ResourceEntry& e = ResourceAt(i);
    EXPECT_EQ(FindResource(nullptr, e.Name, e.Type), &e) << e.Name << " " << e.Type;
  }
}

TEST(ResourceTable, NamesAndTypesMatchWithoutRegardToCase) {
  HRSRC meter = FindResource(nullptr, "METER", RT_BITMAP);
  ASSERT_NE(meter, nullptr);
  EXPECT_EQ(FindResource(nullptr, "meter", "bitmap"), meter);
  EXPECT_EQ(FindResource(nullptr, "Meter", MAKEINTRESOURCE(2)), meter);
  EXPECT_NE(FindResource(nullptr, "font3", "text"), nullptr);
  // A name must match whole, and in the type asked for.
  EXPECT_EQ(FindResource(nullptr, "METE", RT_BITMAP), nullptr);
  EXPECT_EQ(FindResource(nullptr, "METER_SMALLER", RT_BITMAP), nullptr);
  EXPECT_EQ(FindResource(nullptr, "METER", "TEXT"), nullptr);
  EXPECT_EQ(FindResource(nullptr, "METER", RT_RCDATA), nullptr);
  EXPECT_EQ(FindResource(nullptr, MAKEINTRESOURCE(3), RT_STRING), nullptr);
}

TEST(ResourceTable, NullArgumentsFindAndLoadNothing) {
  EXPECT_EQ(FindResource(nullptr, nullptr, RT_BITMAP), nullptr);
  EXPECT_EQ(FindResource(nullptr, "METER", nullptr), nullptr);
  EXPECT_EQ(LoadResource(nullptr, nullptr), nullptr);
  EXPECT_EQ(LockResource(nullptr), nullptr);
  EXPECT_EQ(SizeofResource(nullptr, nullptr), 0u);
}

}  // namespace
