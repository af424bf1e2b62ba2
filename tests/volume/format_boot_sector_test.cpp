#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "platform/error_codes.h"
#include "volume/format/boot_sector.h"
#include "volume/format/bytes.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes EncodedSector() {
  BootSector boot;
  boot.bytesPerSector = 512;
  boot.sectorsPerCluster = 8;
  boot.totalSectors = 0x00200000;
  boot.mftLcn = 4;
  boot.recordSizeCode = 1024;
  boot.indexBlockSizeCode = 1;
  Bytes sector(512, 0);
  EncodeBootSector(boot, sector.data());
  return sector;
}

// Every mount decodes what the formatter encoded; here: the fields end at
// 0x48, the identifier must match byte for byte (the four letters, case
// included, and four spaces) and the bytes per sector must be a power of
// two.
TEST(BootSector, DamagedFieldsAreRefused) {
  BootSector boot;
  EXPECT_EQ(DecodeBootSector(EncodedSector().data(), 0x48, boot), kOk);
  EXPECT_EQ(DecodeBootSector(EncodedSector().data(), 0x47, boot), kErrBadStructure);
  const std::tuple<uint32_t, Bytes, int32_t> cases[] = {
      {10, {'X'}, kErrBadStructure},
      {3, {static_cast<uint8_t>(kVolumeIdentifier[0] | 0x20)}, kErrBadStructure},
      {0x0B, {0x00, 0x03}, kErrBadArguments},
      {0x0B, {0x00, 0x00}, kErrBadArguments},
      {0x0B, {0x01, 0x02}, kErrBadArguments},
      {0x0B, {0x00, 0x10}, kOk},
  };
  for (const auto& [at, bytes, error] : cases) {
    Bytes sector = EncodedSector();
    std::copy(bytes.begin(), bytes.end(), sector.begin() + at);
    EXPECT_EQ(DecodeBootSector(sector.data(), 512, boot), error) << "byte " << at;
  }
}

// Codes below 256 count clusters, from 256 on bytes; an overflowing
// product gives 0.
TEST(SizeFromCode, SmallCodesCountClustersLargerOnesBytes) {
  EXPECT_EQ(SizeFromCode(2, 4096), 8192u);
  EXPECT_EQ(SizeFromCode(255, 4096), 255u * 4096u);
  EXPECT_EQ(SizeFromCode(256, 4096), 256u);
  EXPECT_EQ(SizeFromCode(4096, 512), 4096u);
  EXPECT_EQ(SizeFromCode(255, 0x80000000u), 0u);
}

}  // namespace
}  // namespace vrax
