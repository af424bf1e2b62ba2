// Volume contexts attach to the device named at the front of the path they
// open ("/1/dir/file" attaches to "/1"). The device keeps one entry per
// attachment with the full path, which is what the sharing count consults to
// refuse removing or renaming a path that another context holds open.
#pragma once

#include <cstdint>
#include <string>

namespace vrax {

struct BlockDevice;
struct BitmapCache;

struct DeviceAttachment {
  BlockDevice* device = nullptr;
  uint32_t sectorSize = 0;
  BitmapCache** bitmapSlot = nullptr;
};

constexpr int kDeviceNameSize = 32;  // buffer size; names are at most 31 characters

// Copies the device name at the front of `path` into `name` (32 bytes) and
// returns the rest of the path, or null (with a message) when the path has
// no valid device name.
const char* ParseDeviceName(const char* path, char* name);

// Attaches to the device named at the front of `path`; on success `path`
// points at the rest behind the device name. 0, -1 or the lookup's error.
int32_t AttachDevice(const char*& path, DeviceAttachment& attachment);
void DetachDevice(DeviceAttachment& attachment);

// The whole path the attachment was made for ("/1/dir/file"); empty when
// it is not attached.
std::string AttachedPath(const DeviceAttachment& attachment);

// Number of attachments of the same device whose path equals this one's
// (letter case ignored), or with `prefix` begins with it; this one included.
int32_t CountSharers(const DeviceAttachment& attachment, bool prefix);

}  // namespace vrax
