// perimo-ws: the workstation on the command line. Connects to an agent, opens the encrypted
// link and logs in when the agent asks for it, and runs one command.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "commands.h"
#include "fleet.h"
#include "workstation/text.h"

namespace {

using namespace perimo;

constexpr char kSyncHelp[] =
    "Sends the files of LOCAL_DIR whose SHA-1 differs from the remote file's, or that the "
    "target lacks, into REMOTE_DIR (absolute: C:\\... or \\...). With --delete, files that "
    "the all-files project listing shows under REMOTE_DIR and LOCAL_DIR lacks are removed; "
    "that listing never shows files below folders named Bin or Drv, so those are left alone.";

// The first line of a file, without its line end.
bool FirstLine(const std::string& path, std::string& line) {
  std::ifstream in(path);
  if (!in) return false;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return true;
}

int Fatal(int code, const std::string& message) {
  std::fprintf(stderr, "perimo-ws: %s\n", message.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"perimo-ws: manage a Perimo agent from the command line"};
  app.set_help_all_flag("--help-all", "Help for every command");
  app.require_subcommand(1);

  std::string hostText = "127.0.0.1:4322", serial, user, passwordFile, pskFile, hostsFile;
  int baud = 19200, parallel = 4;
  double timeout = 30;
  bool json = false, narrow = false;
  auto* hostOption =
      app.add_option("--host", hostText, "Agent address HOST[:PORT]")->capture_default_str();
  auto* serialOption =
      app.add_option("--serial", serial, "Serial device of the agent's link (instead of --host)")
          ->excludes(hostOption);
  app.add_option("--baud", baud, "Baud rate of the serial link, as the agent's SerialBaud")
      ->check(CLI::Range(50, 4000000))
      ->capture_default_str();
  app.add_option("--user", user, "User name when the agent's security is on");
  app.add_option("--password-file", passwordFile,
                 "File whose first line is the password (else $PERIMO_PASSWORD)");
  app.add_option("--psk-file", pskFile, "File whose first line is the pre-shared link key");
  app.add_option("--timeout", timeout, "Seconds to wait for a connection or a reply")
      ->check(CLI::Range(0.1, 86400.0))
      ->capture_default_str();
  app.add_flag("--json", json, "One machine-readable JSON result per command");
  app.add_flag("--narrow", narrow, "Keep 8-bit request strings");
  app.add_option("--hosts", hostsFile,
                 "File of targets, one HOST[:PORT] a line (put, sync, runtime, info); the exit "
                 "status is the largest of the targets'")
      ->excludes(serialOption);
  app.add_option("--parallel", parallel, "Targets served at once with --hosts")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();

  ws::Command c;
  auto positional = [&](CLI::App* sub, const char* name, const char* help) {
    return sub->add_option(name, c.args, help);
  };
  auto* info = app.add_subcommand("info", "System information of the target in one block");
  auto* ls = app.add_subcommand("ls", "List a folder (sub-folders, then files), or other lists");
  positional(ls, "path", "Remote folder (default C:\\)");
  ls->add_flag("--projects", c.projects, "Project files under PATH, recursively");
  ls->add_flag("--system", c.system, "The agent's program and driver files");
  ls->add_flag("--drives", c.drives, "The drives of the target");
  ls->add_flag("-R,--recursive", c.recursive, "Every file under PATH (not below Bin or Drv)");
  auto* get = app.add_subcommand("get", "Fetch a remote file (or folder with -r)");
  positional(get, "paths", "REMOTE [LOCAL]")->required()->expected(1, 2);
  get->add_flag("-r,--recursive", c.recursive, "Fetch a folder (not below Bin or Drv)");
  auto* put = app.add_subcommand("put", "Send a local file (or folder with -r)");
  positional(put, "paths", "LOCAL REMOTE")->required()->expected(2, 2);
  put->add_flag("-r,--recursive", c.recursive, "Send a folder");
  put->add_option("--compress", c.compress,
                  "none, lzss, lzw, huffman or auto (on a serial line the smallest coder's output "
                  "when it saves a sixteenth; none on TCP)")
      ->check(CLI::IsMember({"none", "lzss", "lzw", "huffman", "auto"}))
      ->capture_default_str();
  auto* rm = app.add_subcommand("rm", "Remove the files a wildcard path matches");
  positional(rm, "patterns", "PATTERN...")->required();
  auto* mkdir = app.add_subcommand("mkdir", "Create a folder and its parents");
  positional(mkdir, "paths", "PATH...")->required();
  auto* rmdir = app.add_subcommand("rmdir", "Remove an empty folder");
  positional(rmdir, "paths", "PATH...")->required();

  auto* ini = app.add_subcommand("ini", "Read or write a value of a settings file on the target");
  ini->require_subcommand(1);
  auto* iniGet = ini->add_subcommand("get", "ini get FILE SECTION KEY");
  positional(iniGet, "fields", "FILE SECTION KEY")->required()->expected(3, 3);
  iniGet->add_option("--default", c.fallback, "Value when the key is absent");
  auto* iniSet = ini->add_subcommand("set", "ini set FILE SECTION KEY VALUE");
  positional(iniSet, "fields", "FILE SECTION KEY VALUE")->required()->expected(4, 4);

  auto* setting = app.add_subcommand(
      "setting", "Read or write \"Program Settings.INI\" in the agent's settings folder");
  setting->require_subcommand(1);
  auto* settingGet = setting->add_subcommand("get", "setting get SECTION KEY");
  positional(settingGet, "fields", "SECTION KEY")->required()->expected(2, 2);
  settingGet->add_option("--default", c.fallback, "Value when the key is absent");
  auto* settingSet = setting->add_subcommand("set", "setting set SECTION KEY VALUE");
  positional(settingSet, "fields", "SECTION KEY VALUE")->required()->expected(3, 3);

  auto* reg = app.add_subcommand("reg", "Read or write a registry string value on the target");
  reg->require_subcommand(1);
  auto* regGet = reg->add_subcommand("get", "reg get ROOT\\KEY [NAME] (no name: default value)");
  positional(regGet, "fields", "ROOT\\KEY [NAME]")->required()->expected(1, 2);
  auto* regSet = reg->add_subcommand("set", "reg set ROOT\\KEY [NAME] VALUE");
  positional(regSet, "fields", "ROOT\\KEY [NAME] VALUE")->required()->expected(2, 3);

  auto* runtime = app.add_subcommand("runtime", "Start, stop or reach the runtime");
  runtime->require_subcommand(1);
  runtime->add_subcommand("start", "Start the runtime with the configured project");
  runtime->add_subcommand("stop", "Stop the runtime (waits up to about 11 s)");
  runtime->add_subcommand("status", "Whether the runtime's viewer runs");
  positional(runtime->add_subcommand("screen", "Tell the viewer that a screen changed"), "name",
             "SCREEN")
      ->required()
      ->expected(1, 1);
  positional(runtime->add_subcommand("post", "Post a window message to the viewer"), "fields",
             "MESSAGE WPARAM LPARAM")
      ->required()
      ->expected(3, 3);

  auto* task = app.add_subcommand("task", "Start, query or stop runtime tasks");
  task->require_subcommand(1);
  for (const char* action : {"start", "query", "stop"}) {
    positional(task->add_subcommand(action, std::string(action) + " tasks"), "names", "NAME...")
        ->required();
  }
  auto* digest = app.add_subcommand("digest", "SHA-1 of remote files");
  positional(digest, "names", "REMOTE...")->required();
  auto* upgrade =
      app.add_subcommand("upgrade",
                         "Put a folder's files into the staging folder, hand over to the upgrade "
                         "program and wait for the new agent");
  positional(upgrade, "folder", "FOLDER")->required()->expected(1, 1);
  upgrade->add_option("--staging", c.staging, "Staging folder on the target")
      ->capture_default_str();
  auto* sync = app.add_subcommand("sync", "Incremental deploy of a folder");
  sync->footer(kSyncHelp);
  positional(sync, "folders", "LOCAL_DIR REMOTE_DIR")->required()->expected(2, 2);
  sync->add_flag("--delete", c.remove, "Remove remote files the local folder lacks");
  sync->add_flag("--dry-run", c.dryRun, "Only say what would be done");
  (void)info;

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }

