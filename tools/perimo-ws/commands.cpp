#include "commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "perimo-pack/pack.h"
#include "progress.h"
#include "workstation/remote_commands.h"
#include "workstation/sync.h"
#include "workstation/transfers.h"

namespace perimo::ws {
namespace {

namespace fs = std::filesystem;
using namespace workstation;
using json = nlohmann::json;

struct Context {
  const Command& command;
  Session& session;
  Output& out;
  uint32_t packSize = 16384;
};

std::string LastComponent(const std::string& remote) {
  const size_t slash = remote.find_last_of("\\/");
  return slash == std::string::npos ? remote : remote.substr(slash + 1);
}

std::string WallTime(uint64_t fileTime) {
  constexpr uint64_t kEpochDelta = 116444736000000000ull;
  if (fileTime < kEpochDelta) return "-";
  const time_t wall = static_cast<time_t>((fileTime - kEpochDelta) / 10000000);
  tm t{};
  gmtime_r(&wall, &t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &t);
  return text;
}

Error Usage(const std::string& message) {
  return Fail(Outcome::kUsage, message);
}

Error NeedArgs(const Command& c, size_t least, size_t most, const std::string& form) {
  if (c.args.size() < least || c.args.size() > most) return Usage("usage: " + form);
  return Ok();
}

Progress BarFor(Context& cx, std::shared_ptr<TransferBar>& bar, const std::string& label,
                uint64_t total) {
  bar = std::make_shared<TransferBar>(cx.command.progress, label, total);
  return [bar](uint64_t done) { bar->Update(done); };
}

Error Info(Context& cx) {
  SystemInfo info;
  if (Error e = ReadSystemInfo(cx.session, info)) return e;
  const char* security = info.security == '0'   ? "off"
                         : info.security == '1' ? "on"
                                                : "on, no users";
  char text[1024];
  std::snprintf(text, sizeof text,
                "Product:        %s\nAgent version:  %s\nOperating system: %s\n"
                "Administrator:  %s\nLocale:         %s\nFree memory:    %s KiB\n"
                "Delay:          %s ms\nBlock size:     %u\nDownload lock:  %u\n"
                "Security:       %s\nStrings:        %s\n",
                info.product.c_str(), info.agentVersion.c_str(),
                info.osName.empty() ? "(not named)" : info.osName.c_str(),
                info.administrator ? "yes" : "no", info.locale.c_str(), info.freeMemoryKiB.c_str(),
                info.delay.c_str(), info.packSize, info.downloadLock, security,
                info.wide ? "16-bit" : "8-bit");
  cx.out.text += text;
  if (!info.extension.empty()) cx.out.text += "Extension:      " + info.extension + "\n";
  cx.out.json.update({{"product", info.product},
                      {"agent_version", info.agentVersion},
                      {"os", info.osName},
                      {"administrator", info.administrator},
                      {"locale", info.locale},
                      {"free_memory_kib", info.freeMemoryKiB},
                      {"delay_ms", info.delay},
                      {"block_size", info.packSize},
                      {"download_lock", info.downloadLock},
                      {"security", security},
                      {"wide_strings", info.wide},
                      {"extension", info.extension}});
  return Ok();
}

Error Ls(Context& cx) {
  const Command& c = cx.command;
  if (Error e = NeedArgs(c, 0, 1, "ls [PATH] [--projects|--system|--drives|-R]")) return e;
  const std::string path = c.args.empty() ? "C:\\" : c.args[0];
  std::vector<ListEntry> entries;
  json list = json::array();
  auto timed = [&](const ListEntry& entry) {
    cx.out.text +=
        (entry.fileTime ? WallTime(*entry.fileTime) : std::string("-")) + "  " + entry.name + "\n";
    list.push_back({{"name", entry.name},
                    {"time", entry.fileTime ? WallTime(*entry.fileTime) : ""},
                    {"type", "file"}});
  };
  if (c.drives) {
    if (Error e = ListDrives(cx.session, entries)) return e;
    for (const auto& entry : entries) {
      cx.out.text += entry.name + "\n";
      list.push_back({{"name", entry.name}, {"type", "drive"}});
    }
  } else if (c.system) {
    if (Error e = ListSystemFiles(cx.session, entries)) return e;
    for (const auto& entry : entries) timed(entry);
  } else if (c.projects || c.recursive) {
    if (Error e = ListProjectFiles(cx.session, path, c.recursive && !c.projects, entries)) return e;
    for (const auto& entry : entries) timed(entry);
  } else {
    if (Error e = ListDirectories(cx.session, path, entries)) return e;
    for (const auto& entry : entries) {
      cx.out.text += std::string("<DIR>", 5) + (entry.hasSubdirectories ? "+" : " ") +
                     "              " + entry.name + "\\\n";
      list.push_back({{"name", entry.name},
                      {"type", "directory"},
                      {"has_subdirectories", entry.hasSubdirectories}});
    }
    std::vector<ListEntry> files;
    if (Error e = ListProjectFiles(cx.session, path, true, files)) return e;
    for (const auto& entry : files) {
      if (entry.name.find('\\') == std::string::npos) timed(entry);
    }
  }
  cx.out.json["entries"] = list;
  return Ok();
}

Error GetOne(Context& cx, const std::string& remote, const std::string& local, json& files) {
  std::shared_ptr<TransferBar> bar;
  uint64_t size = 0;
  GetOptions options;
  options.size = &size;
  // The bar is made once the size is known, on the first block.
  options.progress = [&](uint64_t done) {
    if (!bar) BarFor(cx, bar, LastComponent(remote), size);
    bar->Update(done);
  };
  if (Error e = GetFile(cx.session, remote, local, options)) return e;
  if (bar) bar->Finish();
  files.push_back({{"remote", remote}, {"local", local}, {"bytes", size}});
  cx.out.text += remote + " -> " + local + " (" + HumanBytes(static_cast<double>(size)) + ")\n";
  return Ok();
}

Error Get(Context& cx) {
  const Command& c = cx.command;
  if (Error e = NeedArgs(c, 1, 2, "get [-r] REMOTE [LOCAL]")) return e;
  const std::string remote = c.args[0];
  std::string local = c.args.size() > 1 ? c.args[1] : LastComponent(remote);
  json files = json::array();
  std::error_code ec;
  if (!c.recursive) {
    if (fs::is_directory(local, ec)) local = (fs::path(local) / LastComponent(remote)).string();
    if (Error e = GetOne(cx, remote, local, files)) return e;
  } else {
    std::vector<ListEntry> entries;
    if (Error e = ListProjectFiles(cx.session, remote, true, entries)) return e;
    fs::create_directories(local, ec);
    for (const auto& entry : entries) {
      std::string relative = entry.name;
      std::replace(relative.begin(), relative.end(), '\\', '/');
      const fs::path target = fs::path(local) / relative;
      fs::create_directories(target.parent_path(), ec);
      if (Error e = GetOne(cx, RemoteJoin(remote, entry.name), target.string(), files)) return e;
    }
  }
  cx.out.json["files"] = files;
  return Ok();
}

// A private temporary folder, removed with everything in it.
struct Scratch {
  std::string folder, path;
  ~Scratch() {
    std::error_code ec;
    if (!folder.empty()) fs::remove_all(folder, ec);
  }
};

int CompressionKind(const std::string& name) {
  if (name == "huffman") return 0;
  if (name == "lzss") return 1;
  if (name == "lzw") return 2;
  return -1;
}

// Compresses local into the folder as the given kind; the compressed file keeps the local
// file's times and mode, which the agent gives the expanded file.
Error CompressInto(const std::string& local, const std::string& path, int kind) {
  const std::string error = pack::Compress(local, path, kind);
  if (!error.empty()) return Fail(Outcome::kFailed, error);
  struct stat st {};
  if (stat(local.c_str(), &st) == 0) {
    const timespec times[2] = {st.st_atim, st.st_mtim};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    chmod(path.c_str(), st.st_mode & 07777);
  }
  return Ok();
}

// auto on a serial line: the coder that shrinks the file most, when it saves at least a
// sixteenth of the bytes; on TCP never (the link is faster than any of the coders).
Error ChooseCompression(Context& cx, const std::string& local, Scratch& compressed, int& kind) {
  kind = CompressionKind(cx.command.compress);
  const bool automatic = cx.command.compress == "auto";
  if (kind < 0 && !(automatic && cx.session.serial())) return Ok();
  std::string pattern = (fs::temp_directory_path() / "perimo-ws-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return Fail(Outcome::kFailed, "cannot make a temporary folder");
  compressed.folder = pattern;
  if (!automatic) {
    compressed.path = pattern + "/data";
    return CompressInto(local, compressed.path, kind);
  }
  std::error_code ec;
  const uint64_t original = fs::file_size(local, ec);
  uint64_t best = original - original / 16;
  for (int candidate : {1, 2, 0}) {
    const std::string path = pattern + "/data" + std::to_string(candidate);
    if (CompressInto(local, path, candidate)) continue;
    const uint64_t size = fs::file_size(path, ec);
    if (!ec && size < best) {
      best = size;
      kind = candidate;
      compressed.path = path;
    }
  }
  return Ok();
}

Error PutOne(Context& cx, const std::string& local, const std::string& remote, json& files) {
  Scratch compressed;
  int kind = -1;
  if (Error e = ChooseCompression(cx, local, compressed, kind)) return e;
  const std::string source = kind >= 0 ? compressed.path : local;
  std::error_code ec;
  const uint64_t size = fs::file_size(source, ec);
  std::shared_ptr<TransferBar> bar;
  PutOptions options;
  options.compressed = kind >= 0;
  options.runCapacity = cx.packSize * 55;
  options.progress = BarFor(cx, bar, fs::path(local).filename().string(), size);
  if (Error e = PutFile(cx.session, source, remote, options)) return e;
  bar->Finish();
  const uint64_t original = fs::file_size(local, ec);
  files.push_back({{"local", local},
                   {"remote", remote},
                   {"bytes", original},
                   {"sent", size},
                   {"compression", kind >= 0 ? pack::KindName(kind) : "none"}});
  cx.out.text += local + " -> " + remote + " (" + HumanBytes(static_cast<double>(original));
  if (kind >= 0) cx.out.text += ", " + HumanBytes(static_cast<double>(size)) + " sent";
  cx.out.text += ")\n";
  return Ok();
}

Error Put(Context& cx) {
  const Command& c = cx.command;
  if (Error e = NeedArgs(c, 2, 2, "put [-r] [--compress KIND] LOCAL REMOTE")) return e;
  if (Error e = ReadPackSize(cx.session, cx.packSize)) return e;
  const std::string& local = c.args[0];
  std::string remote = c.args[1];
  json files = json::array();
  std::error_code ec;
  if (fs::is_directory(local, ec)) {
    if (!c.recursive) return Usage("\"" + local + "\" is a folder: use put -r");
    std::vector<std::string> names;
    if (Error e = LocalTree(local, names)) return e;
    if (Error e = MakeDirectory(cx.session, remote)) return e;
    std::string madeFolder;
    for (const std::string& name : names) {
      const std::string target = RemoteJoin(remote, name);
      const std::string parent = target.substr(0, target.find_last_of('\\'));
      if (parent != madeFolder) {
        if (Error e = MakeDirectory(cx.session, parent)) return e;
        madeFolder = parent;
      }
      std::string relative = name;
      std::replace(relative.begin(), relative.end(), '\\', '/');
      if (Error e = PutOne(cx, local + "/" + relative, target, files)) return e;
    }
  } else {
    if (!remote.empty() && (remote.back() == '\\' || remote.back() == '/')) {
      remote += fs::path(local).filename().string();
    }
    if (Error e = PutOne(cx, local, remote, files)) return e;
  }
  cx.out.json["files"] = files;
  return Ok();
}

Error Simple(Context& cx) {
  const Command& c = cx.command;
  if (Error e = NeedArgs(c, 1, 64, c.name + " PATH...")) return e;
  for (const std::string& path : c.args) {
    Error e = c.name == "rm"      ? DeleteFiles(cx.session, path)
              : c.name == "mkdir" ? MakeDirectory(cx.session, path)
                                  : RemoveDirectory(cx.session, path);
    if (e) return e;
  }
  cx.out.json["paths"] = c.args;
  return Ok();
}

Error Value(Context& cx, const std::string& value) {
  cx.out.text += value + "\n";
  cx.out.json["value"] = value;
  return Ok();
}

Error Ini(Context& cx) {
  const Command& c = cx.command;
  const auto& a = c.args;
  if (c.action == "get") {
    if (Error e = NeedArgs(c, 3, 3, "ini get FILE SECTION KEY [--default VALUE]")) return e;
    std::string value;
    if (Error e = ReadIni(cx.session, a[0], a[1], a[2], c.fallback, value)) return e;
    return Value(cx, value);
  }
  if (Error e = NeedArgs(c, 4, 4, "ini set FILE SECTION KEY VALUE")) return e;
  return WriteIni(cx.session, a[0], a[1], a[2], a[3]);
}

Error Setting(Context& cx) {
  const Command& c = cx.command;
  const auto& a = c.args;
  if (c.action == "get") {
    if (Error e = NeedArgs(c, 2, 2, "setting get SECTION KEY [--default VALUE]")) return e;
    std::string value;
    if (Error e = ReadSetting(cx.session, a[0], a[1], c.fallback, value)) return e;
    return Value(cx, value);
  }
  if (Error e = NeedArgs(c, 3, 3, "setting set SECTION KEY VALUE")) return e;
  return WriteSetting(cx.session, a[0], a[1], a[2]);
}

Error Reg(Context& cx) {
  const Command& c = cx.command;
  const auto& a = c.args;
  if (c.action == "get") {
    if (Error e = NeedArgs(c, 1, 2, "reg get ROOT\\KEY [NAME]")) return e;
    std::string value;
    if (Error e = ReadRegistry(cx.session, a[0], a.size() > 1 ? a[1] : "", value)) return e;
    return Value(cx, value);
  }
  if (Error e = NeedArgs(c, 2, 3, "reg set ROOT\\KEY [NAME] VALUE")) return e;
  return WriteRegistry(cx.session, a[0], a.size() == 3 ? a[1] : "", a.back());
}

bool ParseInt(const std::string& text, int64_t low, int64_t high, int64_t& value) {
  try {
    size_t used = 0;
    value = std::stoll(text, &used, 10);
    return used == text.size() && value >= low && value <= high;
  } catch (...) {
    return false;
  }
}

Error PostArguments(const Command& c, int64_t& message, int64_t& wParam, int64_t& lParam) {
  if (Error e = NeedArgs(c, 3, 3, "runtime post MESSAGE WPARAM LPARAM")) return e;
  if (!ParseInt(c.args[0], 0, 0xFFFFFFFF, message) || !ParseInt(c.args[1], 0, 0xFFFFFFFF, wParam) ||
      !ParseInt(c.args[2], INT32_MIN, INT32_MAX, lParam)) {
    return Usage("runtime post: MESSAGE and WPARAM are unsigned 32-bit numbers, LPARAM signed");
  }
  return Ok();
}

Error Runtime(Context& cx) {
  const Command& c = cx.command;
  if (c.action == "start") return StartRuntime(cx.session);
  if (c.action == "stop") return StopRuntime(cx.session);
  if (c.action == "status") {
    bool running = false;
    if (Error e = RuntimeRunning(cx.session, running)) return e;
    cx.out.text += running ? "running\n" : "not running\n";
    cx.out.json["running"] = running;
    return Ok();
  }
  if (c.action == "screen") {
    if (Error e = NeedArgs(c, 1, 1, "runtime screen NAME")) return e;
    return UpdateScreen(cx.session, c.args[0]);
  }
  int64_t message = 0, wParam = 0, lParam = 0;
  if (Error e = PostArguments(c, message, wParam, lParam)) return e;
  return PostRuntimeMessage(cx.session, static_cast<uint32_t>(message),
                            static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
}

Error Task(Context& cx) {
  const Command& c = cx.command;
  if (Error e = NeedArgs(c, 1, 256, "task start|query|stop NAME...")) return e;
  std::vector<uint8_t> statuses;
  if (c.action == "query") {
    if (Error e = QueryTasks(cx.session, c.args, statuses)) return e;
  } else {
    for (const std::string& name : c.args) {
      uint8_t status = 0;
      Error e = c.action == "start" ? StartTask(cx.session, name, status)
                                    : StopTask(cx.session, name, status);
      if (e) return e;
      statuses.push_back(status);
    }
  }
  json tasks = json::array();
  for (size_t i = 0; i < c.args.size(); ++i) {
    const int status = i < statuses.size() ? statuses[i] : 0;
    cx.out.text += c.args[i] + ": " + std::to_string(status) + "\n";
    tasks.push_back({{"name", c.args[i]}, {"status", status}});
  }
  cx.out.json["tasks"] = tasks;
  return Ok();
}

Error DigestCommand(Context& cx) {
  const Command& c = cx.command;
  if (Error e = NeedArgs(c, 1, 64, "digest REMOTE...")) return e;
  std::vector<Digest> digests;
  std::vector<bool> present;
  if (Error e = RemoteDigests(cx.session, c.args, digests, present)) return e;
  json list = json::array();
  for (size_t i = 0; i < c.args.size(); ++i) {
    if (!present[i]) {
      return Fail(Outcome::kFailed, "digest of " + c.args[i] + ": " + NakText({0x15, 0x01}));
    }
    cx.out.text += HexDigest(digests[i]) + "  " + c.args[i] + "\n";
    list.push_back({{"name", c.args[i]}, {"sha1", HexDigest(digests[i])}});
  }
  cx.out.json["digests"] = list;
  return Ok();
}

Error SyncCommand(Context& cx) {
  const Command& c = cx.command;
  if (Error e = NeedArgs(c, 2, 2, "sync LOCAL_DIR REMOTE_DIR [--delete] [--dry-run]")) return e;
  if (Error e = ReadPackSize(cx.session, cx.packSize)) return e;
  SyncOptions options;
  options.remove = c.remove;
  options.dryRun = c.dryRun;
  options.runCapacity = cx.packSize * 55;
  std::shared_ptr<TransferBar> bar;
  options.onSend = [&](const std::string& remote, uint64_t size) {
    if (bar) bar->Finish();
    return BarFor(cx, bar, LastComponent(remote), size);
  };
  SyncResult result;
  Error e = Sync(cx.session, c.args[0], c.args[1], options, result);
  if (bar) bar->Finish();
  if (e) return e;
  const char* verb = c.dryRun ? "would send" : "sent";
  for (const auto& name : result.sent) cx.out.text += std::string(verb) + "  " + name + "\n";
  for (const auto& name : result.deleted) {
    cx.out.text += std::string(c.dryRun ? "would delete" : "deleted") + "  " + name + "\n";
  }
  char summary[256];
  std::snprintf(summary, sizeof summary, "%zu %s, %zu skipped, %zu %s, %s moved%s\n",
                result.sent.size(), c.dryRun ? "to send" : "sent", result.skipped.size(),
                result.deleted.size(), c.dryRun ? "to delete" : "deleted",
                HumanBytes(static_cast<double>(result.bytesSent)).c_str(),
                c.dryRun ? " (dry run)" : "");
  cx.out.text += summary;
  cx.out.json.update({{"sent", result.sent},
                      {"skipped", result.skipped.size()},
                      {"deleted", result.deleted},
                      {"bytes", result.bytesSent},
                      {"dry_run", c.dryRun},
                      {"changed", !result.sent.empty() || !result.deleted.empty()}});
  return Ok();
}

// The upgrade program's log beside the agent, fetched through a private temporary folder.
Error UpgradeLog(Session& session, std::string& text) {
  text.clear();
  std::string folder = (fs::temp_directory_path() / "perimo-ws-XXXXXX").string();
  if (!mkdtemp(folder.data())) return Fail(Outcome::kFailed, "cannot make a temporary folder");
  const Scratch scratch{folder, folder + "/log"};
  if (Error e = GetFile(session, "UPGRADE.LOG", scratch.path, {})) return e;
  std::ifstream in(scratch.path, std::ios::binary);
  text.assign(std::istreambuf_iterator<char>(in), {});
  return Ok();
}

enum class UpgradeState { kRunning, kDone, kFailed };

// What the lines the upgrade program logged for this upgrade say; the last one in line.
UpgradeState UpgradeOutcome(const std::string& log, std::string& line) {
  std::istringstream lines(log);
  UpgradeState state = UpgradeState::kRunning;
  for (std::string text; std::getline(lines, text);) {
    if (text.empty()) continue;
    line = text.substr(std::min(text.find("] ") + 2, text.size()));
    if (line.starts_with("upgrade of process ")) state = UpgradeState::kRunning;
    if (line.starts_with("upgrade done")) state = UpgradeState::kDone;
    if (line.find("rolled back") != std::string::npos ||
        line.find("nothing changed") != std::string::npos) {
      state = UpgradeState::kFailed;
    }
  }
  return state;
}

Error UpgradeCommand(Context& cx, const ConnectOptions& connect) {
  const Command& c = cx.command;
  if (Error e = NeedArgs(c, 1, 1, "upgrade FOLDER [--staging REMOTE_DIR]")) return e;
  std::vector<std::string> names;
  if (Error e = LocalTree(c.args[0], names)) return e;
  if (Error e = ReadPackSize(cx.session, cx.packSize)) return e;
  if (Error e = MakeDirectory(cx.session, c.staging)) return e;
  json files = json::array();
  for (const std::string& name : names) {
    std::string relative = name;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const std::string target = RemoteJoin(c.staging, name);
    if (name.find('\\') != std::string::npos) {
      if (Error e = MakeDirectory(cx.session, target.substr(0, target.find_last_of('\\'))))
        return e;
    }
    if (Error e = PutOne(cx, c.args[0] + "/" + relative, target, files)) return e;
  }
  // Only what the program logs after this point tells about this upgrade. A user who may not
  // fetch files is not asked again: each refusal holds the agent back for 10 s.
  std::string log;
  const Error unread = UpgradeLog(cx.session, log);
  const bool watchLog = unread.message.find("(NAK 0x35)") == std::string::npos;
  const size_t logged = log.size();
  bool started = false;
  if (Error e = Upgrade(cx.session, started)) return e;
  if (!started) return Fail(Outcome::kFailed, "the agent could not start its upgrade program");
  // The old agent closes the connection as it ends; the new one answers a fresh session. A
  // serial line shows no end: the old agent is given the time its hand-over takes.
  if (cx.session.serial()) {
    cx.session.Close();
    std::this_thread::sleep_for(std::chrono::seconds(3));
  } else {
    cx.session.link().WaitClosed(std::max(connect.timeoutMs, 10000));
    cx.session.Close();
  }
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(std::max(connect.timeoutMs, 60000));
  Error last;
  while (std::chrono::steady_clock::now() < deadline) {
    Session fresh;
    ConnectOptions quick = connect;
    quick.timeoutMs = 2000;
    last = fresh.Open(quick);
    if (last.outcome == Outcome::kLogin) return last;
    if (!last) {
      // An agent answers: the new one, or the old one again after a roll-back. The upgrade
      // program's log tells which (an agent without that program's log: whoever answers).
      std::string line;
      const bool haveLog = watchLog && !UpgradeLog(fresh, log);
      const UpgradeState state =
          !haveLog ? UpgradeState::kDone
                   : UpgradeOutcome(log.size() > logged ? log.substr(logged) : "", line);
      if (state == UpgradeState::kFailed) {
        return Fail(Outcome::kFailed, "the upgrade failed: " + line +
                                          " (see UPGRADE.LOG beside "
                                          "the agent)");
      }
      if (state == UpgradeState::kDone) {
        cx.out.text += "the upgraded agent answers\n";
        cx.out.json["files"] = files;
        cx.out.json["answered"] = true;
        return Ok();
      }
      last = Fail(Outcome::kConnection, "the upgrade program has not finished");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return Fail(Outcome::kConnection, "the upgraded agent did not answer: " + last.message);
}

}  // namespace

int RunCommand(const Command& command, const ConnectOptions& connect, Output& output,
               std::string& error) {
  output.json["command"] = command.name + (command.action.empty() ? "" : " " + command.action);
  if (connect.serialDevice.empty()) {
    output.json["host"] = connect.host + ":" + std::to_string(connect.port);
  } else {
    output.json["serial"] = connect.serialDevice;
  }
  Session session;
  Error e;
  if (command.name == "runtime" && command.action == "post") {
    int64_t message, wParam, lParam;
    e = PostArguments(command, message, wParam, lParam);
  }
  if (!e) e = session.Open(connect);
  if (!e) {
    Context cx{command, session, output};
    const std::string& n = command.name;
    if (n == "info")
      e = Info(cx);
    else if (n == "ls")
      e = Ls(cx);
    else if (n == "get")
      e = Get(cx);
    else if (n == "put")
      e = Put(cx);
    else if (n == "rm" || n == "mkdir" || n == "rmdir")
      e = Simple(cx);
    else if (n == "ini")
      e = Ini(cx);
    else if (n == "setting")
      e = Setting(cx);
    else if (n == "reg")
      e = Reg(cx);
    else if (n == "runtime")
      e = Runtime(cx);
    else if (n == "task")
      e = Task(cx);
    else if (n == "digest")
      e = DigestCommand(cx);
    else if (n == "sync")
      e = SyncCommand(cx);
    else if (n == "upgrade")
      e = UpgradeCommand(cx, connect);
    else
      e = Usage("unknown command " + n);
  }
  const int code = static_cast<int>(e.outcome);
  output.json["ok"] = !e;
  output.json["exit"] = code;
  if (e) {
    error = e.message;
    output.json["error"] = e.message;
  }
  return code;
}

}  // namespace perimo::ws
