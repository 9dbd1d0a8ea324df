#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace perimo::platform {

namespace {

std::string_view LastComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

FileTime ToFileTime(const statx_timestamp& t) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(t.tv_sec);
  ts.tv_nsec = static_cast<long>(t.tv_nsec);
  return FileTimeFromUnix(ts);
}

bool StatWire(std::u16string_view wirePath, struct stat& st) {
  const auto native = ToNativePath(wirePath);
  return native && stat(native->c_str(), &st) == 0;
}

// Closes a descriptor without disturbing errno from an earlier failure.
void CloseQuietly(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

bool CopyNative(const std::string& from, const std::string& to, bool failIfExists) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return false;
  struct stat src;
  struct stat dst;
  // Only regular files are copied: a device such as /dev/zero would never end.
  const bool known = fstat(in, &src) == 0;
  if (!known || !S_ISREG(src.st_mode)) {
    if (known) errno = EACCES;
    CloseQuietly(in);
    return false;
  }
  if (stat(to.c_str(), &dst) == 0 && dst.st_dev == src.st_dev && dst.st_ino == src.st_ino) {
    errno = failIfExists ? EEXIST : EBUSY;  // copying a file onto itself would empty it
    CloseQuietly(in);
    return false;
  }
  const int out =
      open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC),
           src.st_mode & 0777);
  if (out < 0) {
    CloseQuietly(in);
    return false;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (w == 0) errno = ENOSPC;
        ok = false;
      } else {
        done += w;
      }
    }
    if (!ok) break;
  }
  // Like Windows, the copy keeps the source's last-write time.
  const timespec times[2] = {src.st_atim, src.st_mtim};
  if (ok) futimens(out, times);
  if (close(out) != 0) ok = false;
  CloseQuietly(in);
  if (!ok) {
    const int saved = errno;
    unlink(to.c_str());
    errno = saved;
  }
  return ok;
}

}  // namespace

