// A power cut at any moment of a write: while a workstation writes, the agent is killed with
// SIGKILL after a random delay; the file (or registry value) is then the complete old or the
// complete new content, never a mix or a cut, and an agent started again serves it. The users
// file is saved by the agent's user dialogs; a helper saves it the same way and is killed
// instead. After each kill the only new files allowed are the download procedures' temporary
// files and, for the settings and users files, the atomic writer's complete sibling (both
// named below), which its next write removes. PERIMO_CRASH_ROUNDS sets the kills per write
// path (a few by default; `make test-long` runs 200); each path prints how its kills fell.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "e2e/agent_harness.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "security/users_file.h"
#include "workstation/secure_link.h"
#include "workstation/workstation.h"

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;
using workstation::Bytes;
using workstation::Frame;
using Clock = std::chrono::steady_clock;

int Rounds() {
  const char* rounds = std::getenv("PERIMO_CRASH_ROUNDS");
  return rounds ? std::max(1, std::atoi(rounds)) : 4;
}

fs::path BinaryDir() {
  const char* dir = std::getenv("PERIMO_BIN_DIR");
  return dir && *dir ? fs::path(dir) : fs::path("build/bin");
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string Content(size_t size, unsigned seed) {
  std::string content(size, 0);
  std::mt19937 rng(seed);
  for (char& c : content) c = static_cast<char>(rng());
  return content;
}

bool Framed(workstation::Workstation& ws) {
  if (!ws.connected() || !ws.Request(Frame(0x13))) return false;
  ws.SetFramed(true);
  return true;
}

Bytes TextFrame(uint8_t code, const std::string& text) {
  Bytes frame{code};
  frame.insert(frame.end(), text.begin(), text.end());
  return frame;
}

// Kills pid after a random share of 1.2 × duration, so that some kills come after the end.
std::jthread KillLater(pid_t pid, Clock::duration duration, std::mt19937& rng) {
  const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(duration * 1.2) *
                     std::uniform_real_distribution<double>(0, 1)(rng);
  return std::jthread([pid, delay] {
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
  });
}

// The extended procedure with sequence numbers; false as soon as a reply is missing.
bool DownloadEx(workstation::Workstation& ws, const std::string& name, const std::string& content) {
  Bytes open{0x2D};
  workstation::AppendU32(open, static_cast<uint32_t>(content.size()));
  open.insert(open.end(), name.begin(), name.end());
  open.insert(open.end(), {'\t', '0'});
  if (ws.Request(open) != Bytes{0x06}) return false;
  uint32_t sequence = 1;
  int buffered = 0;
  for (size_t at = 0; at < content.size(); at += 16384) {
    const size_t n = std::min<size_t>(16384, content.size() - at);
    Bytes block{0x2E};
    workstation::AppendU32(block, sequence++);
    workstation::AppendU32(block, static_cast<uint32_t>(n));
    block.insert(block.end(), content.begin() + at, content.begin() + at + n);
    if (!ws.SendFrame(block)) return false;
    if (++buffered == 16 || at + n == content.size()) {
      Bytes flush{0x2C};
      workstation::AppendU32(flush, sequence++);
      if (ws.Request(flush) != Bytes{0x06}) return false;
      buffered = 0;
    }
  }
  Bytes close{0x03};
  workstation::AppendU32(close, sequence);
  close.resize(close.size() + 24, 0);
  workstation::AppendU32(close, 0x20);
  return ws.Request(close) == Bytes{0x06};
}

// The simple procedure: every block answered.
bool Download(workstation::Workstation& ws, const std::string& name, const std::string& content) {
  if (ws.Request(TextFrame(0x01, name)) != Bytes{0x06}) return false;
  for (size_t at = 0; at < content.size(); at += 16384) {
    const size_t n = std::min<size_t>(16384, content.size() - at);
    Bytes block{0x02};
    workstation::AppendU32(block, static_cast<uint32_t>(n));
    block.insert(block.end(), content.begin() + at, content.begin() + at + n);
    if (ws.Request(block) != Bytes{0x06}) return false;
  }
  Bytes close{0x03};
  close.resize(25, 0);
  workstation::AppendU32(close, 0x20);
  return ws.Request(close) == Bytes{0x06};
}

// What the agent sends back for the file: its upload, whole.
std::optional<std::string> Upload(workstation::Workstation& ws, const std::string& name) {
  const auto opened = ws.Request(TextFrame(0x04, name));
  if (!opened || opened->empty() || (*opened)[0] != 0x06) return std::nullopt;
  std::string content;
  for (;;) {
    const auto reply = ws.Request(Frame(0x05));
    if (!reply || reply->size() < 5 || (*reply)[0] != 0x06) return std::nullopt;
    const uint32_t count = workstation::ReadU32(*reply, 1);
    if (count == 0) break;
    content.append(reply->begin() + 5, reply->end());
  }
  ws.Request(Frame(0x06));
  return content;
}

// Every file below root, relative to it.
std::set<std::string> FilesUnder(const fs::path& root) {
  std::set<std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_directory()) files.insert(fs::relative(it->path(), root).string());
  }
  return files;
}

