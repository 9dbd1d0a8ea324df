#pragma once
// A real agent in a folder of its own: the executable copied there, its settings file beside
// it (drive C mapped to a data folder, a free port), its per-user and runtime folders private
// to it, run headless.
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace perimo::bench {

class AgentProcess {
 public:
  // work: an empty folder; executable: the agent to copy.
  AgentProcess(std::string work, std::string executable);
  ~AgentProcess();
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  // Extra lines for the settings file before the start ("[Section]\nKey=value\n").
  std::string extraSettings;
  // Bytes to write as the users file before the start; empty for none.
  std::string usersFile;
  // Start waits until the agent accepts on its port; off for an agent without a listener.
  bool waitForPort = true;

  bool Start();
  void Stop();

  pid_t pid() const { return pid_; }
  uint16_t port() const { return port_; }
  const std::string& driveC() const { return driveC_; }
  // Peak resident memory (VmHWM) in KiB, 0 when unknown.
  uint64_t PeakResidentKiB() const;
  // Processor time (user and system) the agent has used so far, in seconds; -1 when unknown.
  double CpuSeconds() const;

 private:
  std::string work_;
  std::string executable_;
  std::string driveC_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

// A TCP port that was free a moment ago on the loopback address.
uint16_t FreeLoopbackPort();

}  // namespace perimo::bench