std::optional<NativeFileInfo> StatNative(const std::string& nativePath) {
  struct statx sx;
  if (statx(AT_FDCWD, nativePath.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    return std::nullopt;
  }
  NativeFileInfo info;
  const std::string_view name = LastComponent(nativePath);
  if (S_ISDIR(sx.stx_mode)) {
    info.attributes |= kAttrDirectory;
  } else {
    info.size = sx.stx_size;
    if (S_ISREG(sx.stx_mode)) info.attributes |= kAttrArchive;
  }
  if (!(sx.stx_mode & S_IWUSR)) info.attributes |= kAttrReadOnly;
  if (name.size() > 1 && name[0] == '.' && name != "..") info.attributes |= kAttrHidden;
  if (info.attributes == 0) info.attributes = kAttrNormal;
  info.times.write = ToFileTime(sx.stx_mtime);
  info.times.access = ToFileTime(sx.stx_atime);
  info.times.creation = (sx.stx_mask & STATX_BTIME) ? ToFileTime(sx.stx_btime) : info.times.write;
  return info;
}

bool IsFile(std::u16string_view wirePath) {
  struct stat st;
  return StatWire(wirePath, st) && !S_ISDIR(st.st_mode);
}

bool IsDirectory(std::u16string_view wirePath) {
  struct stat st;
  return StatWire(wirePath, st) && S_ISDIR(st.st_mode);
}

bool PathExists(std::u16string_view wirePath) {
  struct stat st;
  return StatWire(wirePath, st);
}

uint32_t GetFileAttributes(std::u16string_view wirePath) {
  const auto native = ToNativePath(wirePath);
  const auto info = native ? StatNative(*native) : std::nullopt;
  return info ? info->attributes : kInvalidAttributes;
}

bool SetFileAttributes(std::u16string_view wirePath, uint32_t attributes) {
  const auto native = ToNativePath(wirePath);
  struct stat st;
  if (!native || stat(native->c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;  // Windows ignores read-only on folders too
  // Read-only takes every write bit away; its absence gives the owner's back.
  const mode_t mode = (attributes & kAttrReadOnly) ? (st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                                                   : (st.st_mode | S_IWUSR);
  return (mode & 07777) == (st.st_mode & 07777) || chmod(native->c_str(), mode & 07777) == 0;
}

std::optional<FileTimes> GetFileTimes(std::u16string_view wirePath) {
  const auto native = ToNativePath(wirePath);
  const auto info = native ? StatNative(*native) : std::nullopt;
  if (!info) return std::nullopt;
  return info->times;
}

bool SetFileTimes(std::u16string_view wirePath, const FileTimes& times) {
  const auto native = ToNativePath(wirePath);
  if (!native) return false;
  timespec values[2];
  values[0] = times.access ? UnixFromFileTime(times.access) : timespec{0, UTIME_OMIT};
  values[1] = times.write ? UnixFromFileTime(times.write) : timespec{0, UTIME_OMIT};
  return utimensat(AT_FDCWD, native->c_str(), values, 0) == 0;
}

std::optional<uint64_t> GetFileSize(std::u16string_view wirePath) {
  const auto native = ToNativePath(wirePath);
  const auto info = native ? StatNative(*native) : std::nullopt;
  if (!info) return std::nullopt;
  return info->size;
}

bool CreateDirectory(std::u16string_view wirePath) {
  const auto native = ToNativePath(wirePath);
  return native && mkdir(native->c_str(), 0777) == 0;
}

bool RemoveDirectory(std::u16string_view wirePath) {
  const auto native = ToNativePath(wirePath);
  return native && rmdir(native->c_str()) == 0;
}

bool DeleteFile(std::u16string_view wirePath) {
  const auto native = ToNativePath(wirePath);
  return native && unlink(native->c_str()) == 0;
}

bool MoveFile(std::u16string_view from, std::u16string_view to, bool replace) {
  const auto source = ToNativePath(from);
  auto target = ToNativePath(to);
  if (!source || !target) return false;
  if (*target == *source) {
    // The target's lookup found the source itself: a change of letter case only.
    const size_t slash = source->rfind('/');
    std::u16string name = FileNamePart(to);
    while (!name.empty() && (name.back() == u'.' || name.back() == u' ')) name.pop_back();
    if (name.empty() || slash == std::string::npos) return true;
    target = source->substr(0, slash + 1) + ToUtf8(name);
    replace = true;
  }
  const int result =
      replace ? rename(source->c_str(), target->c_str())
              : renameat2(AT_FDCWD, source->c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE);
  if (result == 0) return true;
  if (!replace && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without no-replace renames: check, then rename.
    struct stat st;
    if (lstat(target->c_str(), &st) == 0) {
      errno = EEXIST;
      return false;
    }
    if (rename(source->c_str(), target->c_str()) == 0) return true;
  }
  struct stat st;
  if (errno != EXDEV || stat(source->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Another volume: files are copied and the original removed, as Windows does.
  return CopyNative(*source, *target, !replace) && unlink(source->c_str()) == 0;
}

bool CopyFile(std::u16string_view from, std::u16string_view to, bool failIfExists) {
  const auto source = ToNativePath(from);
  const auto target = ToNativePath(to);
  return source && target && CopyNative(*source, *target, failIfExists);
}

int OpenFile(std::u16string_view wirePath, int flags, int mode) {
  const auto native = ToNativePath(wirePath);
  return native ? open(native->c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode) : -1;
}

std::optional<std::u16string> CreateTempFile(std::u16string_view wireFolder, int* fd) {
  const auto native = ToNativePath(wireFolder);
  if (!native) return std::nullopt;
  std::string name;
  const int created = CreateUniqueFile(*native, "tmp", ".tmp", 4, name);
  if (created < 0) return std::nullopt;
  if (fd) {
    *fd = created;
  } else {
    close(created);
  }
  std::u16string_view folder = wireFolder;
  while (!folder.empty() && IsSeparator(folder.back())) folder.remove_suffix(1);
  return std::u16string(folder) + u"\\" + FromUtf8(name);
}

std::optional<uint64_t> FreeDiskSpace(std::u16string_view wirePath) {
  const auto native = ToNativePath(wirePath);
  struct statvfs vfs;
  if (!native || statvfs(native->c_str(), &vfs) != 0) return std::nullopt;
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

}  // namespace perimo::platform
