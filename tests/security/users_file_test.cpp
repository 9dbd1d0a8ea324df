#include "security/users_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/paths.h"
#include "platform/temp_folder.h"

namespace perimo {
namespace {

std::vector<uint8_t> Field(std::u16string_view text) {
  uint8_t field[kScrambledFieldSize];
  ScrambleText(text, field);
  return {field, field + kScrambledFieldSize};
}

TEST(ScrambledField, StoresBackToFrontInverted) {
  std::vector<uint8_t> ab(30, 0xFF);
  ab.push_back(0x9D);
  ab.push_back(0x9E);
  EXPECT_EQ(Field(u"ab"), ab);
  EXPECT_EQ(Field(u""), std::vector<uint8_t>(32, 0xFF));

  const std::u16string full = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
  const auto bytes = Field(full);
  EXPECT_EQ(bytes[0], static_cast<uint8_t>(~'5'));
  EXPECT_EQ(bytes[31], static_cast<uint8_t>(~'A'));
  uint8_t field[kScrambledFieldSize];
  std::copy(bytes.begin(), bytes.end(), field);
  EXPECT_EQ(UnscrambleText(field), full);
  // Longer texts keep their first 32 characters.
  EXPECT_EQ(Field(full + u"6789"), bytes);
}

TEST(UsersFileBytes, OneUserLayout) {
  UserList users{{u"ab", u"pw", {1, 0, 1, 0, 0x0102}}};
  std::vector<uint8_t> expected{1, 0, 1, 0, 1, 0};
  for (auto part : {Field(u"ab"), Field(u"pw")})
    expected.insert(expected.end(), part.begin(), part.end());
  for (uint8_t b : {1, 0, 0, 0, 1, 0, 0, 0, 2, 1}) expected.push_back(b);
  EXPECT_EQ(SerializeUsersFile(users, true), expected);

  const UsersFileContents back = ParseUsersFile(expected);
  EXPECT_TRUE(back.securityEnabled);
  ASSERT_EQ(back.users.size(), 1u);
  EXPECT_EQ(back.users[0].userName, u"ab");
  EXPECT_EQ(back.users[0].password, u"pw");
  EXPECT_EQ(back.users[0].rights, (Rights{1, 0, 1, 0, 0x0102}));
}

TEST(UsersFileBytes, WrongVersionOrEmptyLoadsNothing) {
  auto bytes = SerializeUsersFile({{u"a", u"", {1, 1, 1, 1, 1}}}, true);
  bytes[0] = 2;
  const UsersFileContents v2 = ParseUsersFile(bytes);
  EXPECT_FALSE(v2.securityEnabled);
  EXPECT_TRUE(v2.users.empty());
  EXPECT_TRUE(ParseUsersFile({}).users.empty());
}

// Every cut of a two-user file keeps what came before it.
TEST(UsersFileBytes, TruncatedFileKeepsWhatWasRead) {
  const UserList users{{u"first", u"one", {1, 2, 3, 4, 5}}, {u"second", u"two", {6, 7, 8, 9, 10}}};
  const auto bytes = SerializeUsersFile(users, true);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    const UsersFileContents c = ParseUsersFile(std::span(bytes).first(cut));
    EXPECT_EQ(c.securityEnabled, cut >= 4) << cut;
    const size_t records =
        cut < 6 ? 0 : (cut - 6 + 10) / 74;  // a user appears once both fields are in
    ASSERT_EQ(c.users.size(), std::min<size_t>(records, 2)) << cut;
    if (c.users.empty()) continue;
    const UserAccount& last = c.users.back();
    const size_t base = 6 + 74 * (c.users.size() - 1) + 64;
    for (size_t w = 0; w < 5; ++w) {
      const uint16_t expected = base + 2 * w + 2 <= cut ? users[c.users.size() - 1].rights[w] : 0;
      EXPECT_EQ(last.rights[w], expected) << "cut " << cut << " word " << w;
    }
  }
}

class UsersFileOnDisk : public ::testing::Test {
 protected:
  testing::TempFolder folder;
  std::u16string path = platform::ToWirePath(folder / "Users.dat");
};

TEST_F(UsersFileOnDisk, LongNamesAndWideCharactersSurviveAsBytes) {
  const std::u16string name32(32, u'n');
  const std::u16string password32 = u"P@ssw0rd-P@ssw0rd-P@ssw0rd-12345";
  const UserList users{{name32, password32, {1, 1, 0, 0, 1}},
                       {u"\u0141ukasz", u"", {0, 0, 0, 0, 0}}};
  ASSERT_TRUE(SaveUsers(path, users, true));
  EXPECT_EQ(std::filesystem::file_size(folder / "Users.dat"), 6u + 2 * 74);

  UserList loaded{{u"stale", u"", {}}};
  bool enabled = false;
  LoadUsers(path, loaded, enabled);
  EXPECT_TRUE(enabled);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].userName, name32);
  EXPECT_EQ(loaded[0].password, password32);
  EXPECT_EQ(loaded[0].rights, (Rights{1, 1, 0, 0, 1}));
  EXPECT_EQ(loaded[1].userName, u"Aukasz");  // U+0141 keeps its low byte 0x41
  EXPECT_EQ(loaded[1].password, u"");
}

TEST_F(UsersFileOnDisk, NewFileIsForItsOwnerOnlyAndAnExistingFileKeepsItsMode) {
  const mode_t oldMask = umask(0);  // even the widest umask gives a new file 0600
  const bool saved = SaveUsers(path, {{u"admin", u"secret", {1, 1, 1, 1, 1}}}, true);
  umask(oldMask);
  ASSERT_TRUE(saved);
  struct stat st {};
  ASSERT_EQ(stat((folder / "Users.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  ASSERT_EQ(chmod((folder / "Users.dat").c_str(), 0640), 0);
  ASSERT_TRUE(SaveUsers(path, {}, false));
  ASSERT_EQ(stat((folder / "Users.dat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(UsersFileOnDisk, MissingFileGivesNoUsersAndSecurityOff) {
  UserList users{{u"stale", u"", {}}};
  bool enabled = true;
  LoadUsers(path, users, enabled);
  EXPECT_TRUE(users.empty());
  EXPECT_FALSE(enabled);
  EXPECT_FALSE(SaveUsers(platform::ToWirePath(folder / "no-such-folder/Users.dat"), {}, true));
}

TEST_F(UsersFileOnDisk, FailedSaveKeepsTheEarlierFile) {
  const UserList before{{u"admin", u"secret", {1, 1, 1, 1, 1}}};
  ASSERT_TRUE(SaveUsers(path, before, true));
  const std::string original = folder.Read("Users.dat");

  UserList many;
  for (int i = 0; i < 50; ++i) many.push_back({u"user" + std::u16string(1, u'A' + i), u"", {}});
  // A file-size limit far below the new file makes the write fail half-way.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{200, 200};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(SaveUsers(path, many, false) ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(folder.Read("Users.dat"), original);
  size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1u) << "the temporary file was left behind";

  UserList loaded;
  bool enabled = false;
  LoadUsers(path, loaded, enabled);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].userName, u"admin");
}

}  // namespace
}  // namespace perimo
