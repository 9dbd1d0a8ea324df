// The tick count, FILETIME conversions and the known folders.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "platform/file_time.h"
#include "platform/known_folders.h"
#include "platform/temp_folder.h"
#include "platform/tick.h"

namespace perimo::platform {
namespace {

uint32_t fakeNow = 0;
uint32_t FakeClock() {
  return fakeNow;
}

TEST(Tick, CountsMillisecondsAndCanBeReplaced) {
  const uint32_t a = GetTickCount();
  const uint32_t b = GetTickCount();
  EXPECT_LT(static_cast<uint32_t>(b - a), 1000u);
  SetTickSourceForTesting(&FakeClock);
  fakeNow = 0xFFFFFFF0u;
  const uint32_t start = GetTickCount();
  fakeNow += 0x20;  // wraps past zero as after 49.7 days
  EXPECT_EQ(GetTickCount(), 0x10u);
  EXPECT_EQ(static_cast<uint32_t>(GetTickCount() - start), 0x20u);
  SetTickSourceForTesting(nullptr);
  EXPECT_LT(static_cast<uint32_t>(GetTickCount() - b), 1000u * 60);
}

TEST(FileTime, ConvertsToAndFromUnixTime) {
  EXPECT_EQ(FileTimeFromUnix(timespec{0, 0}), kFileTimeUnixEpoch);
  EXPECT_EQ(FileTimeFromUnix(timespec{1, 999}), kFileTimeUnixEpoch + 10000000 + 9);
  EXPECT_EQ(FileTimeFromUnix(timespec{-11644473601, 0}), 0u);      // before 1601
  const timespec back = UnixFromFileTime(kFileTimeUnixEpoch - 5);  // half a microsecond before 1970
  EXPECT_EQ(back.tv_sec, -1);
  EXPECT_EQ(back.tv_nsec, 999999500);
}

TEST(FileTime, LocalTimeUsesTheCurrentBias) {
  const char* saved = getenv("TZ");
  const std::string savedTz = saved ? saved : "";
  setenv("TZ", "EST5EDT", 1);
  tzset();
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  const int64_t bias = static_cast<int64_t>(local.tm_gmtoff) * 10000000;  // -5 h or -4 h now
  const FileTime winter = FileTimeFromUnix(timespec{1737000000, 0});      // January 2025
  EXPECT_EQ(static_cast<int64_t>(FileTimeToLocalFileTime(winter) - winter), bias);
  EXPECT_EQ(LocalFileTimeToFileTime(FileTimeToLocalFileTime(winter)), winter);
  const FileTime summer = FileTimeFromUnix(timespec{1752000000, 0});  // July 2025: same bias
  EXPECT_EQ(static_cast<int64_t>(FileTimeToLocalFileTime(summer) - summer), bias);
  if (saved) {
    setenv("TZ", savedTz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

class KnownFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
      const char* value = getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("HOME", home_.path().c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  testing::TempFolder home_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(KnownFoldersTest, UserFoldersFollowXdgWithDefaults) {
  EXPECT_EQ(UserSettingsFolder(), home_ / ".local/share");
  EXPECT_EQ(DocumentsFolder(), home_ / "Documents");
  setenv("XDG_DATA_HOME", "/var/data/", 1);
  EXPECT_EQ(UserSettingsFolder(), "/var/data");
  std::filesystem::create_directory(home_ / ".config");
  home_.Write(".config/user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
              "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  EXPECT_EQ(DocumentsFolder(), home_ / "Dokumente");
}

TEST(KnownFolders, ExecutableIsThisTestProgram) {
  const std::string path = ExecutablePath();
  EXPECT_EQ(path, std::filesystem::canonical("/proc/self/exe").string());
  EXPECT_EQ(ExecutableFolder() + "/" + std::filesystem::path(path).filename().string(), path);
}

}  // namespace
}  // namespace perimo::platform
