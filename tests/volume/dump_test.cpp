// The readable dumps on standard output: exact lines for known structures,
// and damaged structures that end a listing without reading past the buffer
// handed over (each such buffer is a heap block of exactly that size, so an
// over-read shows under AddressSanitizer).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "volume/dump/dump.h"
#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const std::string kDash = std::string(47, '-') + "\n";
const std::string kStars = std::string(48, '*') + "\n";
const std::string kEquals = std::string(38, '=') + "\n";
const std::string kListHeader = " TYPE RECSIZE NAMEL START_VCN     MFT  ATTR_ID \n";

template <typename Dump>
std::string Captured(Dump dump) {
  CaptureStdout();
  dump();
  std::fflush(stdout);
  return GetCapturedStdout();
}

// ---- attribute list ----

Bytes ListOf(std::initializer_list<AttributeListEntry> entries) {
  Bytes list;
  for (const AttributeListEntry& e : entries) {
    list.resize(list.size() + kAttributeListEntrySize);
    EncodeAttributeListEntry(list.data() + list.size() - kAttributeListEntrySize, e);
  }
  return list;
}

AttributeListEntry Listed(uint32_t type, uint32_t record, uint16_t id, uint32_t firstVcn = 0) {
  AttributeListEntry e;
  e.type = type;
  e.record = record;
  e.identifier = id;
  e.firstVcn = firstVcn;
  return e;
}

std::string DumpList(const Bytes& list) {
  return Captured([&] { DumpAttributeList(list.data(), static_cast<uint32_t>(list.size())); });
}

// Worked by hand from the line format: " $" and the type in two hex digits,
// then 32 in 4 columns, two spaces and 0 in 4, five spaces and 0 in 6, seven
// spaces and 37 in 4, one space and 2 in 4.
const std::string kDataLine = " $80   32     0          0         37    2\n";

// Entries in order, wide fields not cut; an entry of length zero, running
// past the piece, or cut by the piece's end ends the listing.
TEST(DumpAttributeList, ListsEntriesUntilTheFirstUnsoundOne) {
  const Bytes list =
      ListOf({Listed(0x10, 5, 0), Listed(0x30, 5, 1), Listed(0x80, 4660, 3, 123456)});
  EXPECT_EQ(DumpList(list), kDash + kListHeader +
                                " $10   32     0          0          5    0\n"
                                " $30   32     0          0          5    1\n"
                                " $80   32     0     123456       4660    3\n" +
                                kDash);
  Bytes wide = ListOf({Listed(0x1000, 37, 2)});
  wide.resize(0x28, 0);
  PutLE16(wide.data() + 0x04, 0x28);
  wide[0x06] = 4;
  wide[0x07] = 0x1A;
  EXPECT_EQ(DumpList(wide),
            kDash + kListHeader + " $1000   40     4          0         37    2\n" + kDash);
  EXPECT_EQ(Captured([] { DumpAttributeList(nullptr, 0); }), kDash + kListHeader + kDash);

  const Bytes two = ListOf({Listed(0x80, 37, 2), Listed(0x90, 38, 3)});
  std::vector<Bytes> damaged = {two, two, Bytes(two.begin(), two.begin() + 0x21),
                                Bytes(two.begin(), two.begin() + 0x3F)};
  PutLE16(damaged[0].data() + 0x24, 0);
  PutLE16(damaged[1].data() + 0x24, 0x21);
  for (size_t i = 0; i < damaged.size(); ++i) {
    EXPECT_EQ(DumpList(damaged[i]), kDash + kListHeader + kDataLine + kDash) << i;
  }
}

// ---- record attributes ----

// Appends an attribute of `length` bytes at the end marker of `image`.
uint8_t* AddAttribute(uint8_t* image, uint32_t type, uint32_t length, uint16_t id) {
  const uint32_t at = RecordBytesInUse(image) - record::kEndMarkerSize;
  uint8_t* a = image + at;
  PutLE32(a + attr::kType, type);
  PutLE32(a + attr::kLength, length);
  PutLE16(a + attr::kIdentifier, id);
  PutLE32(a + length, record::kEndMarker);
  SetRecordBytesInUse(image, at + length + record::kEndMarkerSize);
  SetRecordAttributeCount(image, static_cast<uint16_t>(RecordAttributeCount(image) + 1));
  return a;
}

