// Decoding one FILE record image (fix-ups already applied) into what the
// other checks need, judging its structure on the way.
//
// Nothing read from the image is trusted: every attribute goes through the
// shared attribute walk and soundness checks, every run list through the
// run decoder, and runs are kept only where they lie inside the volume.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry.h"

namespace vrax::fsck {

// `length` clusters at LCN `lcn`, holding the value's clusters from `vcn` on.
struct Run {
  uint32_t vcn = 0;
  uint32_t lcn = 0;
  uint32_t length = 0;
};

struct ParsedAttribute {
  uint32_t offset = 0;  // of the header, within the record
  uint32_t type = 0;
  bool nonResident = false;
  std::string name;  // the low byte of each UTF-16 unit
  // Resident form: where the value lies within the record.
  uint32_t valueOffset = 0;
  uint32_t valueLength = 0;
  // Non-resident form.
  uint32_t firstVcn = 0;
  uint32_t allocatedSize = 0;
  uint32_t dataSize = 0;
  uint32_t initializedSize = 0;
  std::vector<Run> runs;     // the decoded runs that lie inside the volume
  uint64_t runClusters = 0;  // clusters of every decoded run
  bool runsSound = true;     // the list decodes and stays inside the volume
};

struct ParsedRecord {
  uint16_t flags = 0;
  uint32_t base = 0;  // base record number; 0 in a base record
  // Attributes whose headers are sound, in record order.
  std::vector<ParsedAttribute> attributes;
  // What is wrong with the record, each without the "record N: " prefix.
  std::vector<std::string> problems;
};

// Decodes `image` (recordSize bytes, after the fix-ups).
ParsedRecord ParseRecord(uint8_t* image, const Geometry& geometry);

// A readable text for an attribute type in messages: "attribute 0x80".
std::string AttributeLabel(uint32_t type);

}  // namespace vrax::fsck
