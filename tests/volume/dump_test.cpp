// The readable dumps on standard output: exact lines for known structures,
// and damaged structures that end a listing without reading past the buffer
// handed over (each such buffer is a heap block of exactly that size, so an
// over-read shows under AddressSanitizer).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
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

TEST(DumpAttributeList, OneEntryIsOneLineBetweenTheFrames) {
  EXPECT_EQ(DumpList(ListOf({Listed(0x80, 37, 2)})), kDash + kListHeader + kDataLine + kDash);
}

TEST(DumpAttributeList, ThreeEntriesGiveThreeLinesInOrder) {
  const Bytes list =
      ListOf({Listed(0x10, 5, 0), Listed(0x30, 5, 1), Listed(0x80, 4660, 3, 123456)});
  EXPECT_EQ(DumpList(list), kDash + kListHeader +
                                " $10   32     0          0          5    0\n"
                                " $30   32     0          0          5    1\n"
                                " $80   32     0     123456       4660    3\n" +
                                kDash);
}

TEST(DumpAttributeList, WideTypesAndNameLengthsAreNotCut) {
  Bytes list = ListOf({Listed(0x1000, 37, 2)});
  list.resize(0x28, 0);
  PutLE16(list.data() + 0x04, 0x28);
  list[0x06] = 4;
  list[0x07] = 0x1A;
  EXPECT_EQ(DumpList(list),
            kDash + kListHeader + " $1000   40     4          0         37    2\n" + kDash);
}

TEST(DumpAttributeList, EmptyPieceShowsOnlyTheFrame) {
  EXPECT_EQ(DumpList(Bytes{}), kDash + kListHeader + kDash);
  EXPECT_EQ(Captured([] { DumpAttributeList(nullptr, 0); }), kDash + kListHeader + kDash);
}

TEST(DumpAttributeList, EntryOfLengthZeroEndsTheListing) {
  Bytes list = ListOf({Listed(0x80, 37, 2), Listed(0x90, 38, 3), Listed(0xA0, 39, 4)});
  PutLE16(list.data() + 0x24, 0);
  EXPECT_EQ(DumpList(list), kDash + kListHeader + kDataLine + kDash);
}

TEST(DumpAttributeList, EntryRunningPastThePieceEndsTheListing) {
  Bytes list = ListOf({Listed(0x80, 37, 2), Listed(0x90, 38, 3)});
  PutLE16(list.data() + 0x24, 0x21);
  EXPECT_EQ(DumpList(list), kDash + kListHeader + kDataLine + kDash);
}

