#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/json_reader.h"
#include "platform/temp_folder.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

using testing::Json;
using testing::TempFolder;

// Each test starts from the default map and restores it.
class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override { Drives().Clear(); }
  void TearDown() override {
    Drives().Clear();
    SetAgentFolders({});
  }
  TempFolder folder_;
};

TEST_F(PathsTest, LooksUpNamesInAnotherCaseAsRecorded) {
  const Json table = testing::LoadConformanceTable("lookup.json");
  for (const Json& entry : table["folder"].items) {
    if (entry["directory"].boolean) {
      std::filesystem::create_directory(folder_ / ToUtf8(entry["name"].text));
    } else {
      folder_.Write(ToUtf8(entry["name"].text), "");
    }
  }
  Drives().Set('T', folder_.path());
  ASSERT_FALSE(table["cases"].items.empty());
  for (const Json& c : table["cases"].items) {
    SCOPED_TRACE(c["id"].Ascii());
    const auto native = ToNativePath(u"T:\\" + c["ask"].text);
    ASSERT_TRUE(native.has_value());
    EXPECT_EQ(std::filesystem::exists(*native), c["found"].boolean);
    if (c["found"].boolean) {
      EXPECT_EQ(*native, folder_ / ToUtf8(c["name"].text));
    }
  }
}

TEST_F(PathsTest, NamesDifferingOnlyInCaseResolveExactlyThenByByteOrder) {
  std::filesystem::create_directory(folder_ / "Data");
  folder_.Write("Data/readme", "");
  folder_.Write("Data/README", "");
  folder_.Write("Data/ReadMe", "");
  Drives().Set('D', folder_.path());
  EXPECT_EQ(ToNativePath(u"D:\\data\\ReadMe"), folder_ / "Data/ReadMe");
  EXPECT_EQ(ToNativePath(u"D:/DATA/readMe"), folder_ / "Data/README");  // "README" < "ReadMe"
  EXPECT_EQ(ToNativePath(u"D:\\DATA\\New Sub\\File.TXT"), folder_ / "Data/New Sub/File.TXT");
}

TEST_F(PathsTest, NonUtf8NamesAreFoundFromEightBitRequests) {
  folder_.Write("caf\xE9.txt", "");  // written by a Latin-1 program
  Drives().Set('D', folder_.path());
  const std::u16string listed = FileNamePart(ToWirePath(folder_ / "caf\xE9.txt"));
  EXPECT_EQ(ToNativePath(u"D:\\" + listed), folder_ / "caf\xE9.txt");
  // An 8-bit reply narrows the name to its bytes; the request widens them back.
  const std::u16string echoed = FromLatin1(ToLatin1(listed));
  EXPECT_EQ(ToNativePath(u"D:\\" + ToUpper(echoed)), folder_ / "caf\xE9.txt");
}

TEST_F(PathsTest, DotDotStaysInsideTheDrive) {
  std::filesystem::create_directories(folder_ / "a/b");
  Drives().Set('E', folder_ / "a");
  EXPECT_EQ(ToNativePath(u"E:\\B\\..\\b\\.\\x"), folder_ / "a/b/x");
  EXPECT_EQ(ToNativePath(u"E:\\..\\..\\b"), folder_ / "a/b");
  EXPECT_EQ(ToNativePath(u"\\tmp\\..\\etc"), "/etc");
}

TEST_F(PathsTest, UnmappedDrivesAndNetworkNamesDoNotExist) {
  EXPECT_FALSE(ToNativePath(u"Q:\\x").has_value());
  EXPECT_FALSE(ToNativePath(u"\\\\server\\share\\x").has_value());
  EXPECT_FALSE(ToNativePath(u"").has_value());
  Drives().Set('C', "");
  EXPECT_FALSE(ToNativePath(u"\\Windows").has_value());
  EXPECT_EQ(Drives().Get('C'), nullptr);
}

TEST_F(PathsTest, RelativePathsStartAtTheCurrentFolder) {
  const std::string saved = std::filesystem::current_path();
  std::filesystem::create_directory(folder_ / "Bin");
  ASSERT_EQ(chdir(folder_.path().c_str()), 0);
  const auto native = ToNativePath(u"bin\\x.dll");
  EXPECT_EQ(chdir(saved.c_str()), 0);
  EXPECT_EQ(native, std::filesystem::canonical(folder_.path()).string() + "/Bin/x.dll");
}

TEST_F(PathsTest, NativePathsBecomeWirePathsAndBack) {
  Drives().Set('D', folder_.path());
  Drives().Set('C', "/usr");
  EXPECT_EQ(ToWirePath(folder_ / "x/y.txt"), u"D:\\x\\y.txt");
  EXPECT_EQ(ToWirePath(folder_.path()), u"D:\\");
  EXPECT_EQ(ToWirePath("/usr/lib"), u"C:\\lib");
  const std::u16string outside = ToWirePath("/etc/hosts");
  EXPECT_EQ(outside, u"\\\\?\\unix\\etc\\hosts");
  EXPECT_EQ(ToNativePath(outside, PathScope::kAgent), "/etc/hosts");
  EXPECT_EQ(ToNativePath(u"d:\\sub\\"), folder_ / "sub/");
}

