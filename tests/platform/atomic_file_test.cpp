#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

namespace perimo::platform {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// Runs the replace in a child that permissions bind: as root it first becomes an ordinary
// user that owns the file but not the folder. fileSizeLimit stands in for a full disk.
bool ReplaceAsOrdinaryUser(const std::string& path, const std::string& contents,
                           rlim_t fileSizeLimit = RLIM_INFINITY) {
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(2);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{fileSizeLimit, fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(ReplaceFileAtomically(path, contents) ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return false;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "could not drop privileges";
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class ReadOnlyFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(top.path(), fs::perms(0755));
    fs::create_directory(folder);
    top.Write("ro/Agent.ini", before);
    Own(file, 0644);
    fs::permissions(folder, fs::perms(0555));  // no new names in here
  }
  void TearDown() override { fs::permissions(folder, fs::perms(0755)); }

  void Own(const std::string& path, mode_t mode) {
    if (geteuid() == 0) {
      ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }
  size_t Entries() const { return std::distance(fs::directory_iterator(folder), {}); }

  testing::TempFolder top;
  std::string folder = top / "ro";
  std::string file = top / "ro/Agent.ini";
  std::string before = "[Agent]\r\nPort=4322\r\nPackSize=16384\r\n";
};

TEST_F(ReadOnlyFolderTest, WritableFileIsRewrittenInPlace) {
  // Shorter than before: the old tail must not survive.
  ASSERT_TRUE(ReplaceAsOrdinaryUser(file, "[Agent]\r\nPort=5000\r\n"));
  EXPECT_EQ(top.Read("ro/Agent.ini"), "[Agent]\r\nPort=5000\r\n");
  EXPECT_EQ(Entries(), 1u);
  EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));

  const std::string longer(4096, 'x');
  ASSERT_TRUE(ReplaceAsOrdinaryUser(file, longer));
  EXPECT_EQ(top.Read("ro/Agent.ini"), longer);
}

TEST_F(ReadOnlyFolderTest, FailureIsReportedAndTheFileKeptWhenTheRewriteFailsToo) {
  // No room for the new contents: refused before the first byte changes.
  EXPECT_FALSE(ReplaceAsOrdinaryUser(file, std::string(8192, 'x'), 1024));
  EXPECT_EQ(top.Read("ro/Agent.ini"), before);

  Own(file, 0444);
  EXPECT_FALSE(ReplaceAsOrdinaryUser(file, "changed"));
  EXPECT_EQ(top.Read("ro/Agent.ini"), before);

  // A new file needs the folder.
  EXPECT_FALSE(ReplaceAsOrdinaryUser(top / "ro/New.ini", "new"));
  EXPECT_EQ(Entries(), 1u);
}

// A replace killed between naming its temporary file and the rename leaves a complete
// sibling; the next replace of that file removes it and nothing else.
TEST(ReplaceFileAtomically, RemovesWhatAKilledReplaceOfTheFileLeft) {
  testing::TempFolder top;
  top.Write("site.ini", "old");
  const std::vector<std::string> stale = {".site.ini.0123ABCD.tmp", ".site.ini.FFFFFFFF.tmp"};
  const std::vector<std::string> kept = {".site.ini.0123abcd.tmp", ".site.ini.0123ABC.tmp",
                                         ".other.ini.0123ABCD.tmp", "tmp1234.tmp",
                                         ".site.ini.0123ABCD.tmp.bak"};
  for (const auto& name : stale) top.Write(name, "new");
  for (const auto& name : kept) top.Write(name, "x");
  ASSERT_TRUE(ReplaceFileAtomically(top / "site.ini", "new"));
  EXPECT_EQ(top.Read("site.ini"), "new");
  for (const auto& name : stale) EXPECT_FALSE(fs::exists(top / name)) << name;
  for (const auto& name : kept) EXPECT_TRUE(fs::exists(top / name)) << name;
}

}  // namespace
}  // namespace perimo::platform
