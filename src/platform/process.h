#pragma once
// Starting other programs from a Windows command line. The line is split with the Windows
// quoting rules; the program is a wire path mapped to a native one, the arguments pass
// unchanged. Programs start with the agent's environment and current folder and inherit no
// descriptor beyond standard input, output and error.
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace perimo::platform {

// Splits a command line as the Windows C runtime does. The first word is the program name:
// it runs to the next blank, or between double quotes, and backslashes in it are literal.
// In later words 2n backslashes before a quote give n backslashes and the quote opens or
// closes a quoted run, 2n+1 give n backslashes and a literal quote, a doubled quote inside
// a quoted run gives one quote; other backslashes are literal.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);
// The same rules for a line of arguments only (no program name in front).
std::vector<std::u16string> SplitArguments(std::u16string_view arguments);

// Starts a process. With a program, the whole command line is its arguments; without one
// (empty), the command line's first word names the program. The process id, or nullopt
// with errno set when the program could not be started. The scope says who names the program:
// a request's name must stay inside the drive map.
std::optional<pid_t> CreateProcess(std::u16string_view program, std::u16string_view commandLine,
                                   PathScope scope = PathScope::kRequest);
// The same for a native program path and native arguments (argv[0] is added).
std::optional<pid_t> SpawnNative(const std::string& program, const std::vector<std::string>& args,
                                 bool newSession = false);

enum class WaitResult { kEnded, kTimedOut, kFailed };
// Waits for the process to end (timeoutMs < 0: without limit) and collects it. exitCode gets
// its exit status, or 128 + the signal that ended it.
WaitResult WaitForProcess(pid_t pid, int timeoutMs, int* exitCode = nullptr);
// Gives up a process that is not waited for: it is collected in the background when it ends,
// so it never lingers as a zombie.
void ReleaseProcess(pid_t pid);

}  // namespace perimo::platform
