#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/paths.h"
#include "platform/text.h"

extern char** environ;

namespace perimo::platform {
namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

// Parses arguments from position i to the end of the line.
void ParseArguments(std::u16string_view line, size_t i, std::vector<std::u16string>& out) {
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) return;
    std::u16string word;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      const char16_t c = line[i];
      if (c == u'\\') {
        size_t n = 0;
        while (i < line.size() && line[i] == u'\\') ++n, ++i;
        if (i < line.size() && line[i] == u'"') {
          word.append(n / 2, u'\\');
          if (n % 2 == 1) {
            word.push_back(u'"');
            ++i;
          }
        } else {
          word.append(n, u'\\');
        }
      } else if (c == u'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
          word.push_back(u'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        word.push_back(c);
        ++i;
      }
    }
    out.push_back(std::move(word));
  }
}

std::vector<std::string> ToNativeArguments(const std::vector<std::u16string>& words, size_t first) {
  std::vector<std::string> args;
  for (size_t i = first; i < words.size(); ++i) args.push_back(ToUtf8(words[i]));
  return args;
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> out;
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i >= line.size()) return out;
  std::u16string program;
  if (line[i] == u'"') {
    const size_t end = line.find(u'"', i + 1);
    program = line.substr(i + 1, (end == std::u16string_view::npos ? line.size() : end) - i - 1);
    i = end == std::u16string_view::npos ? line.size() : end + 1;
  } else {
    while (i < line.size() && !IsBlank(line[i])) program.push_back(line[i++]);
  }
  out.push_back(std::move(program));
  ParseArguments(line, i, out);
  return out;
}

std::vector<std::u16string> SplitArguments(std::u16string_view arguments) {
  std::vector<std::u16string> out;
  ParseArguments(arguments, 0, out);
  return out;
}

std::optional<pid_t> SpawnNative(const std::string& program, const std::vector<std::string>& args,
                                 bool newSession) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The agent ignores SIGPIPE and SIGXFSZ; a started program gets the default actions back.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (newSession) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attributes, flags);

  // No inherited handles: descriptors above standard error are closed in the child, also those
  // a library opened without close-on-exec.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

  pid_t pid = 0;
  const int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    errno = error;
    return std::nullopt;
  }
  return pid;
}

std::optional<pid_t> CreateProcess(std::u16string_view program, std::u16string_view commandLine,
                                   PathScope scope) {
  std::u16string programName(program);
  std::vector<std::string> args;
  if (programName.empty()) {
    const auto words = SplitCommandLine(commandLine);
    if (words.empty()) {
      errno = ENOENT;
      return std::nullopt;
    }
    programName = words[0];
    args = ToNativeArguments(words, 1);
  } else {
    args = ToNativeArguments(SplitArguments(commandLine), 0);
  }
  if (programName.empty()) {
    errno = ENOENT;
    return std::nullopt;
  }
  const auto native = ToNativePath(programName, scope);
  if (!native) {
    errno = ENOENT;
    return std::nullopt;
  }
  return SpawnNative(*native, args);
}

WaitResult WaitForProcess(pid_t pid, int timeoutMs, int* exitCode) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  const int pidfd = -1;
#endif
  WaitResult result = WaitResult::kTimedOut;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      if (exitCode) *exitCode = ExitCodeOf(status);
      result = WaitResult::kEnded;
      break;
    }
    if (done < 0 && errno != EINTR) {
      result = WaitResult::kFailed;
      break;
    }
    int sliceMs = 20;
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      if (pidfd >= 0 || left < sliceMs) sliceMs = static_cast<int>(left);
    } else if (pidfd >= 0) {
      sliceMs = -1;
    }
    if (pidfd >= 0) {
      pollfd pfd{pidfd, POLLIN, 0};
      poll(&pfd, 1, sliceMs);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(sliceMs));
    }
  }
  if (pidfd >= 0) close(pidfd);
  return result;
}

void ReleaseProcess(pid_t pid) {
  if (pid <= 0) return;
  std::thread([pid] {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace perimo::platform
