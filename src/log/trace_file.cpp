#include "log/trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace perimo::log {
namespace {

constexpr std::u16string_view kUnixPrefix = u"\\\\?\\unix";

bool IsBackslash(char16_t c) {
  return c == u'\\' || c == u'/';
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::u16string TraceFilePath(std::u16string_view exe) {
  std::u16string prefix;
  if (exe.size() > kUnixPrefix.size() && exe.substr(0, kUnixPrefix.size()) == kUnixPrefix &&
      IsBackslash(exe[kUnixPrefix.size()])) {
    prefix = kUnixPrefix;
    exe.remove_prefix(kUnixPrefix.size());
  }
  std::u16string folder(exe);
  for (size_t i = 1; i < exe.size(); ++i) {
    if (IsBackslash(exe[i])) {
      folder = exe.substr(0, i + 1);
      break;
    }
  }
  if (folder.empty() || !IsBackslash(folder.back())) folder += u'\\';
  return prefix + folder + kTraceFileName;
}

TraceFile::TraceFile(std::string nativePath) : path_(std::move(nativePath)) {}

void TraceFile::Decide() {
  if (decided_) return;
  decided_ = true;
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  struct stat st {};
  // Only a regular file: a FIFO or device under that name would stall the writer.
  enabled_ = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
}

bool TraceFile::enabled() {
  std::lock_guard guard(lock_);
  return decided_ && enabled_;
}

void TraceFile::Write(std::u16string_view text) {
  std::lock_guard guard(lock_);
  Decide();
  if (!enabled_ || text.empty() || path_.empty()) return;
  // Existing file only: a deleted trace file is not created again.
  int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return;
  }
  if (st.st_size > kTraceFileLimit && ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return;
  }
  std::string bytes;
  bytes.reserve(text.size() + 8);
  for (char16_t c : text) {
    if (c == u'\n') {
      bytes += "\r\n";
    } else {
      bytes.push_back(static_cast<char>(c & 0xFF));
    }
  }
  bytes += "\r\n";
  WriteAll(fd, bytes);
  ::close(fd);
}

}  // namespace perimo::log
