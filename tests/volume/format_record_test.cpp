// FILE records: the empty record the engine builds, the attribute walk and
// the validation that guards every reader against damaged records.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/error_codes.h"
#include "volume/format/attribute.h"
#include "volume/format/bytes.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;

// A record image grown attribute by attribute, keeping the end marker, the
// bytes in use and the attribute count up to date.
class RecordImage {
 public:
  explicit RecordImage(uint32_t size = 1024, uint32_t bytesPerSector = 512) : bytes_(size) {
    BuildEmptyRecord(bytes_.data(), size, bytesPerSector);
  }

  uint8_t* Add(uint32_t type, uint32_t length) {
    const uint32_t at = RecordBytesInUse(data()) - record::kEndMarkerSize;
    uint8_t* a = data() + at;
    std::memset(a, 0, length);
    PutLE32(a + attr::kType, type);
    PutLE32(a + attr::kLength, length);
    PutLE32(a + length, record::kEndMarker);
    PutLE32(a + length + 4, 0);
    SetRecordBytesInUse(data(), at + length + record::kEndMarkerSize);
    SetRecordAttributeCount(data(), static_cast<uint16_t>(RecordAttributeCount(data()) + 1));
    return a;
  }

  uint8_t* AddResident(uint32_t type, uint16_t valueLength) {
    uint8_t* a = Add(type, attr::kResidentHeader + ResidentValueSpace(type, valueLength));
    PutLE16(a + attr::kValueOffset, attr::kResidentHeader);
    SetAttrValueLength(a, valueLength);
    return a;
  }

  uint8_t* AddNonResident(uint32_t type, const Bytes& runs) {
    const uint32_t runBytes = static_cast<uint32_t>(runs.size());
    const uint32_t length = (attr::kNonResidentHeader + runBytes + 4) & ~1u;
    uint8_t* a = Add(type, length);
    a[attr::kNonResident] = 1;
    PutLE16(a + attr::kRunListOffset, attr::kNonResidentHeader);
    std::memcpy(a + attr::kNonResidentHeader, runs.data(), runs.size());
    return a;
  }

  uint8_t* data() { return bytes_.data(); }
  uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }
  int32_t Validate(uint32_t clusterCount = 0) {
    return ValidateRecord(data(), size(), clusterCount);
  }

 private:
  Bytes bytes_;
};

const Bytes kRunAt100{0x11, 0x08, 0x64, 0x00};  // 8 clusters at LCN 100

// The array count follows the sector size.
TEST(ValidateRecord, AcceptsSoundAttributes) {
  EXPECT_EQ(RecordUsaCount(4096, 512), 9u);
  EXPECT_EQ(RecordUsaCount(1024, 4096), 1u);
  RecordImage record;
  EXPECT_EQ(record.Validate(), kOk);
  record.AddResident(AT_FILE_NAME, 0x48);
  record.AddNonResident(AT_DATA, kRunAt100);
  EXPECT_EQ(record.Validate(), kOk);
  EXPECT_EQ(record.Validate(108), kOk) << "the run ends on the last cluster";
  EXPECT_EQ(record.Validate(100), kErrBadStructure);
  EXPECT_EQ(record.Validate(0), kOk) << "a cluster count of 0 skips the bound";
  uint8_t* a = record.AddResident(AT_DATA, 0);  // 0x28 bytes
  a[attr::kNameOffset] = 0x18;
  a[attr::kNameLength] = 8;  // 0x18 + 16 = 0x28 fits exactly
  EXPECT_EQ(record.Validate(), kOk);
}

