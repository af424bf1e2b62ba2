// The readable dumps on standard output, compared with the transcript in
// golden/dump.txt (set VRAX_UPDATE_GOLDEN=1 to rewrite it after a deliberate
// change).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "helpers.h"
#include "support/volume_fixture.h"
#include "volume/dump/dump.h"
#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

using test::Bytes;
using test::EndEntry;
using test::NamedEntry;

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
  SetBlockBytesInUse(block.data(), at);
  return block;
}

class DumpTranscript {
 public:
  // Adds what `dump` prints under a heading, block addresses masked.
  void Add(const std::string& heading, const std::function<void()>& dump) {
    const std::string out = test::CapturedStdout([&] {
      dump();
      std::fflush(stdout);
    });
    text_ += "== " + heading + "\n" +
             std::regex_replace(out, std::regex("indx_alloc = \\$[0-9a-f]{8}"), "indx_alloc = $ADDR");
  }
  void AddList(const std::string& heading, const Bytes& list) {
    Add(heading, [&] { DumpAttributeList(list.data(), static_cast<uint32_t>(list.size())); });
  }
  void AddChain(const std::string& heading, const RecordChain& chain) {
    Add(heading, [&] { DumpRecordAttributes(chain, 1024); });
  }
  void AddEntry(const std::string& heading, const Bytes& entry) {
    Add(heading, [&] { DumpIndexEntry(entry.data()); });
  }
  void AddBlock(const std::string& heading, const Bytes& block) {
    Add(heading, [&] { DumpIndexBlock(block.data(), static_cast<uint32_t>(block.size())); });
  }

  void ExpectGolden(const std::string& name) {
    const std::string path =
        (std::filesystem::path(__FILE__).parent_path() / "golden" / name).string();
    if (std::getenv("VRAX_UPDATE_GOLDEN") != nullptr) {
      test::WriteFileBytes(path, Bytes(text_.begin(), text_.end()));
    }
    const Bytes golden = test::ReadFileBytes(path);
    EXPECT_EQ(text_, std::string(golden.begin(), golden.end())) << path;
  }

 private:
  std::string text_;
};

// One sound and one damaged structure of each kind.
TEST(Dump, OutputMatchesTheGoldenTranscript) {
  DumpTranscript t;
  // Attribute lists: entries in order, wide fields not cut; an entry of
  // length zero ends the listing.
  t.AddList("list of three", ListOf({Listed(0x10, 5, 0), Listed(0x30, 5, 1),
                                     Listed(0x80, 4660, 3, 123456)}));
  Bytes damagedList = ListOf({Listed(0x80, 37, 2), Listed(0x90, 38, 3)});
  PutLE16(damagedList.data() + 0x24, 0);
  t.AddList("list damaged after its first entry", damagedList);

  // Record attributes of each record in chain order; an attribute of length
  // zero ends the walk.
  RecordChain chain;
  uint8_t* base = NewRecord(chain, 37);
  AddResident(base, AT_FILE_NAME, 0x48, 0);
  AddNonResident(base, AT_DATA, 3, 8192, 5000, 4999);
  AddResident(base, 0x2000, 4, 0);
  AddResident(NewRecord(chain, 0x1234), AT_OSK_FILEDES, 20, 7);
  t.AddChain("chain of two records", chain);
  RecordChain damagedRecord;
  uint8_t* image = NewRecord(damagedRecord, 40);
  AddResident(image, AT_DATA, 0, 0);
  SetAttrLength(image + RecordFirstAttribute(image), 0);
  t.AddChain("damaged record", damagedRecord);

  // Index entries: one line each.
  Bytes end = EndEntry(true, 7);
  PutLE32(end.data(), 0x25);
  t.AddEntry("end entry with a sub-node", end);
  t.AddEntry("name with a sub-node", NamedEntry("a b", 40, ie::kHasSubNode));

  // Index blocks list entries through the last one; an entry of length
  // zero ends the listing.
  t.AddBlock("block", BlockWith({NamedEntry("alpha", 40, ie::kHasSubNode), NamedEntry("beta", 41),
                                 EndEntry(), NamedEntry("ghost", 42)}));
  Bytes zero = BlockWith({NamedEntry("alpha", 40), NamedEntry("beta", 41), EndEntry()});
  PutLE16(zero.data() + BlockEntriesStart(zero.data()) + NamedEntrySize(5) + ie::kLength, 0);
  t.AddBlock("second entry of length zero", zero);

  t.Add("trace lines", [] {
    TraceIndexBlockWrite(3, 12288);
    TraceIndexBlockReadWrong(3, 12288);
  });
  t.ExpectGolden("dump.txt");
}

}  // namespace
}  // namespace vrax
