#include "e2e/perimo_ws_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace perimo::e2e {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

fs::path WsBinary() {
  const char* dir = std::getenv("PERIMO_BIN_DIR");
  return (dir && *dir ? fs::path(dir) : fs::path("build/bin")) / "perimo-ws";
}

pid_t WsRunner::Start(std::vector<std::string> args, const std::string& password) {
  const std::string exe = WsBinary().string();
  args.insert(args.begin(), exe);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::string(*e).rfind("PERIMO_PASSWORD=", 0) != 0) env.emplace_back(*e);
  }
  if (!password.empty()) env.push_back("PERIMO_PASSWORD=" + password);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (folder_ / "out.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (folder_ / "err.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

WsRun WsRunner::Wait(pid_t pid) {
  WsRun run;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    run.code = WEXITSTATUS(status);
  }
  run.out = ReadAll(folder_ / "out.txt");
  run.err = ReadAll(folder_ / "err.txt");
  return run;
}

}  // namespace perimo::e2e
