#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

namespace perimo::platform {

namespace {

uint32_t RandomBits() {
  thread_local std::minstd_rand engine(static_cast<uint32_t>(time(nullptr)) ^
                                       (static_cast<uint32_t>(getpid()) << 16) ^
                                       static_cast<uint32_t>(clock()));
  return static_cast<uint32_t>(engine());
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// True when the folder, not the disk, refused: the file itself may still be writable.
bool FolderRefused(int err) {
  return err == EACCES || err == EPERM;
}

// Without a sibling file the contents are written over the file where it is. The space is
// reserved first so that a full disk fails before the first byte changes; nothing reports
// success before the data is on disk.
bool RewriteInPlace(const std::string& path, std::string_view contents) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  int failure = 0;
  if (fstat(fd, &st) != 0) {
    failure = errno;
  } else if (!S_ISREG(st.st_mode)) {
    failure = EINVAL;
  } else if (!contents.empty()) {
    failure = posix_fallocate(fd, 0, static_cast<off_t>(contents.size()));
    if (failure == EOPNOTSUPP || failure == EINVAL) failure = 0;  // the file system cannot
  }
  if (failure == 0 && (!WriteAll(fd, contents) ||
                       ftruncate(fd, static_cast<off_t>(contents.size())) != 0 || fsync(fd) != 0)) {
    failure = errno;
  }
  if (close(fd) != 0 && failure == 0) failure = errno;
  errno = failure;
  return failure == 0;
}

// Gives an unnamed file (O_TMPFILE) the first free name prefix + 8 hex digits + ".tmp" in the
// folder; false with errno set when it cannot be linked.
bool LinkUnique(int fd, const std::string& folder, const std::string& prefix, std::string& path) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const uint32_t start = RandomBits();
  for (uint32_t i = 0; i < 4096; ++i) {
    char digits[16];
    snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(start + i));
    const std::string candidate = folder + "/" + prefix + digits + ".tmp";
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      path = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

constexpr int kNoUnnamedFile = -1;

// Writes contents, with the replaced file's owner and mode, into a new file in the folder and
// flushes it to disk; sets path to the file's name. With unnamed, the file gets its name only
// once it is complete, so a crash while writing leaves nothing behind (kNoUnnamedFile when the
// file system or /proc cannot do that). 0 or the errno of the failure; folderRefused tells
// that the folder took no new file.
int WriteSibling(const std::string& folder, const std::string& prefix, unsigned mode,
                 const struct stat* replaced, std::string_view contents, bool unnamed,
                 std::string& path, bool& folderRefused) {
  path.clear();
  folderRefused = false;
  int fd = -1;
  if (unnamed) {
    fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0 && !FolderRefused(errno)) return kNoUnnamedFile;
  } else {
    std::string name;
    fd = CreateUniqueFile(folder, prefix, ".tmp", 8, name, mode);
    if (fd >= 0) path = folder + "/" + name;
  }
  if (fd < 0) {
    folderRefused = FolderRefused(errno);
    return errno;
  }
  int failure = 0;
  if (replaced && geteuid() == 0 && fchown(fd, replaced->st_uid, replaced->st_gid) != 0) {
    failure = errno;  // run as root: the file keeps its owner
  } else if (replaced && fchmod(fd, replaced->st_mode & 07777) != 0) {
    failure = errno;
  } else if (!WriteAll(fd, contents) || fsync(fd) != 0) {
    failure = errno;  // a full disk or a file-size limit ends up here
  }
  if (failure == 0 && unnamed && !LinkUnique(fd, folder, prefix, path)) failure = kNoUnnamedFile;
  if (close(fd) != 0 && failure == 0) failure = errno;
  return failure;
}

// Removes what earlier replaces of the same file left when they were killed between naming
// their temporary file and the rename: prefix + 8 upper-case hex digits + ".tmp".
void RemoveStaleSiblings(const std::string& folder, const std::string& prefix) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() != prefix.size() + 12 || !name.starts_with(prefix) || !name.ends_with(".tmp")) {
      continue;
    }
    const std::string_view digits = name.substr(prefix.size(), 8);
    const bool hex = std::all_of(digits.begin(), digits.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
    });
    if (hex) unlinkat(dirfd(dir), entry->d_name, 0);
  }
  closedir(dir);
}

}  // namespace

