#include <gtest/gtest.h>

#include <functional>

#include "helpers.h"
#include "platform/error_codes.h"
#include "volume/format/attribute.h"
#include "volume/format/bytes.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

using test::AppendAttribute;
using test::AppendNonResident;
using test::AppendResident;
using test::Bytes;

struct RecordImage : Bytes {
  RecordImage() : Bytes(1024) { BuildEmptyRecord(data(), 1024, 512); }
  int32_t Validate(uint32_t clusterCount = 0) { return ValidateRecord(data(), 1024, clusterCount); }
};

const Bytes kRunAt100{0x11, 0x08, 0x64, 0x00};  // 8 clusters at LCN 100

TEST(ValidateRecord, AcceptsSoundAttributes) {
  RecordImage record;
  EXPECT_EQ(record.Validate(), kOk);
  AppendResident(record.data(), AT_FILE_NAME, 0x48);
  AppendNonResident(record.data(), AT_DATA, kRunAt100);
  EXPECT_EQ(record.Validate(), kOk);
  EXPECT_EQ(record.Validate(108), kOk) << "the run ends on the last cluster";
  EXPECT_EQ(record.Validate(100), kErrBadStructure);
  EXPECT_EQ(record.Validate(0), kOk) << "a cluster count of 0 skips the bound";
  uint8_t* a = AppendResident(record.data(), AT_DATA, 0);  // 0x28 bytes
  a[attr::kNameOffset] = 0x18;
  a[attr::kNameLength] = 8;  // 0x18 + 16 = 0x28 fits exactly
  EXPECT_EQ(record.Validate(), kOk);
}

TEST(ValidateRecord, RejectsEachKindOfDamage) {
  const std::pair<const char*, std::function<void(RecordImage&)>> damages[] = {
      {"attribute past the record",
       [](RecordImage& r) { SetAttrLength(AppendResident(r.data(), AT_DATA, 0), 1024); }},
      {"zero length", [](RecordImage& r) { SetAttrLength(AppendResident(r.data(), AT_DATA, 0), 0); }},
      {"name outside the attribute",
       [](RecordImage& r) {
         uint8_t* a = AppendResident(r.data(), AT_DATA, 0);
         a[attr::kNameLength] = 10;
         a[attr::kNameOffset] = 0x18;
       }},
      {"resident value outside the attribute",
       [](RecordImage& r) { SetAttrValueLength(AppendResident(r.data(), AT_FILE_NAME, 0x10), 0x100); }},
      {"sparse run", [](RecordImage& r) { AppendNonResident(r.data(), AT_DATA, {0x01, 0x08, 0x00, 0x00}); }},
      {"non-resident header short of 0x48",
       [](RecordImage& r) {
         uint8_t* a = AppendAttribute(r.data(), AT_DATA, 0x40);
         a[attr::kNonResident] = 1;
         PutLE16(a + attr::kRunListOffset, 0x3F);
       }},
      {"run list inside the header",
       [](RecordImage& r) {
         PutLE16(AppendNonResident(r.data(), AT_DATA, kRunAt100) + attr::kRunListOffset, 0x40);
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
  uint8_t* first = AppendResident(record.data(), AT_STANDARD_INFORMATION, 48);
  uint8_t* second = AppendNonResident(record.data(), AT_DATA, kRunAt100);
  AttributeWalk walk(record.data(), 1024);
  EXPECT_EQ(walk.Next(), first);
  EXPECT_EQ(walk.Next(), second);
  EXPECT_EQ(walk.Next(), nullptr);
  EXPECT_FALSE(walk.malformed());
  const uint32_t end = RecordBytesInUse(record.data()) - 8;
  EXPECT_EQ(walk.endMarkerOffset(), end);
  EXPECT_EQ(FindAttributeInRecord(record.data(), 1024, 0xFFFFFFFF), record.data() + end);

  SetRecordAttributeCount(record.data(), 0);
  AttributeWalk counted(record.data(), 1024);
  EXPECT_EQ(counted.Next(), first);
  EXPECT_EQ(counted.Next(), nullptr);
  EXPECT_FALSE(counted.malformed());
  EXPECT_EQ(counted.endMarkerOffset(), 0u);

  RecordImage shortAttribute;
  SetAttrLength(AppendResident(shortAttribute.data(), AT_DATA, 0), 0x10);
  AttributeWalk shortWalk(shortAttribute.data(), 1024);
  EXPECT_EQ(shortWalk.Next(), nullptr);
  EXPECT_TRUE(shortWalk.malformed());
  Bytes tiny(0x20, 0);
  AttributeWalk tinyWalk(tiny.data(), 0x20);
  EXPECT_EQ(tinyWalk.Next(), nullptr);
  EXPECT_TRUE(tinyWalk.malformed());
}

}  // namespace
}  // namespace vrax
