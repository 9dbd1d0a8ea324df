#pragma once
// Two serial devices wired to each other, as a null-modem cable wires two ports: a pair of
// pseudo-terminals whose far ends a thread copies across. The agent opens one end as its
// port and perimo-ws the other, each by path. The ends stay held here in raw mode, so a
// program that closes its end causes no hang-up and the next one finds the line as it was.
#include <string>
#include <thread>

namespace perimo::e2e {

class NullModem {
 public:
  NullModem() = default;
  ~NullModem();
  NullModem(const NullModem&) = delete;
  NullModem& operator=(const NullModem&) = delete;

  bool Open();
  const std::string& agentEnd() const { return paths_[0]; }
  const std::string& workstationEnd() const { return paths_[1]; }

 private:
  void Relay();

  int masters_[2] = {-1, -1};
  int held_[2] = {-1, -1};
  int stop_[2] = {-1, -1};
  std::string paths_[2];
  std::thread thread_;
};

}  // namespace perimo::e2e
