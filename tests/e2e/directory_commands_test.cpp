// Listings and deletes driven as a workstation drives them: an opening command, pages until
// 06 00, every name exactly once, in both string widths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "e2e/agent_harness.h"
#include "e2e/listing_client.h"
#include "security/users_file.h"
#include "workstation/secure_link.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Frame;

const Bytes kAckOnly{0x06};
const Bytes kEnd{0x06, 0x00};

void Touch(const fs::path& path, const std::string& content = "x") {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << content;
}

std::multiset<std::string> Names(const Listing& listing) {
  std::multiset<std::string> names;
  for (const auto& entry : listing.entries) names.insert(Narrow(entry.name));
  return names;
}

class DirectoryCommands : public ::testing::Test {
 protected:
  void Boot(AgentOptions options = {}) {
    agent = std::make_unique<AgentHarness>(std::move(options));
    ASSERT_TRUE(agent->Start()) << agent->error();
    ws = agent->Connect();
    ASSERT_TRUE(ws.connected());
  }

  // Switches the connection to 16-bit strings when wide.
  void Width(bool wide) {
    if (wide) {
      ASSERT_EQ(ws.Request(Frame(0x20)), kAckOnly);
    }
  }

  std::unique_ptr<AgentHarness> agent;
  workstation::Workstation ws;
};

TEST_F(DirectoryCommands, DirectoryListMarksFoldersWithSubFolders) {
  Boot();
  Touch(agent->Path("Tree/A/Inner/f.txt"));
  fs::create_directories(agent->Path("Tree/B"));
  Touch(agent->Path("Tree/file.txt"));
  Touch(agent->Path("Tree/B/only-a-file.txt"));
  ASSERT_EQ(ws.Request(workstation::TextFrame(0x16, "C:\\Tree\\")), (Bytes{0x06, '2', 0x00}));
  const auto page = ws.Request(Frame(0x39));
  ASSERT_TRUE(page);
  // Either order the file system gives, each entry exactly as on the wire.
  const Bytes a{'A', 0x0A, '1', 0x00}, b{'B', 0x0A, '0', 0x00};
  Bytes ab{0x06}, ba{0x06};
  ab.insert(ab.end(), a.begin(), a.end());
  ab.insert(ab.end(), b.begin(), b.end());
  ba.insert(ba.end(), b.begin(), b.end());
  ba.insert(ba.end(), a.begin(), a.end());
  EXPECT_TRUE(*page == ab || *page == ba);
  EXPECT_EQ(ws.Request(Frame(0x39)), kEnd);
  EXPECT_TRUE(agent->HasLine("Available directories: 2."));
  EXPECT_TRUE(agent->WaitForLine("Sending directory name: "));

  // Empty name, and a folder that is not there.
  EXPECT_EQ(ws.Request(Frame(0x16, {0x00})), (Bytes{0x15, 0x10}));
  EXPECT_EQ(ws.Request(workstation::TextFrame(0x16, "C:\\Missing")), (Bytes{0x06, '0', 0x00}));
  EXPECT_EQ(ws.Request(Frame(0x17)), kEnd);
}

// Names from 1 to 250 characters, in both widths: every page obeys the size rule and every
// name comes exactly once, in the case it has on disk.
TEST_F(DirectoryCommands, PagingHandsOutEveryNameOnceInBothWidths) {
  Boot();
  std::set<std::string> expected;
  for (size_t length = 1; length <= 250; length += 7) {
    std::string name(length, static_cast<char>('a' + length % 26));
    name[0] = 'Q';
    expected.insert(name);
    fs::create_directories(agent->Path("Long/" + name));
  }
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "16-bit" : "8-bit");
    Width(wide);
    // The folder named in another case than on disk.
    const auto count = ws.Request(NameFrame(0x16, u"c:\\LONG", wide));
    ASSERT_EQ(CountReply(count), static_cast<long>(expected.size()));
    const Listing listing = ReadAllPages(ws, 0x17, EntryForm::kName, wide);
    EXPECT_EQ(Names(listing), std::multiset<std::string>(expected.begin(), expected.end()));
    EXPECT_GT(listing.pageSizes.size(), 3u);
    EXPECT_EQ(ws.Request(Frame(0x17)), kEnd);
  }
}

