// Geometry checks and the layout of a fresh volume.
//
// Cluster map of a fresh volume (C = cluster size):
//
//   LCN 0                     boot cluster: the boot sector, then zeros
//                             (owned by record 7)
//   LCN 1 .. 1+m-1            the MFT: 64 records, m = 64 x record size / C
//                             clusters (record 0's AT_DATA)
//   LCN 1+m .. 1+m+b-1        the cluster bitmap: b = bitmap bytes / C,
//                             rounded up (record 6's AT_DATA)
//   the rest                  free
//
// The MFT sits at a fixed low LCN right behind the boot cluster. No mirror
// of the MFT is kept: nothing would ever bring a copy up to date, so the
// boot sector's mirror field names the MFT itself.
#pragma once

#include <cstdint>
#include <string>

namespace vrax::mkfs {

constexpr uint32_t kDefaultSectorSize = 512;
constexpr uint32_t kDefaultClusterSize = 4096;
constexpr uint32_t kDefaultRecordSize = 1024;
constexpr uint32_t kMinIndexBlockSize = 4096;
constexpr uint32_t kMaxUnitSize = 64 * 1024;     // cluster, record and index block
constexpr uint32_t kMaxSectorsPerCluster = 128;  // one byte in the boot sector
constexpr uint32_t kMinRecordSize = 1024;
constexpr uint32_t kInitialRecords = 64;  // a multiple of 8: whole bitmap bytes
constexpr uint32_t kMinFreeClusters = 64;
constexpr uint32_t kBootLcn = 0;
constexpr uint32_t kMftLcn = 1;

// What the caller asks for; a size of 0 takes its default. The defaults
// depend on one another: records are 1024 bytes, or 4096 with 4096-byte
// sectors; index blocks are 4096 bytes, or one cluster when clusters are
// larger (an index block must hold whole clusters).
struct GeometryRequest {
  uint64_t volumeBytes = 0;
  uint64_t sectorSize = 0;
  uint64_t clusterSize = 0;
  uint64_t recordSize = 0;
  uint64_t indexBlockSize = 0;
};

// Where everything of a fresh volume lies. Every value fits the 32-bit
// fields of the boot sector and the engine's 32-bit arithmetic.
struct VolumeLayout {
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t clusterSize = 0;
  uint32_t recordSize = 0;
  uint32_t indexBlockSize = 0;
  uint32_t totalSectors = 0;  // whole sectors of the volume
  uint32_t clusterCount = 0;  // total sectors / sectors per cluster
  uint32_t mftLcn = 0;
  uint32_t mftClusters = 0;
  uint32_t mftRecords = 0;  // records the MFT holds
  uint32_t bitmapLcn = 0;
  uint32_t bitmapClusters = 0;
  uint32_t bitmapBytes = 0;   // value length: whole 8-byte groups
  uint32_t usedClusters = 0;  // clusters 0 .. usedClusters - 1 are taken

  uint32_t FreeClusters() const { return clusterCount - usedClusters; }
  uint64_t VolumeBytes() const { return static_cast<uint64_t>(totalSectors) * bytesPerSector; }
};

// Checks the request and computes the layout. False, with `error` telling
// which rule was broken, when the geometry is impossible: sector size not
// 512 or 4096; cluster size not a power of two, not a multiple of the sector
// size, above 128 sectors or 64 KiB; record size not a power of two from 1 KiB
// to 64 KiB; index block size not a power of two from 4 KiB to 64 KiB or not a
// multiple of the cluster size; more than 2^32 - 1 sectors; or a volume that
// would have fewer than 64 free clusters once formatted.
bool ComputeLayout(const GeometryRequest& request, VolumeLayout& layout, std::string& error);

}  // namespace vrax::mkfs