std::vector<std::string> NewFiles(const fs::path& root, const std::set<std::string>& before) {
  std::vector<std::string> found;
  for (const std::string& file : FilesUnder(root)) {
    if (!before.contains(file)) found.push_back(file);
  }
  return found;
}

// A file a kill may leave behind: its folder (relative to the test's root) and name.
struct Leftover {
  std::string folder;
  std::regex name;
  bool whole = false;  // it holds the complete new content
};

// The extended and the simple download write "tmpXXXX.tmp" beside the target (a restarted
// agent does not know them; on disk they are only the partial new content).
Leftover DownloadTemporary(const std::string& folder) {
  return {folder, std::regex("tmp[0-9A-F]{4}\\.tmp")};
}

// The atomic file writer's sibling ".<name>.XXXXXXXX.tmp": its data is written unnamed and
// it is named only when complete, just before the rename, so only a kill in that instant
// leaves it.
Leftover WriterTemporary(const std::string& folder, const std::string& file) {
  return {folder,
          std::regex("\\." + std::regex_replace(file, std::regex("\\."), "\\.") +
                     "\\.[0-9A-F]{8}\\.tmp"),
          true};
}

// Files below root that were not there before: each must be an allowed leftover. A download's
// is removed, so that the next round starts clean (a restarted agent does not know it); the
// atomic writer's stays for its next replace of the file to remove, and goes into seen. How
// many new ones there were.
int CheckLeftovers(const fs::path& root, const std::set<std::string>& before,
                   const std::vector<Leftover>& allowed, const std::string& newContent,
                   std::set<std::string>& seen) {
  int count = 0;
  for (const std::string& file : FilesUnder(root)) {
    if (before.contains(file) || seen.contains(file)) continue;
    const fs::path path(file);
    const auto match = std::find_if(allowed.begin(), allowed.end(), [&](const Leftover& l) {
      return path.parent_path() == fs::path(l.folder) &&
             std::regex_match(path.filename().string(), l.name);
    });
    const bool expected = match != allowed.end();
    EXPECT_TRUE(expected) << "left behind: " << file;
    if (expected && match->whole) {
      EXPECT_TRUE(ReadFile(root / path) == newContent) << file;
      seen.insert(file);
    } else if (expected) {
      fs::remove(root / path);
    }
    ++count;
  }
  return count;
}

// What the kills of one write path left: printed for the record, not judged.
struct Tally {
  int oldContent = 0;
  int newContent = 0;
  int leftovers = 0;

  void Count(bool isNew) { ++(isNew ? newContent : oldContent); }
  void Print(const char* what) const {
    std::printf("%s: %d kills, %d left the old content, %d the new, %d temporary files\n", what,
                oldContent + newContent, oldContent, newContent, leftovers);
  }
};