void AddResident(uint8_t* image, uint32_t type, uint16_t valueLength, uint16_t id) {
  uint8_t* a = AddAttribute(image, type, 0x18 + ResidentValueSpace(type, valueLength), id);
  PutLE16(a + attr::kValueOffset, 0x18);
  SetAttrValueLength(a, valueLength);
}

void AddNonResident(uint8_t* image, uint32_t type, uint16_t id, uint32_t allocated,
                    uint32_t dataSize, uint32_t initialized) {
  uint8_t* a = AddAttribute(image, type, 0x50, id);
  a[attr::kNonResident] = 1;
  PutLE16(a + attr::kRunListOffset, 0x48);
  const uint8_t run[] = {0x11, 0x02, 0x64, 0x00};
  std::memcpy(a + 0x48, run, sizeof run);
  SetAttrAllocatedSize(a, allocated);
  SetAttrDataSize(a, dataSize);
  SetAttrInitializedSize(a, initialized);
}

uint8_t* NewRecord(RecordChain& chain, uint32_t number, uint32_t size = 1024) {
  RecordBuffer* b = AllocRecordBuffer(size, chain);
  b->recordNumber = number;
  BuildEmptyRecord(b->image, size, 512);
  return b->image;
}

std::string DumpChain(const RecordChain& chain, uint32_t recordSize = 1024) {
  return Captured([&] { DumpRecordAttributes(chain, recordSize); });
}

TEST(DumpRecordAttributes, ListsEachAttributeOfEachRecordInChainOrder) {
  RecordChain chain;
  uint8_t* base = NewRecord(chain, 37);
  AddResident(base, AT_FILE_NAME, 0x48, 0);
  AddNonResident(base, AT_DATA, 3, 8192, 5000, 4999);
  AddResident(base, 0x2000, 4, 0);
  uint8_t* extension = NewRecord(chain, 0x1234);
  AddResident(extension, AT_OSK_FILEDES, 20, 7);

  EXPECT_EQ(DumpChain(chain),
            "=== [#3] Attributes for MFT = $25 (37) ====\n"
            " 0000:  AT_FILE_NAME:  ATID=0, DataLength=72 - RESIDENT\n"
            " 0001:  AT_DATA:  ATID=3, Size/Alloc/Data=8192/5000/4999 - NON-RESIDENT \n"
            " 0002:  UNKNOWN_ATTRIBUTE:  ATID=0, DataLength=4 - RESIDENT\n" +
                kEquals +
                "=== [#1] Attributes for MFT = $1234 (4660) ====\n"
                " 0000:  AT_OSK_FILEDES:  ATID=7, DataLength=20 - RESIDENT\n" +
                kEquals);
}

// An attribute of length zero, one leaving the record, a non-resident one
// too short for its sizes, or a first attribute outside the record ends
// the walk; a count beyond the attributes stops at the end marker.
TEST(DumpRecordAttributes, UnsoundAttributesEndTheWalk) {
  const std::string header = "=== [#1] Attributes for MFT = $28 (40) ====\n";
  const std::function<void(uint8_t*)> damages[] = {
      [](uint8_t* r) { SetAttrLength(r + RecordFirstAttribute(r), 0); },
      [](uint8_t* r) { SetAttrLength(r + RecordFirstAttribute(r), 0xFFFFFF00u); },
      [](uint8_t* r) { PutLE16(r + record::kFirstAttribute, 1023); },
  };
  for (const auto& damage : damages) {
    RecordChain chain;
    uint8_t* image = NewRecord(chain, 40);
    AddResident(image, AT_DATA, 0, 0);
    damage(image);
    EXPECT_EQ(DumpChain(chain), header + kEquals);
  }
  RecordChain shortRecord;
  AddAttribute(NewRecord(shortRecord, 40, 0x60), AT_DATA, 0x20, 0)[attr::kNonResident] = 1;
  EXPECT_EQ(DumpChain(shortRecord, 0x60), header + kEquals);

  RecordChain counted;
  uint8_t* image = NewRecord(counted, 40);
  AddResident(image, AT_DATA, 0, 0);
  SetRecordAttributeCount(image, 500);
  EXPECT_EQ(DumpChain(counted), "=== [#500] Attributes for MFT = $28 (40) ====\n"
                                " 0000:  AT_DATA:  ATID=0, DataLength=0 - RESIDENT\n" +
                                    kEquals);
  RecordChain tiny;
  AllocRecordBuffer(0x20, tiny);
  EXPECT_EQ(DumpChain(tiny, 0x20), "");
}

