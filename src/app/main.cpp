// The agent's entry point: a Qt event loop (with widgets when a display is available) carrying
// the transports, the timers and the dialogs.
#include <QApplication>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/darrow_app.h"
#include "app/exit_signals.h"

namespace {

constexpr char kUsage[] =
    "Usage: perimo [--headless] [--help] [--version]\n"
    "The remote agent: serves one engineering workstation at a time over TCP.\n"
    "  --headless  no windows: status lines and messages go to standard output\n"
    "  --help      show this text\n"
    "  --version   show the version\n";

bool HasDisplay() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

}  // namespace

int main(int argc, char** argv) {
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--headless") == 0) {
      headless = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("perimo %s\n", PERIMO_VERSION);
      return 0;
    } else {
      std::fprintf(stderr, "perimo: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (!HasDisplay()) headless = true;
  // A status line to a closed standard output must not end the agent.
  std::signal(SIGPIPE, SIG_IGN);
  // A file-size limit must fail the write (reported to the workstation as a full disk), not
  // end the agent in the middle of a download.
  std::signal(SIGXFSZ, SIG_IGN);

  std::unique_ptr<QCoreApplication> loop;
  if (headless) {
    loop = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    auto widgets = std::make_unique<QApplication>(argc, argv);
    // Hiding or closing the status window never ends the agent; only its exit does.
    widgets->setQuitOnLastWindowClosed(false);
    loop = std::move(widgets);
  }
  perimo::ExitSignals exitSignals;
  perimo::CDarrowApp app(headless);
  if (!app.InitInstance()) return 0;
  if (!exitSignals.requested()) loop->exec();
  return app.ExitInstance();
}