struct WritePath {
  const char* what;
  AgentOptions options;  // with the old content in place
  // The write that is killed; on a framed connection.
  std::function<bool(workstation::Workstation&)> write;
  // Puts the old content back: the file while the agent is down, or through the agent just
  // before the write.
  std::function<void(AgentHarness&)> restoreOnDisk;
  std::function<bool(workstation::Workstation&)> restoreThroughAgent;
  // The content as stored, read by the test while the agent is down.
  std::function<std::optional<std::string>(AgentHarness&)> stored;
  // The content as an agent serves it.
  std::function<std::optional<std::string>(workstation::Workstation&)> served;
  // The stored content as an agent serves it, when it serves only part of it.
  std::function<std::string(const std::string&)> asServed;
  std::vector<Leftover> leftovers;
};

void KillDuringWrites(WritePath path) {
  path.options.env.emplace_back("LC_ALL", "C");
  AgentHarness agent(path.options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  const fs::path root = agent.folder().parent_path();
  auto asServed = [&](const std::string& stored) {
    return path.asServed ? path.asServed(stored) : stored;
  };

  // One write without a kill: how long it takes and what the new content is.
  std::optional<std::string> oldContent, newContent;
  Clock::duration duration{};
  {
    auto ws = agent.Connect();
    ASSERT_TRUE(Framed(ws));
    if (path.restoreThroughAgent) {
      ASSERT_TRUE(path.restoreThroughAgent(ws));
    }
    oldContent = path.stored(agent);
    const auto started = Clock::now();
    ASSERT_TRUE(path.write(ws));
    duration = Clock::now() - started;
    newContent = path.stored(agent);
  }
  ASSERT_TRUE(oldContent && newContent);
  ASSERT_NE(*newContent, *oldContent);
  const std::set<std::string> before = FilesUnder(root);

  std::mt19937 rng(12345);
  Tally tally;
  std::set<std::string> seen;
  for (int round = 0; round < Rounds(); ++round) {
    SCOPED_TRACE(std::string(path.what) + ", round " + std::to_string(round));
    agent.Kill();
    if (path.restoreOnDisk) path.restoreOnDisk(agent);
    ASSERT_TRUE(agent.Restart()) << agent.error();
    {
      auto ws = agent.Connect();
      ASSERT_TRUE(Framed(ws));
      if (path.restoreThroughAgent) {
        ASSERT_TRUE(path.restoreThroughAgent(ws));
      }
      auto killer = KillLater(agent.pid(), duration, rng);
      path.write(ws);
    }
    agent.Kill();

    const std::optional<std::string> stored = path.stored(agent);
    ASSERT_TRUE(stored);
    ASSERT_TRUE(*stored == *oldContent || *stored == *newContent)
        << "torn: " << stored->size() << " bytes";
    tally.leftovers += CheckLeftovers(root, before, path.leftovers, *newContent, seen);
    ASSERT_TRUE(agent.Restart()) << agent.error();
    auto reader = agent.Connect();
    ASSERT_TRUE(Framed(reader));
    const std::optional<std::string> served = path.served(reader);
    ASSERT_TRUE(served);
    EXPECT_EQ(*served, asServed(*stored));
    tally.Count(*stored == *newContent);
  }
  tally.Print(path.what);

  // One more write, not killed, leaves nothing of the kills behind.
  auto ws = agent.Connect();
  ASSERT_TRUE(Framed(ws));
  ASSERT_TRUE(path.write(ws));
  EXPECT_EQ(NewFiles(root, before), std::vector<std::string>());
}

// A file below drive C, written by a workstation.
WritePath FilePath(const char* what, const std::string& wireName, const std::string& file,
                   const std::string& oldContent,
                   std::function<bool(workstation::Workstation&)> write,
                   std::vector<Leftover> leftovers) {
  WritePath path;
  path.what = what;
  path.options.files.emplace_back(file, oldContent);
  path.write = std::move(write);
  path.restoreOnDisk = [file, oldContent](AgentHarness& agent) {
    WriteFile(agent.Path(file), oldContent);
  };
  path.stored = [file](AgentHarness& agent) { return ReadFile(agent.Path(file)); };
  path.served = [wireName](workstation::Workstation& ws) { return Upload(ws, wireName); };
  path.leftovers = std::move(leftovers);
  return path;
}

TEST(CrashSafety, AnExtendedDownloadIsWholeOldOrWholeNew) {
  const std::string fresh = Content(1 << 20, 2);
  KillDuringWrites(FilePath(
      "extended download", "C:\\Data\\project.app", "Data/project.app", Content(300000, 1),
      [&](workstation::Workstation& ws) { return DownloadEx(ws, "C:\\Data\\project.app", fresh); },
      {DownloadTemporary("agent/Data")}));
}

TEST(CrashSafety, ASimpleDownloadIsWholeOldOrWholeNew) {
  const std::string fresh = Content(1 << 20, 4);
  KillDuringWrites(FilePath(
      "simple download", "C:\\Data\\project.app", "Data/project.app", Content(300000, 3),
      [&](workstation::Workstation& ws) { return Download(ws, "C:\\Data\\project.app", fresh); },
      {DownloadTemporary("agent/Data")}));
}

TEST(CrashSafety, ASettingsWriteIsWholeOldOrWholeNew) {
  std::string settings = "[Setup]\r\nValue=old\r\n";
  for (int i = 0; i < 2000; ++i) settings += "Key" + std::to_string(i) + "=filler text\r\n";
  KillDuringWrites(FilePath(
      "settings write", "C:\\Data\\site.ini", "Data/site.ini", settings,
      [](workstation::Workstation& ws) {
        return ws.Request(TextFrame(0x0C, "C:\\Data\\site.ini\tSetup\tValue\tnew")) == Bytes{0x06};
      },
      {WriterTemporary("agent/Data", "site.ini")}));
}

// The registry is a database in the per-user folder. The values are large, so that the
// transaction takes a while; the test reads them whole from the database, an agent serves
// their first 127 characters.
TEST(CrashSafety, ARegistryWriteIsWholeOldOrWholeNew) {
  const std::string key = "HKEY_LOCAL_MACHINE\tSoftware\\Crash\\Test\t\tValue\t";
  auto set = [key](workstation::Workstation& ws, const std::string& value) {
    return ws.Request(TextFrame(0x2A, key + value)) == (Bytes{0x06, '0'});
  };
  const std::string oldValue = Content(100000, 5);
  const std::string newValue = Content(100000, 6);
  auto printable = [](std::string value) {
    for (char& c : value) c = static_cast<char>('a' + static_cast<uint8_t>(c) % 26);
    return value;
  };
  WritePath path;
  path.what = "registry write";
  path.write = [=](workstation::Workstation& ws) { return set(ws, printable(newValue)); };
  path.restoreThroughAgent = [=](workstation::Workstation& ws) {
    return set(ws, printable(oldValue));
  };
  path.stored = [](AgentHarness& agent) -> std::optional<std::string> {
    platform::RegistryStore store;
    if (!store.Open((agent.userFolder() / "registry.db").string())) return std::nullopt;
    const auto value =
        store.GetString(platform::RegistryRoot::kLocalMachine, u"Software\\Crash\\Test", u"Value");
    return value ? platform::ToUtf8(*value) : std::string();
  };
  path.served = [key](workstation::Workstation& ws) -> std::optional<std::string> {
    const auto reply = ws.Request(TextFrame(0x2B, key.substr(0, key.size() - 1)));
    if (!reply || reply->size() < 3 || (*reply)[1] != '0' || reply->back() != 0) {
      return std::nullopt;
    }
    return std::string(reply->begin() + 2, reply->end() - 1);
  };
  path.asServed = [](const std::string& stored) { return stored.substr(0, 127); };
  KillDuringWrites(std::move(path));
}

// A child process with its standard input and output on pipes.
struct Child {
  pid_t pid = -1;
  int input = -1;   // its standard input
  int output = -1;  // its standard output

  bool Spawn(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
      close(in[0]);
      close(in[1]);
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input = in[1];
    output = out[0];
    if (spawned != 0) pid = -1;
    return spawned == 0;
  }
  // The next line it writes; empty at its end.
  std::string ReadLine() {
    std::string line;
    char c;
    while (read(output, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Its exit status after it ended (or was killed).
  int Wait() {
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    pid = -1;
    return status;
  }
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      Wait();
    }
    if (input >= 0) close(input);
    if (output >= 0) close(output);
  }
};

std::string UsersFileBytes(const UserList& users) {
  const std::vector<uint8_t> bytes = SerializeUsersFile(users, true);
  return std::string(bytes.begin(), bytes.end());
}

// A locked agent admits a user over the encrypted link.
bool LogsIn(AgentHarness& agent, std::u16string_view name, std::u16string_view password) {
  auto ws = agent.Connect();
  if (!ws.SendFrame(Frame(workstation::kOpenSecureLinkCode))) return false;
  const auto keyReply = ws.ReadReply();
  workstation::SecureLink link;
  if (!keyReply || !link.Accept(*keyReply)) return false;
  link.Attach(ws);
  const auto reply = ws.Request(workstation::LoginFrame(name, password), 20000);
  return reply && reply->size() == 12 && (*reply)[0] == 0x06 && (*reply)[1] == '1';
}

// Security is on in both files: one user before, three hundred after. Whichever file the
// kill leaves, its users log in to an agent started on it.
TEST(CrashSafety, AUsersFileSaveLetsTheOldOrTheNewUsersLogIn) {
  constexpr int kNewUsers = 300;
  const std::string oldFile = UsersFileBytes({{u"keeper", u"old secret", {1, 1, 1, 1, 1}}});
  AgentOptions options;
  options.files.emplace_back("perimo.BIN", oldFile);
  options.env.emplace_back("LC_ALL", "C");
  AgentHarness agent(options);
  ASSERT_TRUE(agent.Start()) << agent.error();
  agent.Kill();
  const fs::path root = agent.folder().parent_path();
  const fs::path usersFile = agent.Path("perimo.BIN");
  const std::string writer = (BinaryDir() / "perimo-users-writer").string();

  // Saves the new users; the save is killed after delay when given.
  auto save = [&](std::optional<std::pair<Clock::duration, std::mt19937*>> kill) {
    Child child;
    EXPECT_TRUE(child.Spawn({writer, usersFile.string(), std::to_string(kNewUsers)}));
    EXPECT_EQ(child.ReadLine(), "ready");
    const auto started = Clock::now();
    {
      std::jthread killer;
      if (kill) killer = KillLater(child.pid, kill->first, *kill->second);
      EXPECT_EQ(write(child.input, "s", 1), 1);
      child.ReadLine();
      child.Wait();
    }
    return Clock::now() - started;
  };

  const std::set<std::string> before = FilesUnder(root);
  const Clock::duration duration = save(std::nullopt);
  const std::string newFile = ReadFile(usersFile);
  ASSERT_NE(newFile, oldFile);
  ASSERT_EQ(
      ParseUsersFile(std::span(reinterpret_cast<const uint8_t*>(newFile.data()), newFile.size()))
          .users.size(),
      static_cast<size_t>(kNewUsers));

  std::mt19937 rng(12345);
  Tally tally;
  std::set<std::string> seen;
  for (int round = 0; round < Rounds(); ++round) {
    SCOPED_TRACE("users file, round " + std::to_string(round));
    WriteFile(usersFile, oldFile);
    save(std::make_pair(duration, &rng));
    const std::string stored = ReadFile(usersFile);
    ASSERT_TRUE(stored == oldFile || stored == newFile) << "torn: " << stored.size() << " bytes";
    tally.leftovers +=
        CheckLeftovers(root, before, {WriterTemporary("agent", "perimo.BIN")}, newFile, seen);
    tally.Count(stored == newFile);
    ASSERT_TRUE(agent.Restart()) << agent.error();
    if (stored == oldFile) {
      EXPECT_TRUE(LogsIn(agent, u"keeper", u"old secret"));
    } else {
      EXPECT_TRUE(LogsIn(agent, u"user299", u"pass299"));
    }
    agent.Kill();
  }
  tally.Print("users file");
  save(std::nullopt);
  EXPECT_EQ(NewFiles(root, before), std::vector<std::string>());
}

}  // namespace
}  // namespace perimo::e2e