TEST_F(DirectoryCommands, ProjectListFollowsTheSkipRulesAndTheAppRule) {
  Boot();
  const std::string root = "Projects/";
  for (const char* file : {"Main.APP", "old.app.bak", "readme.txt", "Bin/top.dll", "Alarm/a.txt",
                           "Hst/h.txt", "Line1/Screen.scr", "Line1/bin/skipped.dll",
                           "Line1/Drv/skipped.drv", "Line1/Hst/kept.h", "Line1/Deep/Er/leaf.txt"}) {
    Touch(agent->Path(root + file));
  }
  Touch(agent->Path(root + "Line1/drv"));  // a file named like a skipped folder
  using Set = std::multiset<std::string>;
  const Set deep{"Line1\\Screen.scr", "Line1\\Hst\\kept.h", "Line1\\Deep\\Er\\leaf.txt"};

  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide ? "16-bit" : "8-bit");
    Width(wide);
    auto count = ws.Request(NameFrame(0x19, u"C:\\Projects", wide, {'0'}));
    Set flagOff = deep;
    flagOff.insert({"Main.APP", "old.app.bak"});
    ASSERT_EQ(CountReply(count), static_cast<long>(flagOff.size()));
    Listing listing = ReadAllPages(ws, 0x1A, EntryForm::kTimed, wide);
    EXPECT_EQ(Names(listing), flagOff);

    count = ws.Request(NameFrame(0x19, u"C:\\Projects\\", wide, {'1'}));
    Set all = flagOff;
    all.insert({"readme.txt", "Alarm\\a.txt", "Hst\\h.txt"});
    // With the flag the top-level Bin is walked like any folder; Bin below the top is not.
    all.insert("Bin\\top.dll");
    ASSERT_EQ(CountReply(count), static_cast<long>(all.size()));
    listing = ReadAllPages(ws, 0x1A, EntryForm::kTimed, wide);
    EXPECT_EQ(Names(listing), all);
  }
  // Without a flag byte the path starts at once and the flag is off.
  EXPECT_EQ(CountReply(ws.Request(NameFrame(0x19, u"C:\\Projects", true))), 5);
}

TEST_F(DirectoryCommands, ProjectListTimesAreLocalAndVanishedFilesAreLeftOut) {
  AgentOptions options;
  options.env = {{"TZ", "UTC+02"}};  // two hours behind universal time
  Boot(std::move(options));
  Touch(agent->Path("P/Main.APP"));
  Touch(agent->Path("P/Sub/gone.txt"));
  Touch(agent->Path("P/Sub/kept.txt"));
  const auto kept = agent->Path("P/Sub/kept.txt");
  fs::last_write_time(kept, fs::file_time_type::clock::from_sys(
                                std::chrono::sys_seconds(std::chrono::seconds(1700000000))));
  ASSERT_EQ(ws.Request(workstation::TextFrame(0x19, "0C:\\P")), (Bytes{0x06, '3', 0x00}));
  fs::remove(agent->Path("P/Sub/gone.txt"));
  const Listing listing = ReadAllPages(ws, 0x1A, EntryForm::kTimed, false);
  EXPECT_EQ(Names(listing), (std::multiset<std::string>{"Main.APP", "Sub\\kept.txt"}));
  for (const auto& entry : listing.entries) {
    if (entry.name != u"Sub\\kept.txt") continue;
    const uint64_t utc = 116444736000000000ULL + 1700000000ULL * 10000000ULL;
    EXPECT_EQ(entry.time, utc - 2ULL * 3600 * 10000000ULL);
  }
  // All of a page vanished: the list ends.
  ASSERT_EQ(ws.Request(workstation::TextFrame(0x19, "1C:\\P\\Sub")), (Bytes{0x06, '1', 0x00}));
  fs::remove(kept);
  EXPECT_EQ(ws.Request(Frame(0x1A)), kEnd);
}

TEST_F(DirectoryCommands, ProjectListRefusalsAndAnUnreadableFolder) {
  Boot();
  for (const char* name : {"\\Windows", "\\wINDOWS\\", ""}) {
    EXPECT_EQ(ws.Request(workstation::TextFrame(0x19, std::string("1") + name)),
              (Bytes{0x15, 0x10}))
        << name;
  }
  EXPECT_TRUE(agent->HasLine("Invalid directory name."));
  EXPECT_EQ(ws.Request(workstation::TextFrame(0x19, "1C:\\NoSuchFolder")),
            (Bytes{0x06, '0', 0x00}));
  EXPECT_TRUE(agent->WaitForLine("Available directories: 0."));
}

// A link back to an ancestor and a link to a sibling: the walk ends, the sibling is listed
// under both names only once each, and a link out of the drive map is not followed.
TEST_F(DirectoryCommands, ProjectWalkSurvivesLinkCycles) {
  Boot();
  const fs::path outside = agent->folder().parent_path() / "outside";
  Touch(outside / "secret.txt");
  Touch(agent->Path("P/A/a.txt"));
  Touch(agent->Path("P/B/b.txt"));
  fs::create_directory_symlink("..", agent->Path("P/A/up"));
  fs::create_directory_symlink(agent->Path("P/A"), agent->Path("P/B/toA"));
  fs::create_directory_symlink(outside, agent->Path("P/B/outside"));
  ASSERT_TRUE(ws.Request(workstation::TextFrame(0x19, "1C:\\P")));
  const Listing listing = ReadAllPages(ws, 0x1A, EntryForm::kTimed, false, 1000);
  const auto names = Names(listing);
  EXPECT_EQ(names.count("A\\a.txt"), 1u);
  EXPECT_EQ(names.count("B\\b.txt"), 1u);
  for (const auto& name : names) {
    EXPECT_EQ(name.find("secret"), std::string::npos) << name;
  }
  EXPECT_LT(names.size(), 10u);
}

