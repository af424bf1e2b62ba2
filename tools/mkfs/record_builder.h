// Building FILE record images attribute by attribute.
//
// A RecordBuilder starts from the empty record the engine builds
// (BuildEmptyRecord) and appends attributes behind one another, keeping the
// header's bytes in use and attribute count exact and the end marker behind
// the last attribute. Attributes get the lengths the engine itself gives
// them, so a record built here is indistinguishable from one the engine
// wrote:
//
//   resident      0x18 + 2 x name length + value space, the value space being
//                 (n + 16) rounded down to 16 for AT_DATA, n rounded up to
//                 even otherwise; name at 0x18, value right behind the name
//   non-resident  (run list offset + encoded runs + 4) rounded down to even,
//                 run list offset 0x48 + 2 x name length, name at 0x48; at
//                 least one 0 byte follows the runs
//
// Names are 8-bit strings (such as "$I30"), stored widened to UTF-16LE.
// Attribute identifiers are 0. The builder serves the formatter and tests
// that assemble volumes by hand: extension records (SetBaseRecord), several
// instances of one value (NonResidentInstance with a first VCN above 0) and
// any run list (EncodeRunList) can be built with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume/format/attribute.h"
#include "volume/format/runlist.h"

namespace vrax::mkfs {

using vrax::ClusterRun;
using vrax::EncodeRunList;
using vrax::NonResidentAttributeLength;

// One non-resident attribute instance. The first instance of a value
// carries the sizes; `lastVcn` is the last VCN of the whole value.
struct NonResidentInstance {
  std::vector<ClusterRun> runs;
  uint32_t firstVcn = 0;
  uint32_t lastVcn = 0;
  uint32_t allocatedSize = 0;
  uint32_t dataSize = 0;  // also written as the initialized size
};

// The single instance of a value of `dataSize` bytes held in `runs`:
// allocated size = clusters held x cluster size, last VCN
// (dataSize - 1) / cluster size (0 for an empty value).
NonResidentInstance WholeValue(const std::vector<ClusterRun>& runs, uint32_t dataSize,
                               uint32_t clusterSize);

uint32_t ResidentAttributeLength(uint32_t type, uint32_t nameLength, uint32_t valueLength);

class RecordBuilder {
 public:
  RecordBuilder(uint32_t recordSize, uint32_t bytesPerSector, uint16_t usn = 1);

  void SetFlags(uint16_t flags);
  // Makes this an extension record of record `base`.
  void SetBaseRecord(uint32_t base);

  // Append one attribute; false (and nothing changed) when the record has no
  // room for it or the name is longer than 255 characters.
  bool AddResident(uint32_t type, const std::string& name, const std::vector<uint8_t>& value);
  bool AddNonResident(uint32_t type, const std::string& name, const NonResidentInstance& value);

  // The record as it is in memory (update sequence array not applied).
  const std::vector<uint8_t>& image() const { return image_; }
  // The record as it goes to disk: the before-writing fix-up applied.
  std::vector<uint8_t> DiskImage() const;

 private:
  // Room for an attribute of `length` bytes at the end marker's place, the
  // end marker moved behind it; null when it does not fit.
  uint8_t* Append(uint32_t type, uint32_t length);
  void WriteName(uint8_t* attribute, uint32_t offset, const std::string& name);

  std::vector<uint8_t> image_;
};

}  // namespace vrax::mkfs