  CLI::App* sub = app.get_subcommands().front();
  c.name = sub->get_name();
  if (!sub->get_subcommands().empty()) c.action = sub->get_subcommands().front()->get_name();
  c.progress = !json && isatty(STDERR_FILENO) == 1;

  workstation::ConnectOptions connect;
  connect.serialDevice = serial;
  connect.baud = baud;
  if (!workstation::ParseHostPort(hostText, connect.host, connect.port)) {
    return Fatal(2, "--host: not a HOST[:PORT]: " + hostText);
  }
  connect.timeoutMs = static_cast<int>(timeout * 1000);
  connect.wideStrings = !narrow;
  if (!user.empty()) {
    connect.user = user;
    if (!passwordFile.empty()) {
      if (!FirstLine(passwordFile, connect.password)) {
        return Fatal(2, "--password-file: cannot read \"" + passwordFile + "\"");
      }
    } else if (const char* env = std::getenv("PERIMO_PASSWORD")) {
      connect.password = env;
    }
  }
  if (!pskFile.empty()) {
    std::string key;
    if (!FirstLine(pskFile, key)) return Fatal(2, "--psk-file: cannot read \"" + pskFile + "\"");
    connect.preSharedKey = workstation::FromUtf8(key);
  }

  if (!hostsFile.empty()) {
    if (c.name != "put" && c.name != "sync" && c.name != "runtime" && c.name != "info") {
      return Fatal(2, "--hosts runs put, sync, runtime and info only");
    }
    std::vector<std::string> targets;
    std::string error;
    if (!ws::ReadHostsFile(hostsFile, targets, error)) return Fatal(2, error);
    return ws::RunFleet(c, connect, targets, parallel, json, std::cout);
  }

  ws::Output output;
  std::string error;
  const int code = ws::RunCommand(c, connect, output, error);
  if (json) {
    std::cout << output.json.dump() << std::endl;
  } else {
    std::cout << output.text << std::flush;
  }
  if (code != 0) std::fprintf(stderr, "perimo-ws: %s\n", error.c_str());
  return code;
}
