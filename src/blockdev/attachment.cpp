// Attaching volume contexts to their device and counting who shares a path.
//
// The attachment map has no lock of its own: attach, detach and the sharing
// count run inside volume operations, which the file interface serialises.
#include "blockdev/attachment.h"

#include <cstdio>
#include <new>
#include <string>

#include "blockdev/block_device.h"
#include "platform/ascii_case.h"
#include "blockdev/drive_table.h"
#include "platform/error_codes.h"

namespace vrax {

namespace {

uintptr_t KeyOf(const DeviceAttachment& attachment) {
  return reinterpret_cast<uintptr_t>(&attachment);
}

// Registers the attachment under its address with a copy of the whole path.
int32_t Register(BlockDevice& device, const DeviceAttachment& attachment, const char* path) {
  try {
    if (!device.attachments.try_emplace(KeyOf(attachment), path).second) {
      std::fputs("attach device - internal error\n", stderr);
      return -1;
    }
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  return kOk;
}

}  // namespace

int32_t AttachDevice(const char*& path, DeviceAttachment& attachment) {
  char name[kDeviceNameSize];
  const char* rest = ParseDeviceName(path, name);
  if (rest == nullptr) return -1;
  int32_t error = kErrFileNotFound;
  BlockDevice* device = VRAX_FindDrive(name, error);
  if (device == nullptr) return error;
  if (const int32_t failed = Register(*device, attachment, path)) return failed;
  attachment.device = device;
  attachment.sectorSize = static_cast<uint32_t>(device->sectorSize);
  attachment.bitmapSlot = &device->bitmapSlot;
  path = rest;
  return kOk;
}

// The attachment forgets its device too, so a second detach or a late
// sharing count finds nothing instead of another context's entry.
void DetachDevice(DeviceAttachment& attachment) {
  if (attachment.device == nullptr) return;
  attachment.device->attachments.erase(KeyOf(attachment));
  attachment.device = nullptr;
  attachment.bitmapSlot = nullptr;
}

std::string AttachedPath(const DeviceAttachment& attachment) {
  if (attachment.device == nullptr) return std::string();
  const auto found = attachment.device->attachments.find(KeyOf(attachment));
  return found == attachment.device->attachments.end() ? std::string() : found->second;
}

namespace {

// True when `path` names `dir` itself or something below it: /1/dir covers
// /1/dir and /1/dir/f, but not /1/dirt.
bool CoveredBy(const std::string& path, const std::string& dir) {
  if (!StartsWithNoCase(path, dir)) return false;
  if (path.size() == dir.size() || dir.empty() || dir.back() == '/') return true;
  return path[dir.size()] == '/';
}

}  // namespace

int32_t CountSharers(const DeviceAttachment& attachment, bool prefix) {
  if (attachment.device == nullptr) return 0;
  const auto& entries = attachment.device->attachments;
  const auto own = entries.find(KeyOf(attachment));
  if (own == entries.end()) return 0;
  const std::string& mine = own->second;
  int32_t count = 0;
  for (const auto& [key, path] : entries) {
    if (prefix ? CoveredBy(path, mine) : EqualsNoCase(path, mine)) ++count;
  }
  return count;
}

}  // namespace vrax
