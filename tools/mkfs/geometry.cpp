#include "geometry.h"

namespace vrax::mkfs {

namespace {

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

GeometryRequest WithDefaults(GeometryRequest r) {
  if (r.sectorSize == 0) r.sectorSize = kDefaultSectorSize;
  if (r.clusterSize == 0) r.clusterSize = kDefaultClusterSize;
  if (r.recordSize == 0) {
    r.recordSize = r.sectorSize == 4096 ? 4096 : kDefaultRecordSize;
  }
  if (r.indexBlockSize == 0) {
    r.indexBlockSize = r.clusterSize > kMinIndexBlockSize ? r.clusterSize : kMinIndexBlockSize;
  }
  return r;
}

std::string Bytes(uint64_t v) { return std::to_string(v) + " bytes"; }

bool CheckSector(uint64_t s, std::string& error) {
  if (s == 512 || s == 4096) return true;
  error = "sector size " + Bytes(s) + " is not possible: use 512 or 4096";
  return false;
}

bool CheckCluster(uint64_t c, uint64_t s, std::string& error) {
  const std::string what = "cluster size " + Bytes(c);
  if (!IsPowerOfTwo(c)) {
    error = what + " is not a power of two";
  } else if (c % s != 0) {
    error = what + " is not a multiple of the sector size (" + Bytes(s) + ")";
  } else if (c / s > kMaxSectorsPerCluster) {
    error = what + " exceeds 128 sectors of " + Bytes(s);
  } else if (c > kMaxUnitSize) {
    error = what + " exceeds 64K";
  } else {
    return true;
  }
  return false;
}

bool CheckRecord(uint64_t r, std::string& error) {
  if (IsPowerOfTwo(r) && r >= kMinRecordSize && r <= kMaxUnitSize) return true;
  error = "record size " + Bytes(r) + " is not possible: use a power of two from 1K to 64K";
  return false;
}

bool CheckIndex(uint64_t i, uint64_t c, uint64_t s, std::string& error) {
  const std::string what = "index block size " + Bytes(i);
  if (!IsPowerOfTwo(i) || i < kMinIndexBlockSize || i > kMaxUnitSize) {
    error = what + " is not possible: use a power of two from 4K to 64K";
  } else if (i % c != 0 || i % s != 0) {
    error = what + " is not a multiple of the cluster size (" + Bytes(c) + ")";
  } else {
    return true;
  }
  return false;
}

bool CheckUnits(const GeometryRequest& r, std::string& error) {
  return CheckSector(r.sectorSize, error) && CheckCluster(r.clusterSize, r.sectorSize, error) &&
         CheckRecord(r.recordSize, error) &&
         CheckIndex(r.indexBlockSize, r.clusterSize, r.sectorSize, error);
}

// Places the MFT behind the boot cluster and the cluster bitmap behind the
// MFT; the units are already checked, so every product fits 32 bits.
void PlaceAreas(VolumeLayout& l) {
  l.mftLcn = kMftLcn;
  l.mftRecords = kInitialRecords;
  l.mftClusters = l.mftRecords * l.recordSize / l.clusterSize;
  const uint64_t bitmapBytes = CeilDiv(CeilDiv(l.clusterCount, 8), 8) * 8;
  l.bitmapBytes = static_cast<uint32_t>(bitmapBytes);
  l.bitmapLcn = l.mftLcn + l.mftClusters;
  l.bitmapClusters = static_cast<uint32_t>(CeilDiv(bitmapBytes, l.clusterSize));
  l.usedClusters = l.bitmapLcn + l.bitmapClusters;
}

bool CheckRoom(const VolumeLayout& l, std::string& error) {
  const uint64_t needed = static_cast<uint64_t>(l.usedClusters) + kMinFreeClusters;
  if (l.clusterCount >= needed) return true;
  error = "volume too small: " + std::to_string(l.clusterCount) + " clusters of " +
          Bytes(l.clusterSize) + ", at least " + std::to_string(needed) + " needed (" +
          Bytes(needed * l.clusterSize) + ")";
  return false;
}

}  // namespace

bool ComputeLayout(const GeometryRequest& request, VolumeLayout& layout, std::string& error) {
  const GeometryRequest r = WithDefaults(request);
  if (!CheckUnits(r, error)) return false;
  const uint64_t sectors = r.volumeBytes / r.sectorSize;
  if (sectors > 0xFFFFFFFFull) {
    error = "volume of " + Bytes(r.volumeBytes) + " has more than 4294967295 sectors of " +
            Bytes(r.sectorSize) + ": give a smaller --size or 4096-byte sectors";
    return false;
  }
  VolumeLayout l;
  l.bytesPerSector = static_cast<uint32_t>(r.sectorSize);
  l.clusterSize = static_cast<uint32_t>(r.clusterSize);
  l.sectorsPerCluster = l.clusterSize / l.bytesPerSector;
  l.recordSize = static_cast<uint32_t>(r.recordSize);
  l.indexBlockSize = static_cast<uint32_t>(r.indexBlockSize);
  l.totalSectors = static_cast<uint32_t>(sectors);
  l.clusterCount = l.totalSectors / l.sectorsPerCluster;
  PlaceAreas(l);
  if (!CheckRoom(l, error)) return false;
  layout = l;
  return true;
}

}  // namespace vrax::mkfs
