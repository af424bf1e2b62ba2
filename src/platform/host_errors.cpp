#include "platform/host_errors.h"

#include <cerrno>

#include "platform/error_codes.h"

namespace vrax {

namespace {

constexpr int32_t kErrTooManyOpenFiles = 4;
constexpr int32_t kErrNotSupported = 50;

int32_t FileSystemError(int err) {
  switch (err) {
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrAccessDenied;
    case EEXIST: return kErrAlreadyExists;
    case ENOTEMPTY: return kErrDirNotEmpty;
    case ENAMETOOLONG:
    case ELOOP: return kErrBadPathname;
    case EMFILE:
    case ENFILE: return kErrTooManyOpenFiles;
    default: return 0;
  }
}

int32_t DeviceError(int err) {
  switch (err) {
    case EBADF: return kErrInvalidHandle;
    case ENOMEM: return kErrNotEnoughMemory;
    case EROFS: return kErrWriteProtect;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return kErrNotReady;
    case EBUSY:
    case EWOULDBLOCK:
    case ETXTBSY: return kErrSharingViolation;
    case ENOSPC:
    case EDQUOT: return kErrHandleDiskFull;
    case EINVAL:
    case EFAULT:
    case EOVERFLOW: return kErrInvalidParameter;
    case EFBIG: return kErrFileTooLarge;
    case EOPNOTSUPP: return kErrNotSupported;
    default: return 0;
  }
}

}  // namespace

int32_t ErrorFromErrno(int err) {
  if (err == 0) return -1;
  if (int32_t n = FileSystemError(err)) return n;
  if (int32_t n = DeviceError(err)) return n;
  return kErrIoDevice;
}

int32_t LastHostError() { return ErrorFromErrno(errno); }

}  // namespace vrax
