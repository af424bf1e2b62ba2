#include "blockdev/device_faults.h"

#include "blockdev/block_device.h"

#include <utility>

namespace vrax {

namespace {

FaultPlan& PlanFor(BlockDevice& device, FaultedTransfer kind) {
  return kind == FaultedTransfer::kRead ? device.faults.read : device.faults.write;
}

void Disarm(FaultPlan& plan) {
  plan.countdown.store(-1);
  plan.sticky.store(false);
}

}  // namespace

void ArmDeviceFault(BlockDevice& device, FaultedTransfer kind, int32_t succeedFirst,
                    int32_t error, bool sticky) {
  FaultPlan& plan = PlanFor(device, kind);
  Disarm(plan);
  plan.error.store(error != 0 ? error : -1);  // a fault always fails
  plan.sticky.store(sticky);
  plan.countdown.store(succeedFirst < 0 ? 0 : succeedFirst);
}

void DisarmDeviceFaults(BlockDevice& device) {
  std::lock_guard guard(device.lock);
  Disarm(device.faults.read);
  Disarm(device.faults.write);
  device.faults.crash.passLeft.store(-1);
  device.faults.crash.unsynced.clear();
}

void ArmDeviceCrash(BlockDevice& device, int64_t passWrites, uint32_t tornBytes) {
  std::lock_guard guard(device.lock);
  device.faults.crash.unsynced.clear();
  device.faults.crash.struck = false;
  device.faults.crash.tornBytes.store(tornBytes);
  device.faults.crash.passLeft.store(passWrites < 0 ? 0 : passWrites);
}

void CutPower(BlockDevice& device) {
  std::lock_guard guard(device.lock);
  UndoUnsynced(device, false);
  device.faults.crash.passLeft.store(0);
}

void KeepOverwritten(BlockDevice& device, uint32_t byteCount, uint64_t byteOffset) {
  CrashPlan& plan = device.faults.crash;
  if (plan.passLeft.load() < 0 || plan.struck) return;
  Overwritten before{byteOffset, std::vector<uint8_t>(byteCount)};
  if (HostDiskRead(device.handle, before.bytes.data(), byteCount, byteOffset) != 0) {
    before.bytes.clear();  // beyond the end of an image: nothing to restore
  }
  plan.unsynced.push_back(std::move(before));
}

void ForgetOverwritten(BlockDevice& device) { device.faults.crash.unsynced.clear(); }

void UndoUnsynced(BlockDevice& device, bool keepLast) {
  CrashPlan& plan = device.faults.crash;
  if (plan.passLeft.load() < 0 || plan.struck) return;
  plan.struck = true;
  if (keepLast && !plan.unsynced.empty()) plan.unsynced.pop_back();
  for (auto it = plan.unsynced.rbegin(); it != plan.unsynced.rend(); ++it) {
    if (it->bytes.empty()) continue;
    HostDiskWrite(device.handle, it->bytes.data(), static_cast<uint32_t>(it->bytes.size()),
                  it->offset, false);
  }
  plan.unsynced.clear();
}

uint64_t DeviceWriteCount(const BlockDevice& device) { return device.faults.writes.load(); }

uint32_t TakeCrash(DeviceFaults& faults, uint32_t byteCount) {
  faults.writes.fetch_add(1);
  CrashPlan& plan = faults.crash;
  int64_t left = plan.passLeft.load();
  while (left > 0 && !plan.passLeft.compare_exchange_weak(left, left - 1)) {
  }
  if (left != 0) return byteCount;
  // The write at the crash is torn once; every later one is lost.
  const uint32_t torn = plan.tornBytes.exchange(0);
  return torn < byteCount ? torn : byteCount;
}

int32_t TakeFault(FaultPlan& plan) {
  int32_t left = plan.countdown.load();
  while (left >= 0) {
    const int32_t next = left > 0 ? left - 1 : (plan.sticky.load() ? 0 : -1);
    if (plan.countdown.compare_exchange_weak(left, next)) {
      return left == 0 ? plan.error.load() : 0;
    }
  }
  return 0;
}

}  // namespace vrax
