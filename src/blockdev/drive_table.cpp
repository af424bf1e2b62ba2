// The one mounted drive. The pointer is atomic so that every FTP thread may
// look the drive up while mount or unmount installs or removes it; keeping
// the device itself alive while it is used is the interface lock's job.
#include "blockdev/drive_table.h"

#include <atomic>
#include <cstdio>

#include "blockdev/block_device.h"
#include "platform/ascii_case.h"
#include "platform/error_codes.h"

namespace vrax {

namespace {

std::atomic<BlockDevice*> g_currentDrive{nullptr};

}  // namespace

BlockDevice* VRAX_FindDrive(const char* name, int32_t& error) {
  BlockDevice* drive = g_currentDrive.load(std::memory_order_acquire);
  if (drive != nullptr && name != nullptr && EqualsNoCase(drive->name, name)) {
    error = kOk;
    return drive;
  }
  std::fprintf(stderr, "Drive %s not found\n", name != nullptr ? name : "null");
  error = kErrFileNotFound;
  return nullptr;
}

void SetCurrentDrive(BlockDevice* device) {
  g_currentDrive.store(device, std::memory_order_release);
}

BlockDevice* CurrentDrive() { return g_currentDrive.load(std::memory_order_acquire); }

void ForgetDrive(BlockDevice* device) {
  BlockDevice* expected = device;
  g_currentDrive.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
}

}  // namespace vrax
