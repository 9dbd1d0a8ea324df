// Transfers and sync against a scripted agent that keeps files in memory and checks the
// extended download's sequence numbers as the agent does.
#include "workstation/transfers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "security/sha1.h"
#include "workstation/fake_agent.h"
#include "workstation/sync.h"
#include "workstation/text.h"

namespace perimo::workstation {
namespace {

namespace fs = std::filesystem;
using testing::FakeAgent;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Wide names only; a store of files keyed by lower-case name.
struct FileStore {
  std::map<std::string, std::string> files;
  std::vector<std::string> deleted, listedFrom;
  std::string open, pending;
  int64_t sequence = -1;
  bool badSequence = false;
  size_t dropAfterBlocks = SIZE_MAX;  // upload: close the connection after this many
  size_t uploadAt = 0, blocksSent = 0;

  static std::string Name(const Bytes& f, size_t at) {
    std::u16string text;
    for (; at + 1 < f.size(); at += 2) {
      const char16_t c = static_cast<char16_t>(f[at] | f[at + 1] << 8);
      if (c == 0 || c == '\t') break;
      text.push_back(c);
    }
    return ToUtf8(text);
  }
  bool Next(const Bytes& f) {
    if (ReadU32(f, 1) != static_cast<uint32_t>(sequence + 1)) badSequence = true;
    ++sequence;
    return !badSequence;
  }
  std::vector<Bytes> operator()(const Bytes& f) {
    switch (f[0]) {
      case 0x2D:
        open = Name(f, 5), pending.clear(), sequence = 0, badSequence = false;
        return {{0x06}};
      case 0x2E:
        if (Next(f)) pending.append(f.begin() + 9, f.begin() + 9 + ReadU32(f, 5));
        return {};
      case 0x2C:
        return {Next(f) ? Bytes{0x06} : Bytes{0x15, 0x02}};
      case 0x03:
        if (!Next(f)) return {{0x15, 0x02}};
        files[Lower(open)] = pending;
        return {{0x06}};
      case 0x0F:
        return {{0x06}};
      case 0x15:
        deleted.push_back(Name(f, 1));
        files.erase(Lower(Name(f, 1)));
        return {{0x06}};
      case 0x35: {
        auto it = files.find(Lower(Name(f, 1)));
        if (it == files.end()) return {{0x15, 0x01}};
        const auto d =
            CSHA1::Hash({reinterpret_cast<const uint8_t*>(it->second.data()), it->second.size()});
        Bytes reply{0x06};
        reply.insert(reply.end(), d.begin(), d.end());
        return {reply};
      }
      case 0x19: {
        listedFrom.push_back(Name(f, 2));
        return {{0x06, '1', 0}};
      }
      case 0x1A: {
        if (listedFrom.size() > 1) return {{0x06, 0x00}};
        listedFrom.push_back("paged");
        Bytes page{0x06};
        const std::string prefix = Lower(listedFrom[0]) + "\\";
        for (const auto& [name, content] : files) {
          if (name.rfind(prefix, 0) != 0) continue;
          for (char c : name.substr(prefix.size())) page.insert(page.end(), {uint8_t(c), 0});
          page.insert(page.end(), {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0});
        }
        return {page};
      }
      case 0x04:
        uploadAt = 0;
        return {{0x06, 0, 0, 4, 0, 0}};  // 256 KiB announced
      case 0x05: {
        if (++blocksSent > dropAfterBlocks) return {FakeAgent::kDrop};
        const size_t n = std::min<size_t>(16384, (256u << 10) - uploadAt);
        Bytes reply{0x06};
        AppendU32(reply, static_cast<uint32_t>(n));
        reply.resize(5 + n, static_cast<uint8_t>(uploadAt >> 14));
        uploadAt += n;
        return {reply};
      }
      case 0x06: {
        Bytes reply(30, 0);
        reply[0] = 0x06;
        return {reply};
      }
      default:
        return {};
    }
  }
};

class TransfersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "perimo-ws-unit-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }
  void TearDown() override { fs::remove_all(dir); }
  void Open() {
    agent = std::make_unique<FakeAgent>([this](const Bytes& f) { return store(f); });
    ConnectOptions options;
    options.port = agent->port();
    options.timeoutMs = 3000;
    ASSERT_FALSE(session.Open(options));
  }
  void Write(const std::string& relative, const std::string& content) {
    fs::create_directories((dir / relative).parent_path());
    std::ofstream(dir / relative, std::ios::binary) << content;
  }

