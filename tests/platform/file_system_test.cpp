#include "platform/file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/file_error.h"
#include "platform/paths.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

using testing::TempFolder;

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Drives().Clear();
    Drives().Set('D', folder_.path());
  }
  void TearDown() override { Drives().Clear(); }
  TempFolder folder_;
};

TEST_F(FileSystemTest, AttributesFollowTheWindowsMeaning) {
  folder_.Write("File.txt", "12345");
  folder_.Write(".profile", "");
  std::filesystem::create_directory(folder_ / "Sub");
  EXPECT_EQ(GetFileAttributes(u"D:\\file.TXT"), kAttrArchive);
  EXPECT_EQ(GetFileAttributes(u"D:\\.profile"), kAttrArchive | kAttrHidden);
  EXPECT_EQ(GetFileAttributes(u"D:\\sub"), kAttrDirectory);
  EXPECT_EQ(GetFileAttributes(u"D:\\none"), kInvalidAttributes);
  EXPECT_TRUE(IsFile(u"D:\\file.txt"));
  EXPECT_FALSE(IsFile(u"D:\\Sub"));
  EXPECT_TRUE(IsDirectory(u"D:\\SUB\\"));
  EXPECT_TRUE(PathExists(u"D:/Sub"));

  ASSERT_TRUE(SetFileAttributes(u"D:\\file.txt", kAttrReadOnly | kAttrSystem));
  EXPECT_EQ(GetFileAttributes(u"D:\\file.txt"), kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(std::filesystem::status(folder_ / "File.txt").permissions() &
                std::filesystem::perms::owner_write,
            std::filesystem::perms::none);
  ASSERT_TRUE(SetFileAttributes(u"D:\\file.txt", kAttrNormal));
  EXPECT_EQ(GetFileAttributes(u"D:\\file.txt"), kAttrArchive);
  EXPECT_EQ(GetFileSize(u"D:\\file.txt"), 5u);
}

TEST_F(FileSystemTest, TimesAreSetAndReadAsFileTimes) {
  folder_.Write("t", "");
  const FileTime write = kFileTimeUnixEpoch + 1234567890ULL * 10000000ULL + 5000;
  ASSERT_TRUE(SetFileTimes(u"D:\\t", FileTimes{0, 0, write}));
  const auto times = GetFileTimes(u"D:\\t");
  ASSERT_TRUE(times.has_value());
  EXPECT_EQ(times->write, write);
  EXPECT_NE(times->access, 0u);  // a zero time left the access time as it was
  EXPECT_NE(times->creation, 0u);
}

TEST_F(FileSystemTest, DirectoriesAreCreatedOneLevelAndRemovedWhenEmpty) {
  EXPECT_TRUE(CreateDirectory(u"D:\\NewDir"));
  EXPECT_TRUE(std::filesystem::is_directory(folder_ / "NewDir"));
  EXPECT_FALSE(CreateDirectory(u"D:\\newdir"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_FALSE(CreateDirectory(u"D:\\a\\b"));
  EXPECT_EQ(errno, ENOENT);
  folder_.Write("NewDir/x", "");
  EXPECT_FALSE(RemoveDirectory(u"D:\\newdir"));
  EXPECT_TRUE(DeleteFile(u"D:\\NEWDIR\\X"));
  EXPECT_TRUE(RemoveDirectory(u"D:\\newdir"));
  EXPECT_FALSE(DeleteFile(u"D:\\newdir"));
}

TEST_F(FileSystemTest, MoveRespectsReplaceAndCanChangeLetterCase) {
  folder_.Write("a.txt", "A");
  folder_.Write("b.txt", "B");
  EXPECT_FALSE(MoveFile(u"D:\\a.txt", u"D:\\B.TXT", false));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_TRUE(MoveFile(u"D:\\a.txt", u"D:\\B.TXT", true));
  EXPECT_EQ(folder_.Read("b.txt"), "A");
  EXPECT_TRUE(MoveFile(u"D:\\b.txt", u"D:\\B.Txt", false));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "B.Txt"));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "b.txt"));
}

