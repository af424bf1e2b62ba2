#include <gtest/gtest.h>

#include "helpers.h"
#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/descriptor.h"
#include "volume/format/file_name.h"

namespace vrax {
namespace {

using test::Bytes;

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

// Big-endian fields at their offsets; decoding and encoding again gives the
// same bytes, and setting the size touches bytes 9 to 12 only.
TEST(Descriptor, EncodesBigEndianDecodesBackAndSetsTheSizeInPlace) {
  Bytes out(kDescriptorSize, 0xEE);
  EncodeDescriptor(SampleDescriptor(), out.data());
  const Bytes head{0x1B, 0x12, 0x34, 126, 3, 15, 13, 45, 2, 0x01, 0x02, 0x03, 0x04, 99, 12, 31};
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), head);
  Descriptor d;
  DecodeDescriptor(out.data(), d);
  Bytes again(kDescriptorSize);
  EncodeDescriptor(d, again.data());
  EXPECT_EQ(again, out);
  Bytes expected = out;
  PutBE32(expected.data() + 9, kDirectorySizeField);
  SetDescriptorSize(out.data(), kDirectorySizeField);
  EXPECT_EQ(out, expected);
}

// Decoding gives the name and parent back unless the name runs past the
// value.
TEST(FileName, DecodesWhatWasEncoded) {
  Bytes value(FileNameValueSize(3), 0xEE);
  EncodeFileName(value.data(), 5, "a-B", 3);
  std::string name;
  ASSERT_TRUE(DecodeFileName(value.data(), static_cast<uint32_t>(value.size()), name));
  EXPECT_EQ(name, "a-B");
  EXPECT_EQ(FileNameParent(value.data()), 5u);
  EXPECT_FALSE(DecodeFileName(value.data(), 0x47, name));
  EXPECT_FALSE(DecodeFileName(value.data(), 0x41, name));
}

Bytes TwoEntryList() {
  Bytes list(2 * kAttributeListEntrySize, 0xEE);
  EncodeAttributeListEntry(list.data(), test::Listed(0x10, 5, 0));
  EncodeAttributeListEntry(list.data() + kAttributeListEntrySize, test::Listed(0x80, 37, 2, 0x1000));
  return list;
}

ListStatus DecodeFirst(Bytes list) {
  uint32_t pos = 0;
  AttributeListEntry e;
  return DecodeAttributeListEntry(list.data(), static_cast<uint32_t>(list.size()), pos, e);
}

// The fields of sound entries are checked through the dump's listing.
TEST(AttributeList, UnsoundEntriesAreMalformed) {
  const Bytes full = TwoEntryList();
  std::vector<std::pair<Bytes, ListStatus>> cases;
  for (const auto& [length, status] : {std::pair{0x19, ListStatus::kMalformed},
                                       std::pair{0, ListStatus::kMalformed},
                                       std::pair{0x1A, ListStatus::kEntry},
                                       std::pair{0x41, ListStatus::kMalformed}}) {
    Bytes list = full;
    PutLE16(list.data() + 0x04, static_cast<uint16_t>(length));
    cases.emplace_back(list, status);
  }
  cases.emplace_back(Bytes(full.begin(), full.begin() + 0x19), ListStatus::kMalformed);
  cases.emplace_back(Bytes(full.begin(), full.begin() + 0x05), ListStatus::kMalformed);
  for (const auto& [nameOffset, status] :
       {std::pair{0x1B, ListStatus::kMalformed}, std::pair{0x1A, ListStatus::kEntry}}) {
    Bytes list = full;
    list[0x06] = 3;  // 6 bytes of name: 0x1A + 6 = 0x20 just fits
    list[0x07] = static_cast<uint8_t>(nameOffset);
    cases.emplace_back(list, status);
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(DecodeFirst(cases[i].first), cases[i].second) << i;
  }
}

}  // namespace
}  // namespace vrax
