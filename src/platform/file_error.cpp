#include "platform/file_error.h"

#include <cerrno>

namespace perimo::platform {

// The workstation explains only the causes 0-14; every errno goes to the nearest of them
// and anything without a match is the generic error.
uint32_t FileErrorCause(int err) {
  switch (err) {
    case ENOENT:
      return kCauseFileNotFound;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return kCauseBadPath;
    case EMFILE:
    case ENFILE:
      return kCauseTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EEXIST:
    case ENOTEMPTY:
      return kCauseAccessDenied;
    case EBADF:
      return kCauseInvalidHandle;
    case EMLINK:
      return kCauseDirectoryFull;
    case ESPIPE:
    case EOVERFLOW:
      return kCauseSeekFailed;
    case EIO:
    case ENXIO:
    case ENODEV:
      return kCauseHardwareIo;
    case ETXTBSY:
    case EBUSY:
      return kCauseSharingViolation;
    case EAGAIN:  // a lock held elsewhere, asked for without waiting
    case EDEADLK:
    case ENOLCK:
      return kCauseLockViolation;
    case ENOSPC:
    case EFBIG:  // a file-size limit is a full disk to the workstation
    case EDQUOT:
      return kCauseDiskFull;
    default:
      return kCauseGeneric;
  }
}

}  // namespace perimo::platform
