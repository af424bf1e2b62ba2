#include "blockdev/disk_report.h"

#include <cstdio>

namespace vrax {

namespace {

uint32_t High(uint64_t v) { return static_cast<uint32_t>(v >> 32); }
uint32_t Low(uint64_t v) { return static_cast<uint32_t>(v); }

}  // namespace

std::string BytesPerSectorLine(uint32_t sectorSize) {
  char line[64];
  std::snprintf(line, sizeof line, "   Bytes Per Sector: %d\n", static_cast<int>(sectorSize));
  return line;
}

std::string TotalSectorsLine(uint64_t totalSectors) {
  char line[64];
  std::snprintf(line, sizeof line, "      Total Sectors: %08X:%08X\n", High(totalSectors),
                Low(totalSectors));
  return line;
}

// The gibibyte count is printed as an unsigned 64-bit number: the same digits
// as a plain int for every real disk, and no wrap for absurd sizes.
std::string TotalBytesLine(uint64_t totalBytes) {
  char line[80];
  std::snprintf(line, sizeof line, "        Total Bytes: %08X:%08X [%llu GB]\n", High(totalBytes),
                Low(totalBytes), static_cast<unsigned long long>(totalBytes >> 30));
  return line;
}

void PrintGeometry(uint32_t sectorSize, uint64_t totalBytes) {
  const uint64_t totalSectors = sectorSize != 0 ? totalBytes / sectorSize : 0;
  std::fputs(BytesPerSectorLine(sectorSize).c_str(), stderr);
  std::fputs(TotalSectorsLine(totalSectors).c_str(), stderr);
  std::fputs(TotalBytesLine(totalBytes).c_str(), stderr);
}

}  // namespace vrax
