#include "fleet.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <ostream>
#include <thread>

namespace perimo::ws {

bool ReadHostsFile(const std::string& path, std::vector<std::string>& targets, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read the hosts file \"" + path + "\"";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const size_t last = line.find_last_not_of(" \t\r");
    const std::string target = line.substr(first, last - first + 1);
    std::string host;
    uint16_t port = 4322;
    if (!workstation::ParseHostPort(target, host, port)) {
      error = path + ":" + std::to_string(number) + ": not a HOST[:PORT]: " + target;
      return false;
    }
    targets.push_back(target);
  }
  if (targets.empty()) {
    error = "the hosts file \"" + path + "\" names no target";
    return false;
  }
  return true;
}

int RunFleet(const Command& command, const workstation::ConnectOptions& base,
             const std::vector<std::string>& targets, int parallel, bool json, std::ostream& out) {
  struct Result {
    int code = 0;
    Output output;
    std::string error;
  };
  std::vector<Result> results(targets.size());
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next++) < targets.size();) {
      workstation::ConnectOptions connect = base;
      connect.port = 4322;
      workstation::ParseHostPort(targets[i], connect.host, connect.port);
      Command quiet = command;
      quiet.progress = false;
      results[i].code = RunCommand(quiet, connect, results[i].output, results[i].error);
    }
  };
  std::vector<std::thread> workers;
  const int count = std::clamp<int>(parallel, 1, static_cast<int>(targets.size()));
  for (int i = 0; i < count; ++i) workers.emplace_back(worker);
  for (auto& w : workers) w.join();

  int exitCode = 0;
  size_t failed = 0;
  for (size_t i = 0; i < targets.size(); ++i) {
    const Result& r = results[i];
    exitCode = std::max(exitCode, r.code);
    failed += r.code != 0;
    if (json) {
      out << r.output.json.dump() << "\n";
    } else {
      out << "== " << targets[i] << "\n" << r.output.text;
      if (r.code != 0) out << "error: " << r.error << "\n";
    }
  }
  if (json) {
    nlohmann::json summary = {
        {"command", "fleet"}, {"targets", targets.size()}, {"failed", failed}, {"ok", failed == 0}};
    out << summary.dump() << "\n";
    return exitCode;
  }
  size_t width = 6;
  for (const auto& t : targets) width = std::max(width, t.size());
  out << "\n" << std::string("TARGET") << std::string(width - 6 + 2, ' ') << "EXIT  RESULT\n";
  for (size_t i = 0; i < targets.size(); ++i) {
    const Result& r = results[i];
    out << targets[i] << std::string(width - targets[i].size() + 2, ' ') << r.code
        << std::string(5, ' ') << (r.code == 0 ? "ok" : r.error) << "\n";
  }
  out << targets.size() - failed << " of " << targets.size() << " targets succeeded\n";
  return exitCode;
}

}  // namespace perimo::ws
