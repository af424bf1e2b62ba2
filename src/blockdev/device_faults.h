// Test hook: make a chosen read or write of a device fail without touching
// the disk, so the layers above can be tested against a full or failing disk.
//
//   ArmDeviceFault(device, FaultedTransfer::kWrite, 2, 39);
//     -> the next two writes go to the disk, the third prints
//        "Write error 39\n" and returns 39; later writes work again.
//   ArmDeviceFault(device, FaultedTransfer::kRead, 0, 1117, /*sticky=*/true);
//     -> every read from now on fails with 1117 until DisarmDeviceFaults.
//
//   ArmDeviceCrash(device, 7);
//     -> power-loss emulation: the next seven writes reach the disk, every
//        later one is dropped silently (it reports success), as if the
//        machine had stopped after the seventh. With tornBytes > 0 the
//        eighth write reaches the disk only in its first tornBytes bytes.
//        Relaxed writes made since the last barrier are not on stable
//        storage yet: when the crash comes, all of them but the last are
//        undone, the worst a disk that reorders its writes may leave.
//   CutPower(device);
//     -> the crash comes now, after the last write: every relaxed write
//        since the last barrier is undone, later writes are dropped.
//
// Only transfers that would reach the disk count: a write refused because
// the device is read-only is neither counted nor faulted. A faulted read
// leaves the caller's buffer untouched. The counters are atomic, so a test
// may arm a fault while other threads are transferring.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace vrax {

struct BlockDevice;

struct FaultPlan {
  std::atomic<int32_t> countdown{-1};  // transfers still to succeed; -1 disarmed
  std::atomic<int32_t> error{0};       // the result of the faulted transfer
  std::atomic<bool> sticky{false};     // keep failing once the fault fired
};

// What a relaxed write overwrote.
struct Overwritten {
  uint64_t offset = 0;
  std::vector<uint8_t> bytes;
};

struct CrashPlan {
  std::atomic<int64_t> passLeft{-1};  // writes still to reach the disk; -1 disarmed
  std::atomic<uint32_t> tornBytes{0};
  // While armed (under the device's lock): the relaxed writes since the
  // last barrier, oldest first, and whether the crash has come.
  std::vector<Overwritten> unsynced;
  bool struck = false;
};

struct DeviceFaults {
  FaultPlan read;
  FaultPlan write;
  CrashPlan crash;
  std::atomic<uint64_t> writes{0};  // writes that reached the device, dropped ones included
};

enum class FaultedTransfer { kRead, kWrite };

// Lets `succeedFirst` transfers of the kind through, then fails the next
// one (all following ones when sticky) with `error` (0 is taken as -1).
void ArmDeviceFault(BlockDevice& device, FaultedTransfer kind, int32_t succeedFirst,
                    int32_t error, bool sticky = false);
void DisarmDeviceFaults(BlockDevice& device);

void ArmDeviceCrash(BlockDevice& device, int64_t passWrites, uint32_t tornBytes = 0);
uint64_t DeviceWriteCount(const BlockDevice& device);

void CutPower(BlockDevice& device);

// Used by the device's writes: how many of `byteCount` bytes may reach the
// disk (all of them unless a crash was armed and has come).
uint32_t TakeCrash(DeviceFaults& faults, uint32_t byteCount);

// Used by the device under its lock while a crash is armed: a relaxed write
// about to go out keeps what it overwrites; a barrier forgets those; the
// crash undoes them (all, or all but the last), newest first.
void KeepOverwritten(BlockDevice& device, uint32_t byteCount, uint64_t byteOffset);
void ForgetOverwritten(BlockDevice& device);
void UndoUnsynced(BlockDevice& device, bool keepLast);

// Used by the device's transfers: counts one transfer of the plan and
// returns the error it must fail with, or 0 when it may proceed.
int32_t TakeFault(FaultPlan& plan);

}  // namespace vrax