// With C mapped to F and the agent's folder A outside every drive, no request name reaches
// F's parent: ".." stops at the drive's root and "\\?\unix" names must stay inside F or A.
TEST_F(PathsTest, RequestNamesStayInsideTheDriveMapAndTheAgentFolders) {
  std::filesystem::create_directories(folder_ / "F/A/Bin");
  std::filesystem::create_directories(folder_ / "agent");
  folder_.Write("secret.txt", "");
  const std::string root = folder_.path();
  const std::u16string unixRoot = u"\\\\?\\unix" + FromUtf8(root);
  Drives().Set('C', root + "/F");
  SetAgentFolders({root + "/agent"});
  const std::string saved = std::filesystem::current_path();
  const std::string canonicalRoot = std::filesystem::canonical(root);
  struct Case {
    const char* cwd;  // relative to the temporary folder
    std::u16string name;
    PathScope scope;
    std::optional<std::string> native;  // relative to the temporary folder
  };
  const Case cases[] = {
      {"", u"C:\\..\\..\\secret.txt", PathScope::kRequest, "/F/secret.txt"},
      {"", u"C:/../secret.txt", PathScope::kRequest, "/F/secret.txt"},
      {"", u"\\..\\A\\..\\..\\secret.txt", PathScope::kRequest, "/F/secret.txt"},
      {"F/A/Bin", u"..\\..\\..\\secret.txt", PathScope::kRequest, "/F/secret.txt"},
      {"F/A/Bin", u"../../../../secret.txt", PathScope::kRequest, "/F/secret.txt"},
      {"", u"secret.txt", PathScope::kRequest, std::nullopt},  // current folder outside
      {"", u"secret.txt", PathScope::kAgent, "/secret.txt"},
      {"", unixRoot + u"\\secret.txt", PathScope::kRequest, std::nullopt},
      {"", unixRoot + u"\\F\\..\\secret.txt", PathScope::kRequest, std::nullopt},
      {"", unixRoot + u"/agent/../secret.txt", PathScope::kRequest, std::nullopt},
      {"", u"\\\\?\\unix\\..\\..\\etc\\passwd", PathScope::kRequest, std::nullopt},
      {"", unixRoot + u"\\agent\\x.ini", PathScope::kRequest, "/agent/x.ini"},
      {"", unixRoot + u"\\F\\A\\..\\A", PathScope::kRequest, "/F/A"},
      {"", unixRoot + u"\\secret.txt", PathScope::kAgent, "/secret.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.name));
    ASSERT_EQ(chdir((root + "/" + c.cwd).c_str()), 0);
    errno = 0;
    const auto native = ToNativePath(c.name, c.scope);
    ASSERT_EQ(chdir(saved.c_str()), 0);
    if (!c.native) {
      EXPECT_EQ(native, std::nullopt);
      EXPECT_EQ(errno, ENOENT);
      continue;
    }
    ASSERT_TRUE(native.has_value());
    // A relative name starts at getcwd(), which has no symbolic links in it.
    const bool relative = c.name[0] != u'\\' && c.name[1] != u':';
    EXPECT_EQ(*native, (relative ? canonicalRoot : root) + *c.native);
  }
}

TEST_F(PathsTest, LoadsTheDriveMapFromSettings) {
  folder_.Write("agent.ini", "[Drives]\r\nD=data\r\nE=/srv\r\nC=\r\n");
  Drives().LoadFromSettings(folder_ / "agent.ini");
  ASSERT_NE(Drives().Get('c'), nullptr);
  EXPECT_EQ(*Drives().Get('C'), "/");
  ASSERT_NE(Drives().Get('D'), nullptr);
  EXPECT_EQ(*Drives().Get('D'), folder_ / "data");
  EXPECT_EQ(*Drives().Get('E'), "/srv");
  EXPECT_EQ(Drives().Get('F'), nullptr);
}

TEST(WirePathHelpers, ResolveTargetPathUsesTheParentOfTheExecutableFolder) {
  EXPECT_EQ(ResolveTargetPath(u"Logs\\Today", u"C:\\A\\Bin"), u"C:\\A\\Logs\\Today");
  EXPECT_EQ(ResolveTargetPath(u"Logs", u"C:\\A\\Bin\\"), u"C:\\A\\Logs");
  EXPECT_EQ(ResolveTargetPath(u"D:x", u"C:\\A\\Bin"), u"D:x");
  EXPECT_EQ(ResolveTargetPath(u"\\x", u"C:\\A\\Bin"), u"\\x");
  EXPECT_EQ(ResolveTargetPath(u"", u"C:\\A\\Bin"), u"");
  EXPECT_EQ(ParentFolder(u"C:\\A\\b.txt"), u"C:\\A");
  EXPECT_EQ(FileNamePart(u"C:\\A/b.txt"), u"b.txt");
  EXPECT_EQ(FileNamePart(u"C:b.txt"), u"b.txt");
}

}  // namespace
}  // namespace perimo::platform