// ---- index entries and blocks ----

Bytes NamedEntry(const std::string& name, uint32_t record, uint8_t flags = 0) {
  Bytes e(NamedEntrySize(static_cast<uint32_t>(name.size())), 0);
  PutLE32(e.data(), record);
  PutLE16(e.data() + ie::kLength, static_cast<uint16_t>(e.size()));
  e[ie::kFlags] = flags;
  e[ie::kNameLength] = static_cast<uint8_t>(name.size());
  e[ie::kNameSpace] = 3;
  for (size_t i = 0; i < name.size(); ++i) e[ie::kName + 2 * i] = static_cast<uint8_t>(name[i]);
  return e;
}

Bytes EndEntry(uint8_t flags = ie::kLast, uint32_t record = 0) {
  Bytes e(ie::kEndEntrySize, 0);
  PutLE32(e.data(), record);
  PutLE16(e.data() + ie::kLength, ie::kEndEntrySize);
  e[ie::kFlags] = flags;
  return e;
}

std::string DumpEntry(const Bytes& entry) {
  return Captured([&] { DumpIndexEntry(entry.data()); });
}

TEST(DumpIndexEntry, EachKindOfEntryIsOneLine) {
  Bytes overlong = NamedEntry("abc", 40);
  overlong[ie::kNameLength] = 200;  // cut to the entry
  const std::pair<Bytes, std::string> cases[] = {
      {EndEntry(0x03), " ->IS LAST (REC SIZE = 24) NEXT MFT = 00000000 ->HAS SUBNODES\n"},
      {EndEntry(0x02, 0x25), " ->IS LAST (REC SIZE = 24) NEXT MFT = 00000025\n"},
      {EndEntry(0x00), "File Name: \"\"\n"},
      {NamedEntry("caf\xE9", 40), "File Name: \"caf\xE9\"\n"},
      {NamedEntry("a b", 40, ie::kHasSubNode), "File Name: \"a b\" ->HAS SUBNODES\n"},
      {NamedEntry("zz", 0x1234, ie::kLast), " ->IS LAST (REC SIZE = 94) NEXT MFT = 00001234\n"},
  };
  for (const auto& [entry, line] : cases) EXPECT_EQ(DumpEntry(entry), line);
  EXPECT_EQ(Captured([] { DumpIndexEntry(nullptr); }), "Illegal \"indx_entry\" given\n");
  const std::string out = DumpEntry(overlong);
  EXPECT_EQ(out.substr(0, 15), "File Name: \"abc");
  EXPECT_EQ(out.size(),
            std::string("File Name: \"\"\n").size() + (overlong.size() - ie::kName) / 2);
}

