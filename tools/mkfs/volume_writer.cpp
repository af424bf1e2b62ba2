#include "volume_writer.h"

#include <algorithm>

#include "exit_codes.h"
#include "system_records.h"
#include "volume/format/boot_sector.h"
#include "volume/format/fixup.h"
#include "volume/format/record.h"
#include "volume_bitmaps.h"

namespace vrax::mkfs {

namespace {

uint64_t ByteOffset(const VolumeLayout& l, uint32_t lcn) {
  return static_cast<uint64_t>(lcn) * l.clusterSize;
}

std::vector<uint8_t> Clusters(const VolumeLayout& l, uint32_t count) {
  return std::vector<uint8_t>(static_cast<size_t>(count) * l.clusterSize, 0);
}

// Every record image goes to disk with its update sequence array applied.
void PutRecord(std::vector<uint8_t>& area, const VolumeLayout& l, uint32_t n,
               std::vector<uint8_t> image) {
  FixupBeforeWrite(image.data(), l.recordSize);
  std::copy(image.begin(), image.end(), area.begin() + static_cast<size_t>(n) * l.recordSize);
}

}  // namespace

std::vector<uint8_t> BuildBootArea(const VolumeLayout& l) {
  BootSector boot;
  boot.bytesPerSector = l.bytesPerSector;
  boot.sectorsPerCluster = l.sectorsPerCluster;
  boot.totalSectors = l.totalSectors;
  boot.mftLcn = l.mftLcn;
  boot.mftMirrorLcn = l.mftLcn;                // no mirror is kept (geometry.h)
  boot.recordSizeCode = l.recordSize;          // 1 KiB or more: a byte count
  boot.indexBlockSizeCode = l.indexBlockSize;  // 4 KiB or more: a byte count
  std::vector<uint8_t> area = Clusters(l, 1);
  EncodeBootSector(boot, area.data());
  return area;
}

std::vector<uint8_t> BuildMftArea(const VolumeLayout& l, const Stamp& when) {
  std::vector<uint8_t> area = Clusters(l, l.mftClusters);
  std::vector<std::vector<uint8_t>> system = BuildSystemRecords(l, when);
  for (uint32_t n = 0; n < l.mftRecords; ++n) {
    if (n < system.size()) {
      PutRecord(area, l, n, std::move(system[n]));
      continue;
    }
    std::vector<uint8_t> empty(l.recordSize);
    BuildEmptyRecord(empty.data(), l.recordSize, l.bytesPerSector);
    PutRecord(area, l, n, std::move(empty));
  }
  return area;
}

std::vector<uint8_t> BuildBitmapArea(const VolumeLayout& l) {
  std::vector<uint8_t> area = Clusters(l, l.bitmapClusters);
  const std::vector<uint8_t> bits = BuildClusterBitmap(l);
  std::copy(bits.begin(), bits.end(), area.begin());
  return area;
}

int WriteVolume(Target& t, const VolumeLayout& l, const Stamp& when, std::string& error) {
  int code = WriteTarget(t, Clusters(l, 1), ByteOffset(l, kBootLcn), error);
  if (code == kExitOk) code = WriteTarget(t, BuildMftArea(l, when), ByteOffset(l, l.mftLcn), error);
  if (code == kExitOk) code = WriteTarget(t, BuildBitmapArea(l), ByteOffset(l, l.bitmapLcn), error);
  if (code == kExitOk) code = SyncTarget(t, error);
  if (code == kExitOk) code = WriteTarget(t, BuildBootArea(l), ByteOffset(l, kBootLcn), error);
  if (code == kExitOk) code = SyncTarget(t, error);
  return code;
}

}  // namespace vrax::mkfs
