#pragma once
// Runs the fake runtime (perimo-fake-runtime) among an agent's windows, reads what it was sent
// and stops it by its process id.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/agent_harness.h"

namespace perimo::e2e {

class FakeRuntime {
 public:
  // Extra arguments as perimo-fake-runtime takes them (--no-viewer, --title T, ...).
  FakeRuntime(AgentHarness& agent, std::vector<std::string> args = {});
  ~FakeRuntime();
  FakeRuntime(const FakeRuntime&) = delete;
  FakeRuntime& operator=(const FakeRuntime&) = delete;

  // Starts it and waits until its windows are open.
  bool Start(int timeoutMs = 5000);
  // Whether it ended by itself within timeoutMs (it ends on the close request).
  bool WaitForExit(int timeoutMs);
  void Stop();

  // Log lines other than "ready" and "ended".
  std::vector<std::string> Messages() const;
  // Waits until a log line equals text.
  bool WaitForMessage(const std::string& text, int timeoutMs = 5000) const;

 private:
  std::filesystem::path log_;
  std::filesystem::path windows_;
  std::vector<std::string> args_;
  pid_t pid_ = -1;
};

// Switches the connection to 16-bit strings (0x20); false when the agent does not answer it.
bool UseWideStrings(workstation::Workstation& ws);

// The bytes of a file of the build folder (programs and libraries the tests place).
std::string BuiltFile(const std::string& name);

}  // namespace perimo::e2e