TEST_F(FileSystemTest, CopyKeepsContentAndWriteTimeAndNeverEmptiesItsSource) {
  folder_.Write("src", "payload");
  ASSERT_TRUE(SetFileTimes(u"D:\\src", FileTimes{0, 0, kFileTimeUnixEpoch + 10000000ULL * 1000}));
  EXPECT_TRUE(CopyFile(u"D:\\SRC", u"D:\\dst", true));
  EXPECT_EQ(folder_.Read("dst"), "payload");
  EXPECT_EQ(GetFileTimes(u"D:\\dst")->write, kFileTimeUnixEpoch + 10000000ULL * 1000);
  EXPECT_FALSE(CopyFile(u"D:\\src", u"D:\\dst", true));
  EXPECT_FALSE(CopyFile(u"D:\\src", u"D:\\Src", false));
  EXPECT_EQ(folder_.Read("src"), "payload");
  EXPECT_FALSE(CopyFile(ToWirePath("/dev/zero"), u"D:\\zero", false));  // would never end
  EXPECT_FALSE(std::filesystem::exists(folder_ / "zero"));
}

TEST_F(FileSystemTest, TempFilesAreNewAndExclusive) {
  int fd = -1;
  const auto first = CreateTempFile(u"D:\\", &fd);
  ASSERT_TRUE(first.has_value());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "x", 1), 1);
  close(fd);
  const auto second = CreateTempFile(u"D:");
  ASSERT_TRUE(second.has_value());
  EXPECT_NE(*first, *second);
  const std::u16string name = FileNamePart(*first);
  EXPECT_EQ(name.size(), 11u);
  EXPECT_EQ(name.substr(0, 3), u"tmp");
  EXPECT_EQ(name.substr(7), u".tmp");
  EXPECT_EQ(folder_.Read(ToUtf8(name)), "x");
  EXPECT_FALSE(CreateTempFile(u"D:\\missing").has_value());
}

TEST_F(FileSystemTest, OpenFileAndFreeSpaceWorkOnWirePaths) {
  const int fd = OpenFile(u"D:\\New.bin", O_WRONLY | O_CREAT | O_EXCL);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_TRUE(std::filesystem::exists(folder_ / "New.bin"));
  EXPECT_LT(OpenFile(u"Q:\\x", O_RDONLY), 0);
  ASSERT_EQ(mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  const int fifo = OpenFile(u"D:\\fifo", O_RDONLY);  // no writer: must not block
  EXPECT_GE(fifo, 0);
  close(fifo);
  EXPECT_GT(FreeDiskSpace(u"D:\\").value_or(0), 0u);
}

TEST(FileErrorCause, EveryErrnoMapsIntoTheCauseTable) {
  const struct {
    int err;
    uint32_t cause;
  } cases[] = {
      {0, 1},          {ENOENT, 2}, {ENOTDIR, 3}, {ELOOP, 3},   {ENAMETOOLONG, 3}, {EMFILE, 4},
      {ENFILE, 4},     {EACCES, 5}, {EPERM, 5},   {EROFS, 5},   {EISDIR, 5},       {EEXIST, 5},
      {ENOTEMPTY, 5},  {EBADF, 6},  {EMLINK, 8},  {ESPIPE, 9},  {EIO, 10},         {ENXIO, 10},
      {ETXTBSY, 11},   {EBUSY, 11}, {EAGAIN, 12}, {ENOLCK, 12}, {ENOSPC, 13},      {EFBIG, 13},
      {EDQUOT, 13},    {ENOMEM, 1}, {EINVAL, 1},  {EXDEV, 1},   {EPROTO, 1},       {EINTR, 1},
      {ECONNRESET, 1}, {-1, 1},     {100000, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(FileErrorCause(c.err), c.cause) << "errno " << c.err;
  for (int err = -10; err < 4096; ++err) {
    EXPECT_LE(FileErrorCause(err), 14u) << "errno " << err;
  }
}

}  // namespace
}  // namespace perimo::platform