TEST_F(DirectoryCommands, SystemFilesKeepThePatternsCase) {
  Boot();
  Touch(agent->Path("bin/Agent.dll"));  // on disk in lower case
  Touch(agent->Path("Drv/serial.drv"));
  Touch(agent->Path("Drv/API/api.dll"));
  Touch(agent->Path("bin/DE-de/texts.dll"));
  fs::create_directories(agent->Path("Drv/SubFolder"));
  std::multiset<std::string> expected{"Bin\\Agent.dll", "Drv\\serial.drv", "Drv\\API\\api.dll",
                                      "BIN\\de-DE\\texts.dll"};
  // The agent's own program sits in C:\ too; it is not in those folders.
  for (bool wide : {false, true}) {
    Width(wide);
    ASSERT_EQ(ws.Request(Frame(0x1B)), (Bytes{0x06, '4', 0x00}));
    const Listing listing = ReadAllPages(ws, 0x1C, EntryForm::kTimed, wide);
    EXPECT_EQ(Names(listing), expected);
    for (const auto& entry : listing.entries) EXPECT_NE(entry.time, 0u);
  }
}

TEST_F(DirectoryCommands, DriveListHasTheMappedDrivesWhoseFoldersExist) {
  const fs::path data = fs::temp_directory_path() / ("perimo-drive-d-" + std::to_string(getpid()));
  fs::create_directories(data);
  AgentOptions options;
  options.ini["Drives"]["D"] = data.string();
  options.ini["Drives"]["E"] = (data / "missing").string();
  Boot(std::move(options));
  EXPECT_EQ(ws.Request(Frame(0x1D)), (Bytes{0x06, '2', 0x00}));
  EXPECT_EQ(ws.Request(Frame(0x1E)), (Bytes{0x06, 'C', ':', 0x00, 'D', ':', 0x00}));
  EXPECT_EQ(ws.Request(Frame(0x1E)), kEnd);
  // Marks belong to the last directory list only.
  EXPECT_EQ(ws.Request(Frame(0x1D)), (Bytes{0x06, '2', 0x00}));
  EXPECT_EQ(ws.Request(Frame(0x39)),
            (Bytes{0x06, 'C', ':', 0x0A, '0', 0x00, 'D', ':', 0x0A, '0', 0x00}));
  fs::remove_all(data);
}

TEST_F(DirectoryCommands, DeleteByWildcardRemovesMatchingFilesOnly) {
  Boot();
  struct Case {
    const char* pattern;
    std::set<std::string> removed;
  };
  const std::set<std::string> files{"a", "b.txt", "x1", "x12", "xy.txt", "noext", "sub"};
  const Case cases[] = {
      {"*.*", {"a", "b.txt", "x1", "x12", "xy.txt", "noext"}},
      {"*.", {"a", "x1", "x12", "noext"}},
      {"?", {"a"}},
      {"x?", {"x1"}},
      {"nothing*.zip", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    fs::remove_all(agent->Path("Del"));
    for (const auto& name : files) {
      if (name == "sub") {
        Touch(agent->Path("Del/sub/inner.txt"));
      } else {
        Touch(agent->Path("Del/" + name));
      }
    }
    // The folder named in another case than on disk.
    EXPECT_EQ(ws.Request(workstation::TextFrame(0x15, std::string("C:\\dEL\\") + c.pattern)),
              kAckOnly);
    for (const auto& name : files) {
      EXPECT_EQ(fs::exists(agent->Path("Del/" + name)), c.removed.count(name) == 0) << name;
    }
    EXPECT_TRUE(fs::exists(agent->Path("Del/sub/inner.txt")));
  }
  EXPECT_TRUE(agent->HasLine("Files C:\\dEL\\*.* were removed."));
  EXPECT_EQ(ws.Request(Frame(0x15, {0x00})), (Bytes{0x15, 0x01}));
  EXPECT_TRUE(agent->WaitForLine("Invalid file name."));
}

TEST_F(DirectoryCommands, DeleteRefusedWithoutTheRightKeepsTheFiles) {
  AgentOptions options;
  // bob may read but not send files.
  const auto users = SerializeUsersFile({{u"bob", u"", {0, 1, 0, 0, 0}}}, true);
  options.files.emplace_back("perimo.BIN", std::string(users.begin(), users.end()));
  options.files.emplace_back("Keep/one.txt", "1");
  Boot(std::move(options));
  workstation::SecureLink link;
  ASSERT_TRUE(workstation::OpenSecureLink(ws, link));
  ASSERT_TRUE(ws.Request(workstation::LoginFrame(u"bob", u"")));
  EXPECT_EQ(ws.Request(workstation::TextFrame(0x15, "C:\\Keep\\*.*"), 20000), (Bytes{0x15, 0x35}));
  EXPECT_TRUE(fs::exists(agent->Path("Keep/one.txt")));
}

}  // namespace
}  // namespace perimo::e2e
