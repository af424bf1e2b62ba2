// Boot sector: sector 0 of the volume, the volume's geometry.
//
//   offset size field
//   0x03   8    identifier "NTFS    " (four letters, four spaces)
//   0x0B   2    bytes per sector (non-zero power of two)
//   0x0D   1    sectors per cluster
//   0x28   8    total sectors (low 32 bits used)
//   0x30   8    LCN of the MFT (low 32 bits used)
//   0x38   8    LCN of the MFT mirror (not used)
//   0x40   4    record size code: below 256 clusters per record, else bytes
//   0x44   4    index block size code: same rule
#pragma once

#include <cstdint>

namespace vrax {

constexpr uint32_t kBootSectorMinSize = 0x48;
constexpr char kVolumeIdentifier[9] = "NTFS    ";

struct BootSector {
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t totalSectors = 0;
  uint32_t mftLcn = 0;
  uint32_t mftMirrorLcn = 0;
  uint32_t recordSizeCode = 0;
  uint32_t indexBlockSizeCode = 0;
};

// Decodes `size` bytes of boot sector: 114 for a wrong identifier or a buffer
// too short to hold the fields, 160 for a bytes-per-sector value that is zero
// or not a power of two, else 0.
int32_t DecodeBootSector(const uint8_t* data, uint32_t size, BootSector& boot);

// Writes the fields (and the identifier) into a zeroed sector image.
void EncodeBootSector(const BootSector& boot, uint8_t* data);

// Size in bytes given by a record or index block size code: codes below 256
// count clusters, larger codes are byte counts. 0 when the product overflows.
uint32_t SizeFromCode(uint32_t code, uint32_t clusterSize);

}  // namespace vrax
