#include "summary.h"

#include <sstream>

namespace vrax::mkfs {

namespace {

std::string Clusters(uint32_t count) {
  return std::to_string(count) + (count == 1 ? " cluster" : " clusters");
}

}  // namespace

std::string Summary(const std::string& target, const VolumeLayout& l) {
  std::ostringstream out;
  out << "formatted " << target << "\n"
      << "  volume size       " << l.VolumeBytes() << " bytes, " << l.totalSectors << " sectors of "
      << l.bytesPerSector << " bytes\n"
      << "  cluster size      " << l.clusterSize << " bytes (" << l.sectorsPerCluster
      << " sectors)\n"
      << "  record size       " << l.recordSize << " bytes\n"
      << "  index block size  " << l.indexBlockSize << " bytes\n"
      << "  clusters          " << l.clusterCount << ", " << l.FreeClusters() << " free\n"
      << "  MFT               LCN " << l.mftLcn << ", " << l.mftRecords << " records in "
      << Clusters(l.mftClusters) << "\n"
      << "  cluster bitmap    LCN " << l.bitmapLcn << ", " << l.bitmapBytes << " bytes in "
      << Clusters(l.bitmapClusters) << "\n";
  return out.str();
}

}  // namespace vrax::mkfs