TEST(ValidateRecord, RejectsEachKindOfDamage) {
  const std::pair<const char*, std::function<void(RecordImage&)>> damages[] = {
      {"attribute past the record",
       [](RecordImage& r) { SetAttrLength(r.AddResident(AT_DATA, 0), 1024); }},
      {"zero length", [](RecordImage& r) { SetAttrLength(r.AddResident(AT_DATA, 0), 0); }},
      {"name outside the attribute",
       [](RecordImage& r) {
         uint8_t* a = r.AddResident(AT_DATA, 0);
         a[attr::kNameLength] = 10;
         a[attr::kNameOffset] = 0x18;
       }},
      {"resident value outside the attribute",
       [](RecordImage& r) { SetAttrValueLength(r.AddResident(AT_FILE_NAME, 0x10), 0x100); }},
      {"sparse run", [](RecordImage& r) { r.AddNonResident(AT_DATA, {0x01, 0x08, 0x00, 0x00}); }},
      {"non-resident header short of 0x48",
       [](RecordImage& r) {
         uint8_t* a = r.Add(AT_DATA, 0x40);
         a[attr::kNonResident] = 1;
         PutLE16(a + attr::kRunListOffset, 0x3F);
       }},
      {"run list inside the header",
       [](RecordImage& r) {
         PutLE16(r.AddNonResident(AT_DATA, kRunAt100) + attr::kRunListOffset, 0x40);
       }},
      {"first attribute inside the header",
       [](RecordImage& r) { PutLE16(r.data() + record::kFirstAttribute, 0x20); }},
      {"first attribute outside the record",
       [](RecordImage& r) { PutLE16(r.data() + record::kFirstAttribute, 1022); }},
      {"bytes in use short of the end marker",
       [](RecordImage& r) { SetRecordBytesInUse(r.data(), RecordBytesInUse(r.data()) - 1); }},
      {"bytes allocated beyond the record",
       [](RecordImage& r) { PutLE32(r.data() + record::kBytesAllocated, 2048); }},
  };
  for (const auto& [what, damage] : damages) {
    RecordImage record;
    damage(record);
    EXPECT_EQ(record.Validate(), kErrBadStructure) << what;
  }
}

// The walk yields each attribute and stops at the end marker, or after
// count + 1 steps; short lengths and records are malformed. Lookup by type
// finds the end marker for type 0xFFFFFFFF.
TEST(AttributeWalk, YieldsEachAttributeThenStops) {
  RecordImage record;
  uint8_t* first = record.AddResident(AT_STANDARD_INFORMATION, 48);
  uint8_t* second = record.AddNonResident(AT_DATA, kRunAt100);
  AttributeWalk walk(record.data(), record.size());
  EXPECT_EQ(walk.Next(), first);
  EXPECT_EQ(walk.Next(), second);
  EXPECT_EQ(walk.Next(), nullptr);
  EXPECT_FALSE(walk.malformed());
  const uint32_t end = RecordBytesInUse(record.data()) - 8;
  EXPECT_EQ(walk.endMarkerOffset(), end);
  EXPECT_EQ(FindAttributeInRecord(record.data(), record.size(), 0xFFFFFFFF), record.data() + end);

  SetRecordAttributeCount(record.data(), 0);
  AttributeWalk counted(record.data(), record.size());
  EXPECT_EQ(counted.Next(), first);
  EXPECT_EQ(counted.Next(), nullptr);
  EXPECT_FALSE(counted.malformed());
  EXPECT_EQ(counted.endMarkerOffset(), 0u);

  RecordImage shortAttribute;
  SetAttrLength(shortAttribute.AddResident(AT_DATA, 0), 0x10);
  AttributeWalk shortWalk(shortAttribute.data(), shortAttribute.size());
  EXPECT_EQ(shortWalk.Next(), nullptr);
  EXPECT_TRUE(shortWalk.malformed());
  Bytes tiny(0x20, 0);
  AttributeWalk tinyWalk(tiny.data(), 0x20);
  EXPECT_EQ(tinyWalk.Next(), nullptr);
  EXPECT_TRUE(tinyWalk.malformed());
}

TEST(ResidentValueSpace, DataRoundsDownAfterAdding16OthersRoundUpToEven) {
  EXPECT_EQ(ResidentValueSpace(AT_DATA, 15), 16u);
  EXPECT_EQ(ResidentValueSpace(AT_DATA, 16), 32u);
  EXPECT_EQ(ResidentValueSpace(AT_FILE_NAME, 5), 6u);
  EXPECT_EQ(ResidentValueSpace(AT_OSK_FILEDES, 20), 20u);
}

}  // namespace
}  // namespace vrax
