// The readable dumps on standard output, compared with the transcript in
// golden/dump.txt (set VRAX_UPDATE_GOLDEN=1 to rewrite it after a deliberate
// change). Damaged structures end a listing without reading past the buffer
// handed over: each such buffer is a heap block of exactly that size, so an
// over-read shows under AddressSanitizer.
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

#include "support/temp_file.h"
#include "volume/dump/dump.h"
#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;

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

class DumpTranscript {
 public:
  // Adds what `dump` prints under a heading, block addresses masked and
  // bytes outside printable ASCII written as \xNN.
  void Add(const std::string& heading, const std::function<void()>& dump) {
    ::testing::internal::CaptureStdout();
    dump();
    std::fflush(stdout);
    std::string out;
    for (const char c : ::testing::internal::GetCapturedStdout()) {
      const auto byte = static_cast<unsigned char>(c);
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += (byte >= 0x20 && byte < 0x7F) || c == '\n' ? std::string(1, c) : hex;
    }
    text_ += "== " + heading + "\n" +
             std::regex_replace(out, std::regex("indx_alloc = \\$[0-9a-f]{8}"), "indx_alloc = $ADDR");
  }
  void AddList(const std::string& heading, const Bytes& list) {
    Add(heading, [&] { DumpAttributeList(list.data(), static_cast<uint32_t>(list.size())); });
  }
  void AddChain(const std::string& heading, const RecordChain& chain, uint32_t size = 1024) {
    Add(heading, [&] { DumpRecordAttributes(chain, size); });
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

TEST(Dump, OutputMatchesTheGoldenTranscript) {
  DumpTranscript t;
  // Attribute lists: entries in order, wide fields not cut; an entry of
  // length zero, running past the piece, or cut by the piece's end ends
  // the listing.
  t.AddList("list of three", ListOf({Listed(0x10, 5, 0), Listed(0x30, 5, 1),
                                     Listed(0x80, 4660, 3, 123456)}));
  Bytes wide = ListOf({Listed(0x1000, 37, 2)});
  wide.resize(0x28, 0);
  PutLE16(wide.data() + 0x04, 0x28);
  wide[0x06] = 4;
  wide[0x07] = 0x1A;
  t.AddList("list entry with a name", wide);
  t.Add("no list", [] { DumpAttributeList(nullptr, 0); });
  const Bytes two = ListOf({Listed(0x80, 37, 2), Listed(0x90, 38, 3)});
  std::vector<Bytes> damaged = {two, two, Bytes(two.begin(), two.begin() + 0x21),
                                Bytes(two.begin(), two.begin() + 0x3F)};
  PutLE16(damaged[0].data() + 0x24, 0);
  PutLE16(damaged[1].data() + 0x24, 0x21);
  for (size_t i = 0; i < damaged.size(); ++i) {
    t.AddList("list damaged after its first entry " + std::to_string(i), damaged[i]);
  }

  // Record attributes of each record in chain order.
  RecordChain chain;
  uint8_t* base = NewRecord(chain, 37);
  AddResident(base, AT_FILE_NAME, 0x48, 0);
  AddNonResident(base, AT_DATA, 3, 8192, 5000, 4999);
  AddResident(base, 0x2000, 4, 0);
  AddResident(NewRecord(chain, 0x1234), AT_OSK_FILEDES, 20, 7);
  t.AddChain("chain of two records", chain);
  // An attribute of length zero, one leaving the record, a first attribute
  // outside the record or a non-resident one too short for its sizes ends
  // the walk; a count beyond the attributes stops at the end marker.
  const std::function<void(uint8_t*)> damages[] = {
      [](uint8_t* r) { SetAttrLength(r + RecordFirstAttribute(r), 0); },
      [](uint8_t* r) { SetAttrLength(r + RecordFirstAttribute(r), 0xFFFFFF00u); },
      [](uint8_t* r) { PutLE16(r + record::kFirstAttribute, 1023); },
      [](uint8_t* r) { SetRecordAttributeCount(r, 500); },
  };
  for (size_t i = 0; i < std::size(damages); ++i) {
    RecordChain one;
    uint8_t* image = NewRecord(one, 40);
    AddResident(image, AT_DATA, 0, 0);
    damages[i](image);
    t.AddChain("damaged record " + std::to_string(i), one);
  }
  RecordChain shortRecord;
  AddAttribute(NewRecord(shortRecord, 40, 0x60), AT_DATA, 0x20, 0)[attr::kNonResident] = 1;
  t.AddChain("non-resident attribute short of its sizes", shortRecord, 0x60);
  RecordChain tiny;
  AllocRecordBuffer(0x20, tiny);
  t.AddChain("record too small for a header", tiny, 0x20);

  // Index entries: one line each; a name longer than its entry is cut.
  Bytes overlong = NamedEntry("abc", 40);
  overlong[ie::kNameLength] = 200;
  const std::pair<const char*, Bytes> entries[] = {
      {"end entry with a sub-node", EndEntry(0x03)},
      {"end entry", EndEntry(0x02, 0x25)},
      {"keyless entry not last", EndEntry(0x00)},
      {"name with a high byte", NamedEntry("caf\xE9", 40)},
      {"name with a sub-node", NamedEntry("a b", 40, ie::kHasSubNode)},
      {"named last entry", NamedEntry("zz", 0x1234, ie::kLast)},
      {"name longer than its entry", overlong},
  };
  for (const auto& [heading, entry] : entries) t.AddEntry(heading, entry);
  t.Add("no entry", [] { DumpIndexEntry(nullptr); });

  // Index blocks list entries through the last one; an entry of length
  // zero or leaving the block, or entries beyond the block, end it.
  t.AddBlock("block", BlockWith({NamedEntry("alpha", 40, ie::kHasSubNode), NamedEntry("beta", 41),
                                 EndEntry(), NamedEntry("ghost", 42)}));
  Bytes zero = BlockWith({NamedEntry("alpha", 40), NamedEntry("beta", 41), EndEntry()});
  PutLE16(zero.data() + BlockEntriesStart(zero.data()) + NamedEntrySize(5) + ie::kLength, 0);
  t.AddBlock("second entry of length zero", zero);
  Bytes leaving = BlockWith({NamedEntry("alpha", 40), EndEntry()});
  PutLE16(leaving.data() + BlockEntriesStart(leaving.data()) + ie::kLength, 0xFFFF);
  t.AddBlock("entry leaving the block", leaving);
  Bytes offset(4096);
  BuildEmptyBlock(offset.data(), 4096, 512, 0);
  PutLE32(offset.data() + indx::kEntriesOffset, 0xFFF0);
  t.AddBlock("entries beyond the block", offset);
  t.AddBlock("block too small for a header", Bytes(0x10, 0));
  // Without a last entry the listing stops where the buffer ends: named
  // entries of 0x5E bytes from 0x28 on, five fit.
  Bytes open = RawNode(0x200, 0x1E8);
  for (uint32_t at = 0x28; at + NamedEntrySize(2) <= open.size(); at += NamedEntrySize(2)) {
    const Bytes e = NamedEntry("nm", 40);
    std::memcpy(open.data() + at, e.data(), e.size());
  }
  t.AddBlock("no last entry", open);
  // A 0x20-byte entry claims a key whose name length would be at 0x50.
  Bytes cut = RawNode(0x48, 0x30);
  PutLE16(cut.data() + 0x28 + ie::kLength, 0x20);
  cut[0x28 + ie::kFlags] = ie::kLast;
  t.AddBlock("name fields beyond the buffer", cut);

  t.Add("trace lines", [] {
    TraceIndexBlockWrite(3, 12288);
    TraceIndexBlockReadWrong(3, 12288);
  });
  t.ExpectGolden("dump.txt");
}

}  // namespace
}  // namespace vrax
