#include "volume_bitmaps.h"

#include "volume/format/record.h"

namespace vrax::mkfs {

void SetBitRange(std::vector<uint8_t>& bits, uint64_t first, uint64_t count) {
  for (uint64_t k = first; k < first + count; ++k) {
    bits[k / 8] = static_cast<uint8_t>(bits[k / 8] | (1u << (k % 8)));
  }
}

std::vector<uint8_t> BuildRecordBitmap(uint32_t records) {
  std::vector<uint8_t> bits(records / 8, 0);
  SetBitRange(bits, 0, record::kSystemRecords);
  return bits;
}

std::vector<uint8_t> BuildClusterBitmap(const VolumeLayout& l) {
  std::vector<uint8_t> bits(l.bitmapBytes, 0);
  SetBitRange(bits, kBootLcn, 1);
  SetBitRange(bits, l.mftLcn, l.mftClusters);
  SetBitRange(bits, l.bitmapLcn, l.bitmapClusters);
  const uint64_t valueBits = static_cast<uint64_t>(l.bitmapBytes) * 8;
  SetBitRange(bits, l.clusterCount, valueBits - l.clusterCount);
  return bits;
}

}  // namespace vrax::mkfs