  fs::path dir;
  FileStore store;
  std::unique_ptr<FakeAgent> agent;
  Session session;
};

TEST_F(TransfersTest, PutNumbersEveryFrameAndFlushesWithinTheAgentsBuffer) {
  Open();
  std::string content(300000, 'x');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  Write("a.bin", content);
  PutOptions options;
  options.runCapacity = 100000;  // three blocks a run
  ASSERT_FALSE(PutFile(session, (dir / "a.bin").string(), "C:\\a.bin", options));
  EXPECT_FALSE(store.badSequence);
  EXPECT_EQ(store.files["c:\\a.bin"], content);
  size_t buffered = 0, most = 0;
  for (const Bytes& f : agent->Received()) {
    if (f[0] == 0x2E) buffered += ReadU32(f, 5);
    if (f[0] == 0x2C) most = std::max(most, buffered), buffered = 0;
  }
  EXPECT_LE(most, 100000u);
}

TEST_F(TransfersTest, GetThatLosesItsConnectionLeavesNoLocalFile) {
  store.dropAfterBlocks = 5;
  Open();
  const Error e = GetFile(session, "C:\\big.bin", (dir / "big.bin").string(), {});
  EXPECT_EQ(e.outcome, Outcome::kConnection);
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(TransfersTest, GetKeepsSeveralBlocksInFlightAndWritesThemInOrder) {
  Open();
  GetOptions options;
  options.window = 4;
  ASSERT_FALSE(GetFile(session, "C:\\big.bin", (dir / "big.bin").string(), options));
  std::ifstream in(dir / "big.bin", std::ios::binary);
  std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(got.size(), 256u << 10);
  for (size_t block = 0; block < 16; ++block) EXPECT_EQ(got[block << 14], static_cast<char>(block));
}

TEST_F(TransfersTest, SyncSendsNewAndChangedFilesAndDeletesWhatTheTreeLacks) {
  Write("Main.APP", "main");
  Write("Screens/one.scr", "one, changed");
  Write("Screens/new.scr", "new");
  store.files["c:\\p\\main.app"] = "main";
  store.files["c:\\p\\screens\\one.scr"] = "one";
  store.files["c:\\p\\old.txt"] = "old";
  Open();

  SyncOptions options;
  options.remove = true;
  options.dryRun = true;
  SyncResult dry;
  ASSERT_FALSE(Sync(session, dir.string(), "C:\\P", options, dry));
  EXPECT_EQ(dry.sent,
            (std::vector<std::string>{"C:\\P\\Screens\\new.scr", "C:\\P\\Screens\\one.scr"}));
  EXPECT_EQ(dry.deleted, (std::vector<std::string>{"C:\\P\\old.txt"}));
  EXPECT_EQ(store.files.size(), 3u);
  EXPECT_EQ(store.files["c:\\p\\screens\\one.scr"], "one");

  store.listedFrom.clear();
  options.dryRun = false;
  SyncResult result;
  ASSERT_FALSE(Sync(session, dir.string(), "C:\\P", options, result));
  EXPECT_EQ(result.sent.size(), 2u);
  EXPECT_EQ(result.skipped, (std::vector<std::string>{"C:\\P\\Main.APP"}));
  EXPECT_EQ(result.bytesSent, 15u);
  EXPECT_EQ(store.files["c:\\p\\screens\\one.scr"], "one, changed");
  EXPECT_EQ(store.files.count("c:\\p\\old.txt"), 0u);
}

TEST_F(TransfersTest, SyncWantsAnAbsoluteRemoteFolder) {
  Open();
  SyncResult result;
  EXPECT_EQ(Sync(session, dir.string(), "Proj", {}, result).outcome, Outcome::kUsage);
}

TEST_F(TransfersTest, DigestsComeBackInOrderWhateverTheWindow) {
  std::vector<std::string> names;
  for (int i = 0; i < 100; ++i) {
    names.push_back("C:\\D\\f" + std::to_string(i));
    if (i % 3 != 0) store.files["c:\\d\\f" + std::to_string(i)] = std::to_string(i * i);
  }
  Open();
  for (int window : {1, 2, 7, 32, 200}) {
    SCOPED_TRACE(window);
    std::vector<Digest> digests;
    std::vector<bool> present;
    ASSERT_FALSE(RemoteDigests(session, names, digests, present, window));
    ASSERT_EQ(digests.size(), names.size());
    for (int i = 0; i < 100; ++i) {
      EXPECT_EQ(present[i], i % 3 != 0) << i;
      if (i % 3 == 0) continue;
      const std::string content = std::to_string(i * i);
      const auto want =
          CSHA1::Hash({reinterpret_cast<const uint8_t*>(content.data()), content.size()});
      EXPECT_TRUE(std::equal(want.begin(), want.end(), digests[i].begin())) << i;
    }
  }
}

TEST_F(TransfersTest, LocalTreeNamesAreRelativeHowEverTheFolderIsWritten) {
  Write("Main.APP", "m");
  Write("S/deep/x.scr", "x");
  fs::create_directories(dir / "empty");
  const std::vector<std::string> want = {"Main.APP", "S\\deep\\x.scr"};
  for (const std::string& folder :
       {dir.string(), dir.string() + "/", dir.string() + "//", (dir / "S" / "..").string()}) {
    std::vector<std::string> names;
    ASSERT_FALSE(LocalTree(folder, names)) << folder;
    EXPECT_EQ(names, want) << folder;
  }
  std::vector<std::string> names;
  EXPECT_EQ(LocalTree((dir / "Main.APP").string(), names).outcome, Outcome::kFailed);
}

TEST(FileTimeTest, LocalFileTimesRoundTrip) {
  for (time_t t : {time_t{0}, time_t{1612345678}, time_t{1900000000}}) {
    const timespec utc{t, 123456700};
    const timespec back = UtcFromLocalFileTime(LocalFileTime(utc));
    EXPECT_EQ(back.tv_sec, t);
    EXPECT_EQ(back.tv_nsec, 123456700);
  }
}

}  // namespace
}  // namespace perimo::workstation
