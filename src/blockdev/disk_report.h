// The geometry lines a device prints when it is opened, one function per
// line so the formatting can be checked on sizes no test machine has.
#pragma once

#include <cstdint>
#include <string>

namespace vrax {

std::string BytesPerSectorLine(uint32_t sectorSize);
std::string TotalSectorsLine(uint64_t totalSectors);
std::string TotalBytesLine(uint64_t totalBytes);  // with whole gibibytes, rounded down

// Prints the three lines, in that order, on standard error. The sector count
// is totalBytes / sectorSize (0 for a sector size of 0).
void PrintGeometry(uint32_t sectorSize, uint64_t totalBytes);

}  // namespace vrax
