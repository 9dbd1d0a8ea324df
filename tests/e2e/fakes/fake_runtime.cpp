// A stand-in for the HMI runtime: opens the viewer and main windows the agent looks for,
// writes every message it gets to a log file, answers task messages from the name in the task
// channel and ends on the close request.
//   perimo-fake-runtime --log FILE [--title T] [--viewer-class C | --no-viewer] [--no-main]
//                       [--ignore-close]
// Log lines: "ready", "<viewer|main> <post|send> <message> <wParam> <lParam>", and for a task
// message "task <operation> <name in UTF-8>". A task message is answered with 0x1200 plus the
// name's length in characters, so its low byte tells the workstation the length.
#include <poll.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/shared_memory.h"
#include "platform/text.h"
#include "platform/window_endpoint.h"

namespace {

namespace pf = perimo::platform;

std::atomic<bool> stopRequested{false};

void OnSignal(int) {
  stopRequested = true;
}

FILE* logFile = nullptr;

void Log(const std::string& line) {
  std::fprintf(logFile, "%s\n", line.c_str());
  std::fflush(logFile);
}

std::string TaskName() {
  pf::SharedMemory channel;
  if (!channel.Open(u"VextraManageTaskFileMapping", 512)) return "<no channel>";
  const auto* units = static_cast<const char16_t*>(channel.data());
  std::u16string name;
  for (size_t i = 0; i < 256 && units[i] != 0; ++i) name.push_back(units[i]);
  return pf::ToUtf8(name);
}

}  // namespace

int main(int argc, char** argv) {
  std::string logPath;
  std::u16string title = u"Kalder v6.1";
  std::u16string viewerClass = u"VextraViewerClass";
  bool withViewer = true;
  bool withMain = true;
  bool ignoreClose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--log" && i + 1 < argc) {
      logPath = argv[++i];
    } else if (arg == "--title" && i + 1 < argc) {
      title = pf::FromUtf8(argv[++i]);
    } else if (arg == "--viewer-class" && i + 1 < argc) {
      viewerClass = pf::FromUtf8(argv[++i]);
    } else if (arg == "--no-viewer") {
      withViewer = false;
    } else if (arg == "--no-main") {
      withMain = false;
    } else if (arg == "--ignore-close") {
      ignoreClose = true;
    } else {
      std::fprintf(stderr, "perimo-fake-runtime: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  logFile = logPath.empty() ? stdout : std::fopen(logPath.c_str(), "a");
  if (logFile == nullptr) return 1;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  pf::WindowEndpoint viewer;
  pf::WindowEndpoint main;
  if (withViewer && !viewer.Open(pf::WindowKey::kClass, viewerClass)) return 1;
  if (withMain && !main.Open(pf::WindowKey::kTitle, title)) return 1;
  Log("ready");

  auto record = [](const char* window, const pf::WindowMessage& m) {
    char line[128];
    std::snprintf(line, sizeof line, "%s %s %u %u %d", window,
                  m.operation == pf::kWindowSend ? "send" : "post", m.message, m.wParam, m.lParam);
    Log(line);
  };
  bool closing = false;
  while (!stopRequested && !closing) {
    pollfd fds[2] = {{viewer.descriptor(), POLLIN, 0}, {main.descriptor(), POLLIN, 0}};
    if (poll(fds, 2, 100) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      viewer.ServeOne([&](const pf::WindowMessage& m) -> int32_t {
        record("viewer", m);
        return 0;
      });
    }
    if (fds[1].revents & POLLIN) {
      main.ServeOne([&](const pf::WindowMessage& m) -> int32_t {
        record("main", m);
        if (m.message == 1037) {
          const std::string name = TaskName();
          Log("task " + std::to_string(m.wParam) + " " + name);
          return static_cast<int32_t>(0x1200 + pf::FromUtf8(name).size());
        }
        if (m.message == 1035 && !ignoreClose) closing = true;
        return 0;
      });
    }
  }
  main.Close();
  viewer.Close();
  Log("ended");
  return 0;
}
