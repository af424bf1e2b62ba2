// Attribute values with fixed layouts: the file descriptor, the file name
// and the attribute list entry.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/descriptor.h"
#include "volume/format/file_name.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;

Descriptor SampleDescriptor() {
  Descriptor d;
  d.bits = kDescNewFile;
  d.owner = 0x1234;
  d.modified = Stamp{2026, 3, 15, 13, 45};
  d.links = 2;
  d.size = 0x01020304;
  d.created = Stamp{1999, 12, 31, 0, 0};
  d.tail = 0xAABBCCDD;
  return d;
}

TEST(Descriptor, FieldsAreBigEndianAtTheirOffsets) {
  Bytes out(kDescriptorSize, 0xEE);
  EncodeDescriptor(SampleDescriptor(), out.data());
  const Bytes head{0x1B, 0x12, 0x34, 126, 3, 15, 13, 45, 2, 0x01, 0x02, 0x03, 0x04, 99, 12, 31};
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), head);
  EXPECT_EQ(DescriptorSize(out.data()), 0x01020304u);
}

TEST(Descriptor, RoundTripKeepsEveryField) {
  Bytes out(kDescriptorSize);
  EncodeDescriptor(SampleDescriptor(), out.data());
  Descriptor d;
  DecodeDescriptor(out.data(), d);
  const Descriptor want = SampleDescriptor();
  EXPECT_EQ(d.bits, want.bits);
  EXPECT_EQ(d.owner, want.owner);
  EXPECT_EQ(d.modified.year, 2026);
  EXPECT_EQ(d.modified.month, 3);
  EXPECT_EQ(d.modified.day, 15);
  EXPECT_EQ(d.modified.hour, 13);
  EXPECT_EQ(d.modified.minute, 45);
  EXPECT_EQ(d.links, 2);
  EXPECT_EQ(d.size, 0x01020304u);
  EXPECT_EQ(d.created.year, 1999);
  EXPECT_EQ(d.created.month, 12);
  EXPECT_EQ(d.created.day, 31);
  EXPECT_EQ(d.tail, 0xAABBCCDDu);
  Bytes again(kDescriptorSize);
  EncodeDescriptor(d, again.data());
  EXPECT_EQ(again, out);
}

TEST(Descriptor, SettingTheSizeTouchesBytes9To12Only) {
  Bytes out(kDescriptorSize);
  EncodeDescriptor(SampleDescriptor(), out.data());
  Bytes expected = out;
  expected[9] = 0x00;
  expected[10] = 0x00;
  expected[11] = 0x80;
  expected[12] = 0x00;
  SetDescriptorSize(out.data(), kDirectorySizeField);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(DescriptorSize(out.data()), 0x8000u);
}

TEST(FileName, EncodesParentLengthSpaceAndWidenedName) {
  Bytes value(FileNameValueSize(3), 0xEE);
  EncodeFileName(value.data(), 5, "a-B", 3);
  EXPECT_EQ(value.size(), 0x48u);
  EXPECT_EQ(GetLE64(value.data()), 5u);
  for (uint32_t i = 8; i < 0x40; ++i) EXPECT_EQ(value[i], 0) << "byte " << i;
  EXPECT_EQ(value[0x40], 3);
  EXPECT_EQ(value[0x41], 3);
  EXPECT_EQ(Bytes(value.begin() + 0x42, value.end()), (Bytes{'a', 0, '-', 0, 'B', 0}));
}

TEST(FileName, DecodesBackToTheName) {
  Bytes value(FileNameValueSize(5));
  EncodeFileName(value.data(), 37, "notes", 5);
  std::string name;
  ASSERT_TRUE(DecodeFileName(value.data(), static_cast<uint32_t>(value.size()), name));
  EXPECT_EQ(name, "notes");
  EXPECT_EQ(FileNameParent(value.data()), 37u);
}

TEST(FileName, NameRunningPastTheValueIsRefused) {
  Bytes full(FileNameValueSize(5));
  EncodeFileName(full.data(), 37, "notes", 5);
  Bytes cut(full.begin(), full.end() - 1);
  std::string name;
  EXPECT_FALSE(DecodeFileName(cut.data(), static_cast<uint32_t>(cut.size()), name));
  Bytes header(full.begin(), full.begin() + 0x41);
  EXPECT_FALSE(DecodeFileName(header.data(), 0x41, name));
}