TEST(DumpAttributeList, PieceCutInsideAnEntryEndsTheListing) {
  const Bytes full = ListOf({Listed(0x80, 37, 2), Listed(0x90, 38, 3)});
  for (const size_t cut : {size_t{0x21}, size_t{0x26}, size_t{0x30}, size_t{0x3F}}) {
    const Bytes piece(full.begin(), full.begin() + static_cast<long>(cut));
    EXPECT_EQ(DumpList(piece), kDash + kListHeader + kDataLine + kDash) << cut;
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

TEST(DumpRecordAttributes, EmptyRecordShowsItsHeaderAndClosingLine) {
  RecordChain chain;
  NewRecord(chain, 5);
  EXPECT_EQ(DumpChain(chain), "=== [#0] Attributes for MFT = $5 (5) ====\n" + kEquals);
  RecordChain none;
  EXPECT_EQ(DumpChain(none), "");
}

TEST(DumpRecordAttributes, AttributeOfLengthZeroEndsTheWalk) {
  RecordChain chain;
  uint8_t* image = NewRecord(chain, 40);
  AddResident(image, AT_STANDARD_INFORMATION, 48, 0);
  AddResident(image, AT_DATA, 0, 0);
  SetAttrLength(image + RecordFirstAttribute(image) + 0x48, 0);
  EXPECT_EQ(DumpChain(chain),
            "=== [#2] Attributes for MFT = $28 (40) ====\n"
            " 0000:  AT_STANDARD_INFORMATION:  ATID=0, DataLength=48 - RESIDENT\n" +
                kEquals);
}

TEST(DumpRecordAttributes, AttributeLeavingTheRecordEndsTheWalk) {
  RecordChain chain;
  uint8_t* image = NewRecord(chain, 40);
  AddResident(image, AT_DATA, 0, 0);
  SetAttrLength(image + RecordFirstAttribute(image), 0xFFFFFF00u);
  EXPECT_EQ(DumpChain(chain), "=== [#1] Attributes for MFT = $28 (40) ====\n" + kEquals);
}

TEST(DumpRecordAttributes, CountBeyondTheAttributesStopsAtTheEndMarker) {
  RecordChain chain;
  uint8_t* image = NewRecord(chain, 40);
  AddResident(image, AT_DATA, 0, 0);
  SetRecordAttributeCount(image, 500);
  EXPECT_EQ(DumpChain(chain),
            "=== [#500] Attributes for MFT = $28 (40) ====\n"
            " 0000:  AT_DATA:  ATID=0, DataLength=0 - RESIDENT\n" +
                kEquals);
}

TEST(DumpRecordAttributes, NonResidentAttributeTooShortForItsSizesEndsTheWalk) {
  RecordChain chain;
  uint8_t* image = NewRecord(chain, 40, 0x60);
  AddAttribute(image, AT_DATA, 0x20, 0)[attr::kNonResident] = 1;
  EXPECT_EQ(DumpChain(chain, 0x60), "=== [#1] Attributes for MFT = $28 (40) ====\n" + kEquals);
}

TEST(DumpRecordAttributes, FirstAttributeOffsetOutsideTheRecordListsNothing) {
  RecordChain chain;
  uint8_t* image = NewRecord(chain, 40);
  AddResident(image, AT_DATA, 0, 0);
  PutLE16(image + record::kFirstAttribute, 1023);
  EXPECT_EQ(DumpChain(chain), "=== [#1] Attributes for MFT = $28 (40) ====\n" + kEquals);
}

TEST(DumpRecordAttributes, RecordSizeBelowTheHeaderPrintsNothing) {
  RecordChain chain;
  AllocRecordBuffer(0x20, chain);
  EXPECT_EQ(DumpChain(chain, 0x20), "");
}

TEST(AttributeTypeName, NamesEveryKnownTypeAndNoOther) {
  const std::pair<uint32_t, const char*> known[] = {
      {0x10, "AT_STANDARD_INFORMATION"}, {0x20, "AT_ATTRIBUTE_LIST"},
      {0x30, "AT_FILE_NAME"},            {0x40, "AT_VOLUME_VERSION"},
      {0x50, "AT_SECURITY_DESCRIPTOR"},  {0x60, "AT_VOLUME_NAME"},
      {0x70, "AT_VOLUME_INFORMATION"},   {0x80, "AT_DATA"},
      {0x90, "AT_INDEX_ROOT"},           {0xA0, "AT_INDEX_ALLOCATION"},
      {0xB0, "AT_BITMAP"},               {0xC0, "AT_SYMBOLIC_LINK"},
      {0xD0, "AT_EA_INFORMATION"},       {0xE0, "AT_EA"},
      {0x1000, "AT_OSK_FILEDES"}};
  for (const auto& [type, name] : known) EXPECT_STREQ(AttributeTypeName(type), name) << type;
  for (const uint32_t other : {0x0u, 0x11u, 0xF0u, 0x100u, 0x2000u, 0xFFFFFFFFu}) {
    EXPECT_STREQ(AttributeTypeName(other), "UNKNOWN_ATTRIBUTE") << other;
  }
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

TEST(DumpIndexEntry, EndEntryWithSubNodeIsOneLine) {
  EXPECT_EQ(DumpEntry(EndEntry(0x03)),
            " ->IS LAST (REC SIZE = 24) NEXT MFT = 00000000 ->HAS SUBNODES\n");
}

TEST(DumpIndexEntry, LastEntryShowsItsReferenceInEightHexDigits) {
  EXPECT_EQ(DumpEntry(EndEntry(0x02, 0x25)), " ->IS LAST (REC SIZE = 24) NEXT MFT = 00000025\n");
}

TEST(DumpIndexEntry, NamedEntryShowsItsName) {
  EXPECT_EQ(DumpEntry(NamedEntry("Readme.txt", 40)), "File Name: \"Readme.txt\"\n");
  EXPECT_EQ(DumpEntry(NamedEntry("a b", 40, ie::kHasSubNode)),
            "File Name: \"a b\" ->HAS SUBNODES\n");
}

TEST(DumpIndexEntry, NameBytesAbove0x7FArePrintedUnchanged) {
  EXPECT_EQ(DumpEntry(NamedEntry("caf\xE9", 40)), "File Name: \"caf\xE9\"\n");
}

TEST(DumpIndexEntry, NamedLastEntryShowsTheLastEntryText) {
  EXPECT_EQ(DumpEntry(NamedEntry("zz", 0x1234, ie::kLast)),
            " ->IS LAST (REC SIZE = 94) NEXT MFT = 00001234\n");
}

TEST(DumpIndexEntry, NoEntry) {
  EXPECT_EQ(Captured([] { DumpIndexEntry(nullptr); }), "Illegal \"indx_entry\" given\n");
}

TEST(DumpIndexEntry, KeylessEntryWithoutLastFlagHasAnEmptyName) {
  EXPECT_EQ(DumpEntry(EndEntry(0x00)), "File Name: \"\"\n");
}

TEST(DumpIndexEntry, NameLengthBeyondTheEntryIsCutToTheEntry) {
  Bytes e = NamedEntry("abc", 40);
  e[ie::kNameLength] = 200;
  const std::string out = DumpEntry(e);
  EXPECT_EQ(out.substr(0, 15), "File Name: \"abc");
  EXPECT_EQ(out.size(), std::string("File Name: \"\"\n").size() + (e.size() - ie::kName) / 2);
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

TEST(DumpIndexBlock, FreshBlockShowsItsSizesAndEndEntry) {
  Bytes block(4096);
  BuildEmptyBlock(block.data(), 4096, 512, 0);
  EXPECT_EQ(DumpBlock(block), BlockFrame(block.data(), 4072, 166) +
                                  " ->IS LAST (REC SIZE = 24) NEXT MFT = 00000000\n" + kStars);
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

TEST(DumpIndexBlock, EntryOfLengthZeroEndsTheListing) {
  Bytes block = BlockWith({NamedEntry("alpha", 40), NamedEntry("beta", 41), EndEntry()});
  PutLE16(block.data() + BlockEntriesStart(block.data()) + NamedEntrySize(5) + ie::kLength, 0);
  EXPECT_EQ(DumpBlock(block), BlockFrame(block.data(), 4072, BlockBytesInUse(block.data())) +
                                  "File Name: \"alpha\"\n" + kStars);
}

TEST(DumpIndexBlock, EntryLeavingTheBufferEndsTheListing) {
  Bytes block = BlockWith({NamedEntry("alpha", 40), EndEntry()});
  PutLE16(block.data() + BlockEntriesStart(block.data()) + ie::kLength, 0xFFFF);
  EXPECT_EQ(DumpBlock(block),
            BlockFrame(block.data(), 4072, BlockBytesInUse(block.data())) + kStars);
}

TEST(DumpIndexBlock, NodeWithoutLastEntryStopsAtTheEndOfTheBuffer) {
  Bytes block(0x200, 0);
  std::memcpy(block.data(), "INDX", 4);
  PutLE32(block.data() + indx::kEntriesOffset, 0x10);
  PutLE32(block.data() + indx::kBytesInUse, 0x1E8);
  PutLE32(block.data() + indx::kBytesAllocated, 0x1E8);
  // Named entries of 0x5E bytes from 0x28 on, none of them last: five fit.
  for (uint32_t at = 0x28; at + NamedEntrySize(2) <= block.size(); at += NamedEntrySize(2)) {
    const Bytes e = NamedEntry("nm", 40);
    std::memcpy(block.data() + at, e.data(), e.size());
  }
  std::string expected = BlockFrame(block.data(), 0x1E8, 0x1E8);
  for (int i = 0; i < 5; ++i) expected += "File Name: \"nm\"\n";
  EXPECT_EQ(DumpBlock(block), expected + kStars);
}

TEST(DumpIndexBlock, EntryEndingBeforeItsNameFieldsAtTheBufferEndListsNothing) {
  // A 0x20-byte entry claiming a key, closing a 0x48-byte buffer: the name
  // length byte it would carry at 0x50 lies beyond the buffer.
  Bytes block(0x48, 0);
  std::memcpy(block.data(), "INDX", 4);
  PutLE32(block.data() + indx::kEntriesOffset, 0x10);
  PutLE32(block.data() + indx::kBytesInUse, 0x30);
  PutLE32(block.data() + indx::kBytesAllocated, 0x30);
  PutLE16(block.data() + 0x28 + ie::kLength, 0x20);
  block[0x28 + ie::kFlags] = ie::kLast;
  EXPECT_EQ(DumpBlock(block), BlockFrame(block.data(), 0x30, 0x30) + kStars);
}

TEST(DumpIndexBlock, EntriesOffsetBeyondTheBufferListsNothing) {
  Bytes block(4096);
  BuildEmptyBlock(block.data(), 4096, 512, 0);
  PutLE32(block.data() + indx::kEntriesOffset, 0xFFF0);
  EXPECT_EQ(DumpBlock(block), BlockFrame(block.data(), 4072, 166) + kStars);
}

TEST(DumpIndexBlock, BufferShorterThanTheHeaderShowsOnlyTheFrame) {
  const Bytes block(0x10, 0);
  EXPECT_EQ(DumpBlock(block), kStars + "* indx_alloc = $" + AddressOf(block.data()) + "\n" +
                                  kStars + kStars);
}

TEST(IndexBlockTrace, WriteAndWrongReadLines) {
  EXPECT_EQ(Captured([] { TraceIndexBlockWrite(3, 12288); }), "WRITING INDX VCN=3 OFFSET=12288\n");
  EXPECT_EQ(Captured([] { TraceIndexBlockReadWrong(3, 12288); }),
            "READING VCN=3 OFFSET=12288 INDX_ALLOC WRONG!!! \n");
}

}  // namespace
}  // namespace vrax
