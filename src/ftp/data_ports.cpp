#include "ftp/data_ports.h"

#include "platform/host_time.h"

namespace vrax::ftp {

uint16_t PickDataPort(uint16_t first, int32_t count, int random) {
  const double share = static_cast<double>(random) / static_cast<double>(kRandomMax);
  return static_cast<uint16_t>(first + static_cast<int32_t>(share * (count - 1)));
}

uint16_t DrawDataPort(uint16_t first, int32_t count) {
  return PickDataPort(first, count, NextRandom());
}

}  // namespace vrax::ftp
