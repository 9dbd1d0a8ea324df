#include "platform/profile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/json_reader.h"
#include "platform/paths.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

using testing::Json;
using testing::TempFolder;

std::vector<std::u16string> SplitLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of(u"\r\n", start);
    if (end == std::u16string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end;
    if (start < text.size() && text[start] == u'\r') ++start;
    if (start < text.size() && text[start] == u'\n') ++start;
  }
  return lines;
}

std::string Utf8(const Json& j) {
  return ToUtf8(j.text);
}

class ProfileTest : public ::testing::Test {
 protected:
  std::u16string WirePath(const std::string& name) { return ToWirePath(folder_ / name); }
  void Prepare(const std::string& name, const Json& text) {
    std::filesystem::remove(folder_ / name);
    if (!text.IsNull()) folder_.Write(name, Utf8(text));
  }
  TempFolder folder_;
};

TEST_F(ProfileTest, ReadsStringsAsRecorded) {
  const Json table = testing::LoadConformanceTable("profile-read.json");
  ASSERT_FALSE(table["cases"].items.empty());
  for (const Json& c : table["cases"].items) {
    SCOPED_TRACE(c["id"].Ascii() + ": " + c["title"].Ascii());
    Prepare("case.ini", c["file"]);
    // One case reads from a folder that does not exist.
    const std::u16string file =
        c["id"].Ascii() == "r-miss-08" ? WirePath("nodir/case.ini") : WirePath("case.ini");
    for (const Json& call : c["calls"].items) {
      std::u16string out = u"garbage";
      const uint32_t count =
          GetPrivateProfileString(call["section"].text, call["key"].text, call["default"].text, out,
                                  static_cast<uint32_t>(call["size"].number), file);
      EXPECT_EQ(ToUtf8(out), Utf8(call["expect"]["string"]));
      EXPECT_EQ(count, static_cast<uint32_t>(call["expect"]["count"].number));
    }
  }
}

TEST_F(ProfileTest, ReadsIntegersAsRecorded) {
  const Json table = testing::LoadConformanceTable("profile-int.json");
  ASSERT_FALSE(table["cases"].items.empty());
  for (const Json& c : table["cases"].items) {
    SCOPED_TRACE(c["id"].Ascii() + ": " + c["title"].Ascii());
    Prepare("case.ini", c["file"]);
    EXPECT_EQ(GetPrivateProfileInt(c["section"].text, c["key"].text,
                                   static_cast<int32_t>(c["default"].number), WirePath("case.ini")),
              static_cast<uint32_t>(c["expect"].number));
  }
}

TEST_F(ProfileTest, WritesAsRecorded) {
  const Json table = testing::LoadConformanceTable("profile-write.json");
  ASSERT_FALSE(table["cases"].items.empty());
  for (const Json& c : table["cases"].items) {
    SCOPED_TRACE(c["id"].Ascii() + ": " + c["title"].Ascii());
    Prepare("case.ini", c["before"]);
    for (const Json& w : c["writes"].items) {
      EXPECT_TRUE(WritePrivateProfileString(w["section"].text, w["key"].text, w["value"].text,
                                            WirePath("case.ini")));
    }
    EXPECT_EQ(SplitLines(FromUtf8(folder_.Read("case.ini"))), SplitLines(c["after"].text));
  }
}

// Rules the recorded tables do not cover.
TEST_F(ProfileTest, QuotedDefaultsLoseTheirQuotesAndTheirCount) {
  const struct {
    std::u16string_view defaultValue;
    uint32_t size;
    std::u16string_view expect;
  } cases[] = {
      {u"\"dflt\"", 256, u"dflt"},   {u"'dflt'", 256, u"dflt"},
      {u"\"dflt\"  ", 256, u"dflt"}, {u"\" a b \"", 256, u" a b "},
      {u"\"\"", 256, u""},           {u"\"dflt'", 256, u"\"dflt'"},
      {u"\"", 256, u"\""},           {u"\"DefaultValue\"", 5, u"Defa"},
  };
  folder_.Write("case.ini", "[S]\r\n");
  for (const auto& c : cases) {
    std::u16string out;
    const uint32_t count =
        GetPrivateProfileString(u"S", u"x", c.defaultValue, out, c.size, WirePath("case.ini"));
    EXPECT_EQ(out, c.expect) << ToUtf8(c.defaultValue);
    EXPECT_EQ(count, c.expect.size()) << ToUtf8(c.defaultValue);
  }
}

