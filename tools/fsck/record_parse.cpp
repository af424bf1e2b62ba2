#include "record_parse.h"

#include "platform/error_codes.h"
#include "volume/format/attribute.h"
#include "volume/format/record.h"
#include "volume/format/runlist.h"

namespace vrax::fsck {

namespace {

std::string NameAt(const uint8_t* a, uint32_t offset, uint32_t units) {
  std::string name;
  for (uint32_t i = 0; i < units; ++i) name.push_back(static_cast<char>(a[offset + 2 * i]));
  return name;
}

// The non-resident header and its name lie inside the attribute.
bool NonResidentHeaderFits(const uint8_t* a) {
  const uint32_t length = AttrLength(a);
  if (a[attr::kNonResident] != 1 || length < attr::kNonResidentHeader) return false;
  if (AttrRunListOffset(a) < attr::kNonResidentHeader || AttrRunListOffset(a) >= length) {
    return false;
  }
  return AttrNameLength(a) == 0 || InBounds(AttrNameOffset(a), 2u * AttrNameLength(a), length);
}

// Offsets up to 8 bytes wide decode to any 64-bit value; only those within
// 32 bits of a position can land inside a volume of 32-bit clusters, and
// only those are added to a position (so the sum cannot overflow).
constexpr int64_t kMaxRunOffset = 0x100000000ll;

bool OffsetIsPlausible(const DecodedRun& run) {
  return run.offset >= -kMaxRunOffset && run.offset <= kMaxRunOffset;
}

std::string LeavesTheVolume(const ParsedAttribute& pa, const DecodedRun& run, uint32_t p,
                            const Geometry& g) {
  const std::string label = AttributeLabel(pa.type);
  if (!OffsetIsPlausible(run)) {
    return Format("%s run list leaves the volume (a run offset of %lld clusters)", label.c_str(),
                  static_cast<long long>(run.offset));
  }
  return Format(
      "%s run list leaves the volume (%u clusters at LCN %lld; the volume has %u clusters)",
      label.c_str(), run.length, static_cast<long long>(p + run.offset), g.clusterCount);
}

// Decodes the run list, keeping the runs that lie inside the volume and
// reporting the first that does not. A run whose position leaves 32 bits
// ends the decoding: the runs behind it are placed relative to it.
void DecodeRuns(const uint8_t* a, const Geometry& g, ParsedAttribute& pa,
                std::vector<std::string>& problems) {
  const uint32_t offset = AttrRunListOffset(a);
  const uint8_t* list = a + offset;
  const uint32_t size = AttrLength(a) - offset;
  uint32_t pos = 0, p = 0;
  uint64_t vcn = pa.firstVcn;
  DecodedRun run;
  for (;;) {
    const RunStatus status = DecodeRun(list, size, pos, run);
    if (status == RunStatus::kEnd) return;
    if (status == RunStatus::kMalformed) {
      problems.push_back(AttributeLabel(pa.type) + " run list is malformed");
      pa.runsSound = false;
      return;
    }
    const uint32_t previous = p;
    uint32_t lcn = 0;
    const bool placed = OffsetIsPlausible(run) && AdvanceRun(run, p, lcn);
    pa.runClusters += run.length;
    if (placed && static_cast<uint64_t>(lcn) + run.length <= g.clusterCount) {
      if (vcn + run.length <= 0x100000000ull) {
        pa.runs.push_back(Run{static_cast<uint32_t>(vcn), lcn, run.length});
      }
    } else {
      if (pa.runsSound) problems.push_back(LeavesTheVolume(pa, run, previous, g));
      pa.runsSound = false;
      if (!placed) return;
    }
    vcn += run.length;
  }
}

bool DecodeAttribute(const uint8_t* record, const uint8_t* a, const Geometry& g,
                     ParsedAttribute& pa, std::vector<std::string>& problems) {
  pa.offset = static_cast<uint32_t>(a - record);
  pa.type = AttrType(a);
  pa.nonResident = AttrIsNonResident(a);
  // A non-resident header that fits leaves only the run list to judge,
  // which DecodeRuns does run by run (and without adding offsets that could
  // overflow a position).
  const bool fits = pa.nonResident ? NonResidentHeaderFits(a) : AttributeIsSound(a, 0);
  if (!fits) {
    problems.push_back(Format("%s at offset %u has an unsound header",
                              AttributeLabel(pa.type).c_str(), pa.offset));
    return false;
  }
  if (AttrNameLength(a) != 0) pa.name = NameAt(a, AttrNameOffset(a), AttrNameLength(a));
  if (!pa.nonResident) {
    pa.valueOffset = pa.offset + AttrValueOffset(a);
    pa.valueLength = AttrValueLength(a);
    return true;
  }
  pa.firstVcn = AttrFirstVcn(a);
  pa.allocatedSize = AttrAllocatedSize(a);
  pa.dataSize = AttrDataSize(a);
  pa.initializedSize = AttrInitializedSize(a);
  DecodeRuns(a, g, pa, problems);
  return true;
}

void CheckHeader(const uint8_t* image, const Geometry& g, std::vector<std::string>& problems) {
  const uint32_t allocated = RecordBytesAllocated(image);
  const uint32_t inUse = RecordBytesInUse(image);
  if (allocated != g.recordSize) {
    problems.push_back(
        Format("bytes allocated %u differ from the record size %u", allocated, g.recordSize));
  }
  if (inUse > allocated || inUse > g.recordSize) {
    problems.push_back(Format("bytes in use %u exceed the bytes allocated", inUse));
  }
  if (RecordFirstAttribute(image) < record::kHeaderSize) {
    problems.push_back(
        Format("first attribute offset %u lies inside the header", RecordFirstAttribute(image)));
  }
}

// The walk must reach the end marker after exactly the counted attributes,
// and the bytes in use must cover the marker.
void CheckWalkEnd(const uint8_t* image, const AttributeWalk& walk, uint32_t walked,
                  std::vector<std::string>& problems) {
  if (walk.malformed()) {
    problems.push_back(Format("attribute %u runs outside the record", walked + 1));
    return;
  }
  const uint32_t counted = RecordAttributeCount(image);
  if (walk.endMarkerOffset() == 0) {
    problems.push_back(
        Format("no end marker after the %u attributes the attribute count gives", counted));
    return;
  }
  if (walked != counted) {
    problems.push_back(Format("attribute count %u but %u attributes", counted, walked));
  }
  if (walk.endMarkerOffset() + record::kEndMarkerSize > RecordBytesInUse(image)) {
    problems.push_back(Format("bytes in use %u end before the end marker at offset %u",
                              RecordBytesInUse(image), walk.endMarkerOffset()));
  }
}

}  // namespace

std::string AttributeLabel(uint32_t type) { return Format("attribute 0x%X", type); }

ParsedRecord ParseRecord(uint8_t* image, const Geometry& g) {
  ParsedRecord parsed;
  parsed.flags = RecordFlags(image);
  parsed.base = RecordBaseRecord(image);
  CheckHeader(image, g, parsed.problems);
  AttributeWalk walk(image, g.recordSize);
  uint32_t walked = 0;
  while (const uint8_t* a = walk.Next()) {
    ++walked;
    ParsedAttribute pa;
    if (DecodeAttribute(image, a, g, pa, parsed.problems)) parsed.attributes.push_back(pa);
  }
  CheckWalkEnd(image, walk, walked, parsed.problems);
  if (parsed.problems.empty() && ValidateRecord(image, g.recordSize, g.clusterCount) != kOk) {
    parsed.problems.push_back("record structure is unsound");
  }
  return parsed;
}

}  // namespace vrax::fsck