std::string AddressOf(const uint8_t* p) {
  char text[16];
  std::snprintf(text, sizeof text, "%8.8x", static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
  return text;
}

std::string BlockFrame(const uint8_t* block, uint32_t allocated, uint32_t inUse) {
  return kStars + "* indx_alloc = $" + AddressOf(block) + "\n" + "* Total Length: " +
         std::to_string(allocated) + "   IN_USE_LENGTH = " + std::to_string(inUse) + "\n" +
         kStars;
}

std::string DumpBlock(const Bytes& block) {
  return Captured([&] { DumpIndexBlock(block.data(), static_cast<uint32_t>(block.size())); });
}

// A fresh 4096-byte block holding `entries` (the last of them closing the
// node) from the first entry position, bytes in use kept up to date.
Bytes BlockWith(std::initializer_list<Bytes> entries) {
  Bytes block(4096);
  BuildEmptyBlock(block.data(), 4096, 512, 0);
  uint32_t at = BlockEntriesStart(block.data());
  for (const Bytes& e : entries) {
    std::memcpy(block.data() + at, e.data(), e.size());
    at += static_cast<uint32_t>(e.size());
  }
  SetBlockBytesInUse(block.data(), at - indx::kNodeHeader + 0x18);
  return block;
}

TEST(DumpIndexBlock, ListsEntriesThroughTheLastOne) {
  const Bytes block = BlockWith({NamedEntry("alpha", 40, ie::kHasSubNode), NamedEntry("beta", 41),
                                 EndEntry(), NamedEntry("ghost", 42)});
  EXPECT_EQ(DumpBlock(block), BlockFrame(block.data(), 4072, BlockBytesInUse(block.data())) +
                                  "File Name: \"alpha\" ->HAS SUBNODES\n"
                                  "File Name: \"beta\"\n"
                                  " ->IS LAST (REC SIZE = 24) NEXT MFT = 00000000\n" +
                                  kStars);
}

TEST(DumpIndexBlock, UnsoundEntriesEndTheListing) {
  Bytes zero = BlockWith({NamedEntry("alpha", 40), NamedEntry("beta", 41), EndEntry()});
  PutLE16(zero.data() + BlockEntriesStart(zero.data()) + NamedEntrySize(5) + ie::kLength, 0);
  EXPECT_EQ(DumpBlock(zero), BlockFrame(zero.data(), 4072, BlockBytesInUse(zero.data())) +
                                 "File Name: \"alpha\"\n" + kStars);
  Bytes leaving = BlockWith({NamedEntry("alpha", 40), EndEntry()});
  PutLE16(leaving.data() + BlockEntriesStart(leaving.data()) + ie::kLength, 0xFFFF);
  EXPECT_EQ(DumpBlock(leaving),
            BlockFrame(leaving.data(), 4072, BlockBytesInUse(leaving.data())) + kStars);
  Bytes offset(4096);
  BuildEmptyBlock(offset.data(), 4096, 512, 0);
  PutLE32(offset.data() + indx::kEntriesOffset, 0xFFF0);
  EXPECT_EQ(DumpBlock(offset), BlockFrame(offset.data(), 4072, 166) + kStars);
  const Bytes tiny(0x10, 0);
  EXPECT_EQ(DumpBlock(tiny),
            kStars + "* indx_alloc = $" + AddressOf(tiny.data()) + "\n" + kStars + kStars);
}

// A bare node of `size` bytes whose header claims `used` bytes, entries
// from 0x28 on.
Bytes RawNode(size_t size, uint32_t used) {
  Bytes block(size, 0);
  std::memcpy(block.data(), "INDX", 4);
  PutLE32(block.data() + indx::kEntriesOffset, 0x10);
  PutLE32(block.data() + indx::kBytesInUse, used);
  PutLE32(block.data() + indx::kBytesAllocated, used);
  return block;
}

// Without a last entry the listing stops where the buffer ends; an entry
// claiming a key whose name fields lie beyond the buffer is not listed.
TEST(DumpIndexBlock, ListingStopsAtTheEndOfTheBuffer) {
  Bytes block = RawNode(0x200, 0x1E8);
  // Named entries of 0x5E bytes from 0x28 on, none of them last: five fit.
  for (uint32_t at = 0x28; at + NamedEntrySize(2) <= block.size(); at += NamedEntrySize(2)) {
    const Bytes e = NamedEntry("nm", 40);
    std::memcpy(block.data() + at, e.data(), e.size());
  }
  std::string expected = BlockFrame(block.data(), 0x1E8, 0x1E8);
  for (int i = 0; i < 5; ++i) expected += "File Name: \"nm\"\n";
  EXPECT_EQ(DumpBlock(block), expected + kStars);

  Bytes cut = RawNode(0x48, 0x30);  // a 0x20-byte entry: its name length would be at 0x50
  PutLE16(cut.data() + 0x28 + ie::kLength, 0x20);
  cut[0x28 + ie::kFlags] = ie::kLast;
  EXPECT_EQ(DumpBlock(cut), BlockFrame(cut.data(), 0x30, 0x30) + kStars);
}

TEST(IndexBlockTrace, WriteAndWrongReadLines) {
  EXPECT_EQ(Captured([] { TraceIndexBlockWrite(3, 12288); }), "WRITING INDX VCN=3 OFFSET=12288\n");
  EXPECT_EQ(Captured([] { TraceIndexBlockReadWrong(3, 12288); }),
            "READING VCN=3 OFFSET=12288 INDX_ALLOC WRONG!!! \n");
}

}  // namespace
}  // namespace vrax
