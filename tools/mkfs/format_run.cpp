#include "format_run.h"

#include <ctime>

#include "exit_codes.h"
#include "node_records.h"
#include "target.h"
#include "volume_writer.h"

namespace vrax::mkfs {

namespace {

// The bytes the volume may use: --size, else the whole existing target.
int VolumeBytes(const MkfsOptions& o, const Target& t, uint64_t& bytes, std::string& error) {
  if (t.kind == TargetKind::kMissing && !o.size) {
    error = o.target + " does not exist: give --size to create an image file";
    return kExitUsage;
  }
  if (t.kind == TargetKind::kBlockDevice && o.size && *o.size > t.capacity) {
    error = "--size " + std::to_string(*o.size) + " exceeds the device " + o.target + " (" +
            std::to_string(t.capacity) + " bytes)";
    return kExitGeometry;
  }
  bytes = o.size ? *o.size : t.capacity;
  return kExitOk;
}

int Plan(const MkfsOptions& o, const Target& t, VolumeLayout& layout, uint64_t& bytes,
         std::string& error) {
  const int code = VolumeBytes(o, t, bytes, error);
  if (code != kExitOk) return code;
  GeometryRequest request;
  request.volumeBytes = bytes;
  request.sectorSize = o.sectorSize.value_or(0);
  request.clusterSize = o.clusterSize.value_or(0);
  request.recordSize = o.recordSize.value_or(0);
  request.indexBlockSize = o.indexSize.value_or(0);
  if (!ComputeLayout(request, layout, error)) {
    error = o.target + ": " + error;
    return kExitGeometry;
  }
  return kExitOk;
}

// An existing volume is only replaced when asked to.
int Claim(const MkfsOptions& o, Target& t, std::string& error) {
  if (t.kind == TargetKind::kMissing) return CreateImage(t, error);
  bool holds = false;
  const int code = HoldsVolume(t, holds, error);
  if (code != kExitOk || !holds || o.force) return code;
  error = o.target + " already holds a volume: give --force to overwrite it";
  return kExitRefused;
}

int Format(const MkfsOptions& o, Target& t, VolumeLayout& layout, std::string& error) {
  uint64_t bytes = 0;
  int code = Plan(o, t, layout, bytes, error);
  if (code == kExitOk) code = Claim(o, t, error);
  if (code == kExitOk) code = PrepareTarget(t, bytes, error);
  if (code == kExitOk) code = WriteVolume(t, layout, LocalStamp(std::time(nullptr)), error);
  return code;
}

}  // namespace

int FormatTarget(const MkfsOptions& options, VolumeLayout& layout, std::string& error) {
  Target target;
  int code = OpenTarget(options.target, target, error);
  if (code == kExitOk) code = Format(options, target, layout, error);
  CloseTarget(target, code != kExitOk);
  return code;
}

}  // namespace vrax::mkfs
