// Attribute values of a record chain (a base record and its extension
// records), found the way the engine finds them: by type, the first
// instance in chain order deciding the form and carrying the sizes, the
// runs of every non-resident instance of the type together holding the
// value's clusters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry.h"
#include "image_reader.h"
#include "record_parse.h"

namespace vrax::fsck {

// One record of a chain: its number, its image (fix-ups applied) and what
// was decoded from it.
struct ChainRecord {
  uint32_t number = 0;
  std::vector<uint8_t> image;
  ParsedRecord parsed;
};
using Chain = std::vector<ChainRecord>;

struct AttributeValue {
  bool present = false;
  bool nonResident = false;
  uint32_t length = 0;            // resident value length, or the initialized size
  std::vector<uint8_t> resident;  // the resident value's bytes
  std::vector<Run> runs;          // non-resident: every instance's runs, by VCN
};

// The value of the first attribute of `type` in chain order.
AttributeValue FindValue(const Chain& chain, uint32_t type);

// How the non-resident instances of a value fit together, as whole lines
// naming the base record. Runs holding more clusters than the allocated
// size says are slack (a leak): a crash between writing a value's runs and
// its sizes leaves them, and nothing reads them. Fewer is a problem.
struct ValueLayout {
  std::vector<std::string> problems;
  std::vector<std::string> leaks;
  bool slack = false;
};

// Judges the instances of `type`: the first at VCN 0, each next one where
// the previous one's runs end, the sizes of the first instance agreeing
// with the clusters held.
ValueLayout CheckValueLayout(const Chain& chain, uint32_t type, uint32_t clusterSize,
                             uint32_t base);

// Reads `n` bytes of the value at `offset`. False when the range leaves the
// value, a cluster of it is not mapped, or the image cannot be read there.
bool ReadValue(const ImageReader& image, const Geometry& geometry, const AttributeValue& value,
               uint64_t offset, uint8_t* out, size_t n);

}  // namespace vrax::fsck
