// The volume's geometry, read from the boot sector and judged.
#pragma once

#include <cstdint>

#include "image_reader.h"
#include "report.h"

namespace vrax::fsck {

struct Geometry {
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t clusterSize = 0;
  uint32_t totalSectors = 0;
  uint32_t clusterCount = 0;  // whole clusters: total sectors / sectors per cluster
  uint32_t mftLcn = 0;
  uint32_t recordSize = 0;
  uint32_t indexBlockSize = 0;
  // False when the index block size does not allow block VCNs to be
  // computed (not a whole number of clusters): index blocks are not read.
  bool indexBlocksUsable = false;

  uint64_t ClusterOffset(uint32_t lcn) const { return static_cast<uint64_t>(lcn) * clusterSize; }
  // Clusters per index block (meaningful when indexBlocksUsable).
  uint32_t BlockClusters() const { return indexBlockSize / clusterSize; }
};

// Reads sector 0 and computes the geometry. Returns false, after reporting
// why, when the volume cannot be read at all: no boot sector, a wrong
// identifier, an impossible sector, cluster or record size, or an MFT
// outside the volume. Problems that still leave the volume readable (a
// volume longer than the image, an unusable index block size) are reported
// and the result is true.
bool ReadGeometry(const ImageReader& image, Report& report, Geometry& geometry);

}  // namespace vrax::fsck
