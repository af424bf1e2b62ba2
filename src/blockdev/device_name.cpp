// Device names: "/" and the name of a drive at the front of every volume
// path, and the host disk that a drive number stands for.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "blockdev/attachment.h"
#include "blockdev/block_device.h"

namespace vrax {

const char* ParseDeviceName(const char* path, char* name) {
  name[0] = '\0';
  if (path == nullptr || path[0] != '/') {
    std::fprintf(stderr, "Invalid device name %.64s\n", path == nullptr ? "null" : path);
    return nullptr;
  }
  const size_t length = 1 + std::strcspn(path + 1, "/");  // the "/" included
  if (length > kDeviceNameSize - 1) {
    std::fprintf(stderr, "Invalid device name %.64s\n", path);
    return nullptr;
  }
  std::memcpy(name, path, length);
  name[length] = '\0';
  return path[length] == '/' ? path + length + 1 : path + length;
}

int32_t DriveNumberFromName(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  int32_t number = 0;
  for (const char* p = name + 1; *p >= '0' && *p <= '9'; ++p) {
    const int32_t digit = *p - '0';
    if (number > (kMax - digit) / 10) return kMax;
    number = number * 10 + digit;
  }
  return number;
}

// Drive letters count like spreadsheet columns: a..z, then aa..az, ba, ...
std::string HostDiskPathForDrive(int32_t driveNumber) {
  if (driveNumber < 0) return std::string();
  std::string letters;
  for (int64_t n = static_cast<int64_t>(driveNumber) + 1; n > 0; n = (n - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('a' + (n - 1) % 26));
  }
  return "/dev/sd" + letters;
}

}  // namespace vrax
