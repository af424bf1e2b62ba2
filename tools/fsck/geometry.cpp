#include "geometry.h"

#include <cstring>
#include <vector>

#include "platform/error_codes.h"
#include "volume/format/boot_sector.h"
#include "volume/format/record.h"

namespace vrax::fsck {

namespace {

constexpr uint32_t kBootReadSize = 512;
// Records and index blocks larger than this are not plausible and would
// only serve to exhaust memory.
constexpr uint32_t kMaxUnitSize = 16u << 20;
// The smallest record that holds a header and an end marker.
constexpr uint32_t kMinRecordSize = record::kHeaderSize + record::kEndMarkerSize;

bool DecodeBoot(const ImageReader& image, Report& report, BootSector& boot) {
  std::vector<uint8_t> sector(kBootReadSize);
  if (!image.Read(0, sector.data(), sector.size())) {
    report.Problem(Format("boot sector: cannot be read (the image holds %llu bytes)",
                          static_cast<unsigned long long>(image.size())));
    return false;
  }
  const int32_t result = DecodeBootSector(sector.data(), kBootReadSize, boot);
  if (result == kErrBadStructure) {
    report.Problem(Format("boot sector: identifier is not \"%s\"", kVolumeIdentifier));
    return false;
  }
  if (result != kOk) {
    report.Problem(
        Format("boot sector: bytes per sector %u is not a power of two", boot.bytesPerSector));
    return false;
  }
  return true;
}

bool ComputeUnits(const BootSector& boot, Report& report, Geometry& g) {
  g.bytesPerSector = boot.bytesPerSector;
  g.sectorsPerCluster = boot.sectorsPerCluster;
  g.totalSectors = boot.totalSectors;
  g.mftLcn = boot.mftLcn;
  if (g.sectorsPerCluster == 0) {
    report.Problem("boot sector: sectors per cluster is 0");
    return false;
  }
  g.clusterSize = g.bytesPerSector * g.sectorsPerCluster;  // at most 32768 x 255
  g.clusterCount = g.totalSectors / g.sectorsPerCluster;
  if (g.clusterCount == 0) {
    report.Problem(Format("boot sector: %u total sectors hold no whole cluster", g.totalSectors));
    return false;
  }
  g.recordSize = SizeFromCode(boot.recordSizeCode, g.clusterSize);
  if (g.recordSize < kMinRecordSize || g.recordSize > kMaxUnitSize) {
    report.Problem(
        Format("boot sector: record size code %u gives an unusable record size (%u bytes)",
               boot.recordSizeCode, g.recordSize));
    return false;
  }
  if (g.mftLcn >= g.clusterCount) {
    report.Problem(Format("boot sector: MFT LCN %u lies outside the volume (%u clusters)", g.mftLcn,
                          g.clusterCount));
    return false;
  }
  g.indexBlockSize = SizeFromCode(boot.indexBlockSizeCode, g.clusterSize);
  return true;
}

// Index block VCNs count clusters, so a block must be a whole number of them.
void JudgeIndexBlockSize(const BootSector& boot, Report& report, Geometry& g) {
  const uint32_t b = g.indexBlockSize;
  g.indexBlocksUsable = b >= g.clusterSize && b % g.clusterSize == 0 && b <= kMaxUnitSize;
  if (!g.indexBlocksUsable) {
    report.Problem(Format(
        "boot sector: index block size code %u gives %u bytes, not a whole number of %u-byte "
        "clusters; index blocks are not checked",
        boot.indexBlockSizeCode, b, g.clusterSize));
  }
}

void JudgeImageSize(const ImageReader& image, Report& report, const Geometry& g) {
  const uint64_t volumeBytes = static_cast<uint64_t>(g.totalSectors) * g.bytesPerSector;
  if (volumeBytes > image.size()) {
    report.Problem(
        Format("boot sector: %u sectors (%llu bytes) reach beyond the image (%llu bytes)",
               g.totalSectors, static_cast<unsigned long long>(volumeBytes),
               static_cast<unsigned long long>(image.size())));
  }
}

}  // namespace

bool ReadGeometry(const ImageReader& image, Report& report, Geometry& geometry) {
  BootSector boot;
  if (!DecodeBoot(image, report, boot)) return false;
  if (!ComputeUnits(boot, report, geometry)) return false;
  JudgeImageSize(image, report, geometry);
  JudgeIndexBlockSize(boot, report, geometry);
  return true;
}

}  // namespace vrax::fsck
