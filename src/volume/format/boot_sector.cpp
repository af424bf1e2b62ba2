#include "volume/format/boot_sector.h"

#include <cstring>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/format/bytes.h"

namespace vrax {

int32_t DecodeBootSector(const uint8_t* data, uint32_t size, BootSector& boot) {
  if (size < kBootSectorMinSize) return Corruption();
  if (std::memcmp(data + 0x03, kVolumeIdentifier, 8) != 0) return Corruption();
  boot.bytesPerSector = GetLE16(data + 0x0B);
  boot.sectorsPerCluster = data[0x0D];
  boot.totalSectors = GetLE32(data + 0x28);
  boot.mftLcn = GetLE32(data + 0x30);
  boot.mftMirrorLcn = GetLE32(data + 0x38);
  boot.recordSizeCode = GetLE32(data + 0x40);
  boot.indexBlockSizeCode = GetLE32(data + 0x44);
  const uint32_t bps = boot.bytesPerSector;
  if (bps == 0 || (bps & (bps - 1)) != 0) return kErrBadArguments;
  return kOk;
}

void EncodeBootSector(const BootSector& boot, uint8_t* data) {
  data[0] = 0xEB;  // a jump over the parameter block, as boot sectors start
  data[1] = 0x52;
  data[2] = 0x90;
  std::memcpy(data + 0x03, kVolumeIdentifier, 8);
  PutLE16(data + 0x0B, static_cast<uint16_t>(boot.bytesPerSector));
  data[0x0D] = static_cast<uint8_t>(boot.sectorsPerCluster);
  PutLE64(data + 0x28, boot.totalSectors);
  PutLE64(data + 0x30, boot.mftLcn);
  PutLE64(data + 0x38, boot.mftMirrorLcn);
  PutLE32(data + 0x40, boot.recordSizeCode);
  PutLE32(data + 0x44, boot.indexBlockSizeCode);
}

uint32_t SizeFromCode(uint32_t code, uint32_t clusterSize) {
  if (code >= 256) return code;
  const uint64_t bytes = static_cast<uint64_t>(code) * clusterSize;
  return bytes > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(bytes);
}

}  // namespace vrax
