#include "blockdev/device_faults.h"

#include "blockdev/block_device.h"

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
  Disarm(device.faults.read);
  Disarm(device.faults.write);
  device.faults.crash.passLeft.store(-1);
}

void ArmDeviceCrash(BlockDevice& device, int64_t passWrites, uint32_t tornBytes) {
  device.faults.crash.tornBytes.store(tornBytes);
  device.faults.crash.passLeft.store(passWrites < 0 ? 0 : passWrites);
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
