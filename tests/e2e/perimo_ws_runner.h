#pragma once
// Runs perimo-ws as a person runs it: a separate process with its standard output and error
// captured in files of a scratch folder, and its exit code.
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace perimo::e2e {

struct WsRun {
  int code = -1;  // -1 when it did not end normally
  std::string out, err;
};

// build/bin/perimo-ws, or the one of $PERIMO_BIN_DIR.
std::filesystem::path WsBinary();

class WsRunner {
 public:
  // Output files go into folder.
  explicit WsRunner(std::filesystem::path folder) : folder_(std::move(folder)) {}

  // Starts perimo-ws with the arguments; the password, when given, in $PERIMO_PASSWORD (any
  // inherited one is dropped). Its process id.
  pid_t Start(std::vector<std::string> args, const std::string& password = {});
  // Waits for it to end; its exit code and output.
  WsRun Wait(pid_t pid);
  WsRun Run(std::vector<std::string> args, const std::string& password = {}) {
    return Wait(Start(std::move(args), password));
  }

 private:
  std::filesystem::path folder_;
};

}  // namespace perimo::e2e
