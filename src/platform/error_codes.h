// Error numbers spoken by the whole system.
//
// Results are signed 32-bit numbers, 0 for success. Small positive numbers
// are the Windows system error numbers the volume was designed around, so a
// number means the same thing on every platform and in every log; host errno
// values are translated into them at the host layer (host_errors.h). Larger
// hexadecimal numbers are the volume core's own consistency failures.
#pragma once

#include <cstdint>

namespace vrax {

enum : int32_t {
  kOk = 0,
  kErrInvalidFunction = 1,      // a descriptor shorter than 20 bytes
  kErrFileNotFound = 2,         // drive not found
  kErrPathNotFound = 3,         // path component, attribute or record not found
  kErrAccessDenied = 5,         // access denied, context without device
  kErrInvalidHandle = 6,
  kErrNotEnoughMemory = 8,
  kErrWriteProtect = 19,
  kErrNotReady = 21,
  kErrSectorNotFound = 27,      // sector range beyond the volume
  kErrSharingViolation = 32,    // path open elsewhere, disk locked by another process
  kErrLockViolation = 33,
  kErrHandleDiskFull = 39,      // no free clusters
  kErrInvalidParameter = 87,
  kErrDiskFull = 112,
  kErrBadStructure = 114,       // wrong magic, fix-up mismatch, malformed structure
  kErrDirNotEmpty = 145,
  kErrBadArguments = 160,       // invalid bytes per sector
  kErrBadPathname = 161,        // invalid name
  kErrAlreadyExists = 183,
  kErrFileTooLarge = 223,
  kErrIoDevice = 1117,          // the device reported an I/O error
  kErrIncorrectSize = 1462,     // value size beyond the limit
};

}  // namespace vrax
