#include "platform/file_error.h"

#include <cerrno>

namespace perimo::platform {

// Windows error numbers the workstation knows how to explain.
uint32_t FileErrorCause(int err) {
  switch (err) {
    case ENOENT:
      return 2;  // file not found
    case ENOTDIR:
    case ELOOP:
      return 3;  // path not found
    case EMFILE:
    case ENFILE:
      return 4;  // too many open files
    case EACCES:
    case EPERM:
    case EISDIR:
      return 5;  // access denied
    case EBADF:
      return 6;  // invalid handle
    case ENOMEM:
      return 8;  // not enough memory
    case EIO:
      return 10;  // bad environment: the Windows code for an I/O fault in this suite
    case ETXTBSY:
      return 11;  // a running program's file
    case EROFS:
      return 19;  // write protected
    case EBUSY:
      return 32;  // in use by another process
    case ENOSPC:
    case EFBIG:  // a file-size limit is a full disk to the workstation
    case EDQUOT:
      return 13;
    case EXDEV:
      return 17;  // not the same device
    case ENOTEMPTY:
      return 145;  // directory not empty
    case EEXIST:
      return 80;  // file exists
    case EINVAL:
      return 87;  // invalid parameter
    case ENAMETOOLONG:
      return 206;  // file name too long
    default:
      return 31;  // general failure
  }
}

}  // namespace perimo::platform
