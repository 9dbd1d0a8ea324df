#include "platform/tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <set>
#include <utility>

#include "platform/paths.h"
#include "platform/text.h"

namespace perimo::platform {
namespace {

using FolderId = std::pair<dev_t, ino_t>;

class Walker {
 public:
  explicit Walker(const TreeVisitor& visit) : visit_(visit) {}

  bool Walk(const std::string& nativeRoot) {
    const int fd = open(nativeRoot.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) == 0) visited_.insert({st.st_dev, st.st_ino});
    ListFolder(fd, nativeRoot, u"", 0);
    return true;
  }

 private:
  // Takes ownership of fd.
  void ListFolder(int fd, const std::string& nativeFolder, const std::u16string& relative,
                  int depth) {
    DIR* dir = fdopendir(fd);
    if (!dir) {
      close(fd);
      return;
    }
    const std::string prefix = nativeFolder.back() == '/' ? nativeFolder : nativeFolder + "/";
    std::u16string path;
    while (const dirent* entry = readdir(dir)) {
      const std::string_view native(entry->d_name);
      if (native == "." || native == "..") continue;
      bool directory = entry->d_type == DT_DIR;
      bool linked = false;
      struct stat st {};
      if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
        if (fstatat(dirfd(dir), entry->d_name, &st, 0) != 0) continue;  // a link to nothing
        directory = S_ISDIR(st.st_mode);
        struct stat own {};
        linked = entry->d_type == DT_LNK ||
                 (fstatat(dirfd(dir), entry->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 &&
                  S_ISLNK(own.st_mode));
      }
      const std::string child = prefix + std::string(native);
      // A link counts only where the platform layer lets a request go; a linked folder is
      // entered once.
      if (linked &&
          (!Reachable(child) || (directory && visited_.count({st.st_dev, st.st_ino}) != 0))) {
        continue;
      }
      const std::u16string name = FromUtf8(native);
      path = relative.empty() ? name : relative + u'\\' + name;
      const TreeEntry found{name, path, directory, depth};
      if (!visit_(found) || !directory) continue;
      const int childFd =
          openat(dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
      if (childFd < 0) continue;
      struct stat opened;
      if (fstat(childFd, &opened) == 0) visited_.insert({opened.st_dev, opened.st_ino});
      ListFolder(childFd, child, path, depth + 1);
    }
    closedir(dir);
  }

  static bool Reachable(const std::string& native) {
    char* real = realpath(native.c_str(), nullptr);
    if (!real) return false;
    const bool reachable = IsReachableByRequest(real);
    free(real);
    return reachable;
  }

  const TreeVisitor& visit_;
  std::set<FolderId> visited_;
};

}  // namespace

bool WalkTree(const std::string& nativeRoot, const TreeVisitor& visit) {
  return Walker(visit).Walk(nativeRoot);
}

}  // namespace perimo::platform
