// Whole frames through DispatchFrame, in each gate state, over a sandbox: drive C is a fresh
// temporary folder holding the agent's own folder, the per-user folder lies beside it, and a
// file-size limit keeps declared sizes from filling the disk. Each input is one connection:
// byte 0 picks the gate state (security off, link open without a login, logged in), then
// frames follow as u16 length + bytes. Every reply must stay within the send buffer, and no
// file may appear outside the sandbox.
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "protocol/agent_state.h"
#include "protocol/connection.h"
#include "protocol/dispatcher.h"
#include "protocol/file_transfer_commands.h"

namespace {

namespace fs = std::filesystem;

struct Sandbox {
  fs::path root;
  perimo::AgentState agent;

  Sandbox() {
    // Memory-backed when possible: every write is flushed, which would bound the runs per
    // second by the disk rather than by the code.
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    pattern += "/perimo-fuzz-dispatch-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    root = pattern;
    for (const char* folder : {"C/A/Bin", "C/Data", "user", "run/windows"}) {
      fs::create_directories(root / folder);
    }
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_DATA_HOME", (root / "user").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
    setenv("PERIMO_WINDOWS_DIR", (root / "run/windows").c_str(), 1);
    if (chdir((root / "C").c_str()) != 0) std::abort();
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16 << 20, 16 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);

    perimo::platform::Drives().Clear();
    perimo::platform::Drives().Set('C', (root / "C").string());
    perimo::platform::SetAgentFolders({(root / "C/A/Bin").string(), (root / "user").string()});
    agent.paths.exeDir = u"C:\\A\\Bin";
    agent.paths.exeBaseName = u"perimo";
    agent.paths.agentIniPath = u"C:\\A\\Bin\\perimo.INI";
    agent.paths.usersFilePath = u"C:\\A\\Bin\\perimo.BIN";
    agent.paths.outFilePath = u"C:\\A\\Bin\\perimo.OUT";
    agent.paths.settingsDir = perimo::platform::ToWirePath((root / "user").string()) + u"\\";
    agent.paths.projectsDir = u"C:\\Data\\";
    agent.settings.packSize = 4096;
    agent.blockBuffer.assign(55 * 4096, 0);
    agent.users = {{u"Operator", u"Secret", {1, 1, 1, 1, 1}}};
    agent.pause = [](uint32_t) {};
    agent.statusSink = [](std::u16string_view) {};
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

Sandbox& TheSandbox() {
  static Sandbox sandbox;
  return sandbox;
}

struct Link : perimo::Connection {};

volatile uint8_t sink;

int CheckReply(perimo::Connection*, const uint8_t* bytes, int32_t count) {
  if (count < 0 || count > 131072 || (count > 0 && bytes == nullptr)) std::abort();
  uint8_t sum = 0;
  for (int32_t i = 0; i < count; ++i) sum ^= bytes[i];  // every byte must be readable
  sink = sum;
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Sandbox& sandbox = TheSandbox();
  perimo::AgentState& agent = sandbox.agent;
  if (size == 0) return 0;

  // A new connection: nobody logged in, 8-bit strings, nothing open.
  agent.login = perimo::LoginState{};
  agent.wideStrings = false;
  agent.cipher = perimo::CAESCryptoLibrary(std::u16string_view{});
  switch (data[0] % 3) {
    case 0:
      break;
    case 1:
      agent.login.securityEnabled = true;
      agent.login.ResetLoginState();
      agent.login.secureLinkOpen = true;
      break;
    default:
      agent.login.securityEnabled = true;
      agent.login.secureLinkOpen = true;
      agent.login.loggedInUser = u"Operator";
      break;
  }
  Link link;
  size_t at = 1;
  for (int frames = 0; frames < 16 && at + 2 <= size; ++frames) {
    const size_t length = std::min<size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
    at += 2;
    // A copy of exactly the frame, so that a read past it is caught.
    std::unique_ptr<uint8_t[]> frame(new uint8_t[length ? length : 1]);
    std::copy(data + at, data + at + length, frame.get());
    perimo::DispatchFrame(agent, frame.get(), static_cast<int32_t>(length), &link, CheckReply);
    at += length;
  }
  perimo::EndTransfers(agent);

  // Nothing outside the sandbox: the temporary folder holds only what it was given.
  for (const auto& entry : fs::directory_iterator(sandbox.root)) {
    const std::string name = entry.path().filename().string();
    if (name != "C" && name != "user" && name != "run") std::abort();
  }
  return 0;
}