AttributeListEntry ListEntry(uint32_t type, uint32_t record, uint16_t id) {
  AttributeListEntry e;
  e.type = type;
  e.firstVcn = 0;
  e.record = record;
  e.identifier = id;
  return e;
}

Bytes TwoEntryList() {
  Bytes list(2 * kAttributeListEntrySize, 0xEE);
  EncodeAttributeListEntry(list.data(), ListEntry(0x10, 5, 0));
  AttributeListEntry data = ListEntry(0x80, 37, 2);
  data.firstVcn = 0x1000;
  EncodeAttributeListEntry(list.data() + kAttributeListEntrySize, data);
  return list;
}

TEST(AttributeList, EncodedEntryLayout) {
  const Bytes list = TwoEntryList();
  const uint8_t* e = list.data() + 0x20;
  EXPECT_EQ(GetLE32(e), 0x80u);
  EXPECT_EQ(GetLE16(e + 0x04), 0x20);
  EXPECT_EQ(e[0x06], 0);
  EXPECT_EQ(GetLE64(e + 0x08), 0x1000u);
  EXPECT_EQ(GetLE64(e + 0x10), 37u);
  EXPECT_EQ(GetLE16(e + 0x18), 2);
}

TEST(AttributeList, DecodesEntriesInOrderThenEnds) {
  const Bytes list = TwoEntryList();
  uint32_t pos = 0;
  AttributeListEntry e;
  ASSERT_EQ(DecodeAttributeListEntry(list.data(), 0x40, pos, e), ListStatus::kEntry);
  EXPECT_EQ(e.type, 0x10u);
  EXPECT_EQ(e.record, 5u);
  EXPECT_EQ(pos, 0x20u);
  ASSERT_EQ(DecodeAttributeListEntry(list.data(), 0x40, pos, e), ListStatus::kEntry);
  EXPECT_EQ(e.type, 0x80u);
  EXPECT_EQ(e.length, 0x20);
  EXPECT_EQ(e.firstVcn, 0x1000u);
  EXPECT_EQ(e.record, 37u);
  EXPECT_EQ(e.identifier, 2);
  EXPECT_EQ(DecodeAttributeListEntry(list.data(), 0x40, pos, e), ListStatus::kEnd);
}

ListStatus DecodeFirst(Bytes list) {
  uint32_t pos = 0;
  AttributeListEntry e;
  return DecodeAttributeListEntry(list.data(), static_cast<uint32_t>(list.size()), pos, e);
}

TEST(AttributeList, EntryShorterThanItsFieldsIsMalformed) {
  Bytes list = TwoEntryList();
  PutLE16(list.data() + 0x04, 0x19);
  EXPECT_EQ(DecodeFirst(list), ListStatus::kMalformed);
  PutLE16(list.data() + 0x04, 0);
  EXPECT_EQ(DecodeFirst(list), ListStatus::kMalformed);
  PutLE16(list.data() + 0x04, 0x1A);
  EXPECT_EQ(DecodeFirst(list), ListStatus::kEntry);
}

TEST(AttributeList, EntryRunningPastTheValueIsMalformed) {
  Bytes list = TwoEntryList();
  PutLE16(list.data() + 0x24, 0x21);
  uint32_t pos = 0x20;
  AttributeListEntry e;
  EXPECT_EQ(DecodeAttributeListEntry(list.data(), 0x40, pos, e), ListStatus::kMalformed);
}

TEST(AttributeList, ValueEndingInsideTheFieldsIsMalformed) {
  const Bytes full = TwoEntryList();
  EXPECT_EQ(DecodeFirst(Bytes(full.begin(), full.begin() + 0x19)), ListStatus::kMalformed);
  EXPECT_EQ(DecodeFirst(Bytes(full.begin(), full.begin() + 0x05)), ListStatus::kMalformed);
}

TEST(AttributeList, NameMustLieInsideTheEntry) {
  Bytes list = TwoEntryList();
  list[0x06] = 3;
  list[0x07] = 0x1B;  // 0x1B + 6 > 0x20
  EXPECT_EQ(DecodeFirst(list), ListStatus::kMalformed);
  list[0x07] = 0x1A;  // 0x1A + 6 = 0x20 fits
  EXPECT_EQ(DecodeFirst(list), ListStatus::kEntry);
}

}  // namespace
}  // namespace vrax