TEST_F(ProfileTest, WriteTurnsALineWithoutEqualsIntoTheKey) {
  const struct {
    const char* before;
    std::u16string_view key;
    const char* after;
  } cases[] = {
      {"[S]\r\njustkey\r\nk=v\r\n", u"justkey", "[S]\r\njustkey=new\r\nk=v\r\n"},
      {"[S]\r\n  JustKey \r\n[T]\r\n", u"justkey", "[S]\r\nJustKey=new\r\n[T]\r\n"},
      // Only inside the section written to, and the first match wins.
      {"justkey\r\n[S]\r\nk\r\nk=v\r\n", u"k", "justkey\r\n[S]\r\nk=new\r\nk=v\r\n"},
      {"[S]\r\n\r\nk=v\r\n", u"", "[S]\r\n\r\nk=v\r\n=new\r\n"},  // a blank line is no key
  };
  for (const auto& c : cases) {
    folder_.Write("case.ini", c.before);
    ASSERT_TRUE(WritePrivateProfileString(u"S", c.key, u"new", WirePath("case.ini")));
    EXPECT_EQ(folder_.Read("case.ini"), c.after) << c.before;
    EXPECT_EQ(ReadProfileString(u"S", c.key, u"<d>", WirePath("case.ini")), u"new") << c.before;
  }
}

TEST_F(ProfileTest, KeepsTheEncodingAndLineEndsOfTheFile) {
  folder_.Write("wide.ini", std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0\xE9\0\n\0", 18));
  EXPECT_EQ(ReadProfileString(u"S", u"k", u"", WirePath("wide.ini")), u"\u00E9");
  ASSERT_TRUE(WritePrivateProfileString(u"S", u"n", u"\u0141", WirePath("wide.ini")));
  EXPECT_EQ(folder_.Read("wide.ini"),
            std::string("\xFF\xFE[\0S\0]\0\n\0k\0=\0\xE9\0\n\0n\0=\0\x41\x01\n\0", 26));

  folder_.Write("bom.ini", "\xEF\xBB\xBF[S]\nk=\xC3\xA9\n");
  EXPECT_EQ(ReadProfileString(u"s", u"K", u"", WirePath("bom.ini")), u"\u00E9");
  ASSERT_TRUE(WritePrivateProfileString(u"S", u"k", u"x", WirePath("bom.ini")));
  EXPECT_EQ(folder_.Read("bom.ini"), "\xEF\xBB\xBF[S]\nk=x\n");

  folder_.Write("latin1.ini", "[S]\r\nk=caf\xE9\r\n");  // not UTF-8: a Windows code page
  EXPECT_EQ(ReadProfileString(u"S", u"k", u"", WirePath("latin1.ini")), u"caf\u00E9");
}

TEST_F(ProfileTest, FailedWriteLeavesTheEarlierFileIntact) {
  const std::string before = "[S]\r\nk=old\r\n";
  folder_.Write("full.ini", before);
  const std::u16string wire = WirePath("full.ini");
  const std::u16string big(8192, u'x');
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A file-size limit stands in for a full disk: writes past 1 KiB fail with EFBIG.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(WritePrivateProfileString(u"S", u"k", big, wire) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write must report its failure";
  EXPECT_EQ(folder_.Read("full.ini"), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1)
      << "the temporary file must be removed";
  EXPECT_TRUE(WritePrivateProfileString(u"S", u"k", big, wire));  // no limit: it fits
  EXPECT_EQ(ReadProfileString(u"S", u"k", u"", wire), big);
}

TEST_F(ProfileTest, WriteKeepsTheModeAndFollowsALink) {
  folder_.Write("real.ini", "[S]\nk=1\n");
  std::filesystem::permissions(folder_ / "real.ini", std::filesystem::perms(0640));
  std::filesystem::create_symlink(folder_ / "real.ini", folder_ / "link.ini");
  ASSERT_TRUE(WritePrivateProfileString(u"S", u"k", u"2", WirePath("link.ini")));
  EXPECT_TRUE(std::filesystem::is_symlink(folder_ / "link.ini"));
  EXPECT_EQ(folder_.Read("real.ini"), "[S]\nk=2\n");
  EXPECT_EQ(std::filesystem::status(folder_ / "real.ini").permissions(),
            std::filesystem::perms(0640));
}

TEST_F(ProfileTest, DevicesAndFifosAreNeitherReadNorReplaced) {
  EXPECT_EQ(ReadProfileString(u"S", u"k", u"d", ToWirePath("/dev/zero")), u"d");  // endless
  ASSERT_EQ(mkfifo((folder_ / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadProfileString(u"S", u"k", u"d", WirePath("fifo")), u"d");  // must not block
  EXPECT_FALSE(WritePrivateProfileString(u"S", u"k", u"v", WirePath("fifo")));
  EXPECT_TRUE(std::filesystem::is_fifo(folder_ / "fifo"));
}

TEST_F(ProfileTest, ReadOnlyFileIsNotReplaced) {
  folder_.Write("ro.ini", "[S]\nk=1\n");
  std::filesystem::permissions(folder_ / "ro.ini", std::filesystem::perms(0444));
  // The folder is writable, so only the file's own mode can stop the rename.
  std::filesystem::permissions(folder_.path(), std::filesystem::perms(0777));
  const std::u16string wire = WirePath("ro.ini");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Permissions do not bind root: run the write as an ordinary user.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    _exit(WritePrivateProfileString(u"S", u"k", u"2", wire) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(folder_.Read("ro.ini"), "[S]\nk=1\n");
}

}  // namespace
}  // namespace perimo::platform
