#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace perimo {

std::string SingleInstanceLock::LockPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    return std::string(runtime) + "/perimo.lock";
  }
  const std::string folder = "/tmp/perimo-" + std::to_string(getuid());
  mkdir(folder.c_str(), 0700);
  return folder + "/perimo.lock";
}

bool SingleInstanceLock::Acquire() {
  if (fd_ >= 0) return true;
  const int fd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // no place for a lock: do not refuse to run
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

SingleInstanceLock::~SingleInstanceLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace perimo
