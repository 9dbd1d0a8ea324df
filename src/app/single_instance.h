#pragma once
// One agent per user: an exclusive lock on a file in $XDG_RUNTIME_DIR (fallback
// /tmp/perimo-<uid>), held for the life of the process.
#include <string>

namespace perimo {

class SingleInstanceLock {
 public:
  SingleInstanceLock() = default;
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // False when another agent holds the lock.
  bool Acquire();
  static std::string LockPath();

 private:
  int fd_ = -1;
};

}  // namespace perimo