int CreateUniqueFile(const std::string& nativeFolder, std::string_view prefix,
                     std::string_view suffix, int hexDigits, std::string& name, unsigned mode) {
  const std::string folder = nativeFolder.empty() ? "." : nativeFolder;
  const std::string separator = folder.back() == '/' ? "" : "/";
  const uint32_t mask = hexDigits >= 8 ? 0xFFFFFFFFu : (1u << (4 * hexDigits)) - 1;
  // Random starting point, then every value in turn: all names are tried before giving up.
  const uint32_t start = RandomBits() & mask;
  for (uint64_t i = 0; i <= mask; ++i) {
    char digits[16];
    snprintf(digits, sizeof digits, "%0*X", hexDigits, static_cast<unsigned>((start + i) & mask));
    std::string candidate = std::string(prefix) + digits + std::string(suffix);
    const int fd = open((folder + separator + candidate).c_str(),
                        O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd >= 0) {
      name = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

bool ReplaceFileAtomically(const std::string& nativePath, std::string_view contents,
                           unsigned newFileMode) {
  std::string target = nativePath;
  struct stat st;
  const bool existed = lstat(nativePath.c_str(), &st) == 0;
  if (existed && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(nativePath.c_str(), resolved)) target = resolved;
  }
  const bool targetExists = stat(target.c_str(), &st) == 0;
  // Only regular files are replaced: a device or a folder under that name is left alone.
  if (targetExists && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    return false;
  }
  // Renaming would bypass the file's own permissions: a file we may not write stays as it is.
  if (targetExists && access(target.c_str(), W_OK) != 0) return false;
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : target.substr(0, slash);
  // The temporary name must stay within the file-name limit however long the name is.
  const std::string base =
      (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 200);
  // The temporary file starts with the narrower of the two modes: it may already hold the
  // contents of a file others may not read.
  const unsigned tempMode = targetExists ? (st.st_mode & newFileMode & 0777) : newFileMode;
  const std::string prefix = "." + base + ".";
  std::string tempPath;
  bool folderRefused = false;
  int failure = WriteSibling(folder, prefix, tempMode, targetExists ? &st : nullptr, contents, true,
                             tempPath, folderRefused);
  if (failure == kNoUnnamedFile) {
    failure = WriteSibling(folder, prefix, tempMode, targetExists ? &st : nullptr, contents, false,
                           tempPath, folderRefused);
  }
  if (folderRefused) {
    // A folder the agent may not write can still hold a settings file it may write.
    errno = failure;
    return targetExists && RewriteInPlace(target, contents);
  }
  bool renameRefused = false;
  if (failure == 0 && rename(tempPath.c_str(), target.c_str()) != 0) {
    failure = errno;
    renameRefused = FolderRefused(failure);  // a sticky folder, the file someone else's
  }
  if (failure == 0) {
    SyncFolder(folder);
    RemoveStaleSiblings(folder, prefix);
    return true;
  }
  if (!tempPath.empty()) unlink(tempPath.c_str());
  if (renameRefused) return RewriteInPlace(target, contents);
  errno = failure;
  return false;
}

bool ReadWholeFile(const std::string& nativePath, std::string& contents, size_t maxBytes) {
  // Non-blocking open: a FIFO named by a request must not stall the agent.
  const int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  int failure = 0;
  if (fstat(fd, &st) != 0) {
    failure = errno;
  } else if (!S_ISREG(st.st_mode)) {
    failure = EINVAL;
  } else if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    failure = EFBIG;
  }
  if (failure != 0) {
    close(fd);
    errno = failure;
    return false;
  }
  contents.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int failure = errno;
      close(fd);
      errno = failure;
      return false;
    }
    if (n == 0) break;
    if (contents.size() + static_cast<size_t>(n) > maxBytes) {
      close(fd);
      errno = EFBIG;  // grew while being read
      return false;
    }
    contents.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

}  // namespace perimo::platform
