// Mounting and unmounting the one drive.
#include <cstdio>

#include "blockdev/block_device.h"
#include "blockdev/drive_table.h"
#include "fileio/interface_lock.h"
#include "fileio/vrax_io.h"
#include "platform/error_codes.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

// The whole mount runs under the interface lock, so no call of another
// thread sees the drive installed before its root is open. A drive whose
// root does not open stays installed: later calls then fail with the
// volume's own error, which says more than "not found" would.
VraxInterface::VraxInterface(const char* drivePath, bool writable, const std::string& hostPath) {
  InterfaceGuard guard(InterfaceLock());
  int32_t error = -1;
  device_ = CreateDevice(drivePath, writable, error, hostPath);
  if (device_ != nullptr) {
    SetCurrentDrive(device_);
    error = ToolkitOpen(root_, drivePath);
  }
  if (error != kOk) {
    std::fprintf(stderr, "VRAX Interface: error %d opening %s\n", error,
                 drivePath != nullptr ? drivePath : "(null)");
  }
}

// Deleting the device also removes it from the drive table, so no later
// call can reach the freed device.
VraxInterface::~VraxInterface() {
  InterfaceGuard guard(InterfaceLock());
  ToolkitClose(root_);
  root_ = nullptr;
  DeleteDevice(device_);
  device_ = nullptr;
}

}  // namespace vrax
