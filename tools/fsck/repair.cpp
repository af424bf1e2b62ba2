#include "repair.h"

#include "blockdev/block_device.h"
#include "exit_codes.h"
#include "blockdev/drive_table.h"
#include "fsck.h"
#include "platform/error_codes.h"
#include "platform/settings.h"
#include "repair_actions.h"

namespace vrax::fsck {

namespace {

// Rounds of repair and check: what one round repairs can show what the
// next must (a removed entry leaves a record to reconnect; the cluster
// bitmap is mended once the records are right).
constexpr int kRounds = 6;

// The volume mounted as drive "/1" for the repair's whole length, with the
// exclusive lock vrax takes: a volume in use is refused.
class Mount {
 public:
  Mount(const std::string& path, int32_t& error) : previous_(CurrentDrive()) {
    const int report = g_reportDevice;
    g_reportDevice = 0;
    device_ = CreateDevice("/1", true, error, path);
    g_reportDevice = report;
    if (device_ != nullptr) SetCurrentDrive(device_);
  }
  ~Mount() {
    if (device_ == nullptr) return;
    SetCurrentDrive(previous_);
    DeleteDevice(device_);
  }
  bool open() const { return device_ != nullptr; }

 private:
  BlockDevice* previous_;
  BlockDevice* device_ = nullptr;
};

// One round: records first; the cluster bitmap only when they needed
// nothing, since reconnecting or freeing records changes which clusters
// are in use.
uint32_t RepairRound(const Findings& findings, Report& report) {
  ToolkitOwner root;
  if (ToolkitOpen(root, "/1") != kOk) return 0;
  Repairer repairer(root.get(), report);
  if (findings.RecordsToRepair()) {
    repairer.Records(findings);
  } else {
    repairer.Clusters(findings);
  }
  return repairer.made();
}

}  // namespace

int RepairVolume(const std::string& path, bool verbose, std::FILE* out, std::FILE* err) {
  int32_t error = kOk;
  Mount mount(path, error);
  if (!mount.open()) {
    if (error == kErrSharingViolation) {
      if (err != nullptr) {
        std::fprintf(err, "vrax-fsck: %s is in use by another program; not repaired\n",
                     path.c_str());
      }
      return kExitInUse;
    }
    if (err != nullptr) std::fprintf(err, "vrax-fsck: cannot open %s for repair\n", path.c_str());
    return kExitUnreadable;
  }
  CheckPass pass = CheckOnce(path, verbose, out, err);
  if (!pass.readable) return kExitUnreadable;
  if (pass.problems + pass.leaks == 0) return kExitClean;
  Report report(out, verbose);
  for (int round = 0; round < kRounds; ++round) {
    if (RepairRound(pass.findings, report) == 0) break;
    pass = CheckOnce(path, false, nullptr, nullptr);
    if (!pass.readable) return kExitUnreadable;
    if (pass.problems + pass.leaks == 0) return kExitRepaired;
  }
  // What is left is shown once more, as a check shows it.
  if (out != nullptr) std::fprintf(out, "left after repair:\n");
  CheckOnce(path, false, out, err);
  return kExitProblemsLeft;
}

}  // namespace vrax::fsck
