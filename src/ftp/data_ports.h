// The choice of data ports from the configured range.
#pragma once

#include <cstdint>

namespace vrax::ftp {

// first + truncate((random / 32767.0) * (count - 1)): every value of `random`
// from 0 to 32767 gives a port from first to first + count - 1.
uint16_t PickDataPort(uint16_t first, int32_t count, int random);

// A port drawn from the process-wide generator.
uint16_t DrawDataPort(uint16_t first, int32_t count);

}  // namespace vrax::ftp
