// The readable dumps on standard output, compared with the transcript in
// golden/dump.txt (set VRAX_UPDATE_GOLDEN=1 to rewrite it after a deliberate
// change).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "helpers.h"
#include "support/volume_fixture.h"
#include "volume/dump/dump.h"
#include "volume/format/attribute.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

// The dump shows the allocation's heap address ("indx_alloc = $xxxxxxxx"),
// which differs from run to run.
std::string MaskedAddress(std::string text) {
  const std::string key = "indx_alloc = $";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
    at += key.size();
    text.replace(at, std::min<size_t>(8, text.size() - at), "ADDR");
  }
  return text;
}

using test::Bytes;
using test::EndEntry;
using test::Listed;
using test::NamedEntry;

Bytes ListOf(std::initializer_list<AttributeListEntry> entries) {
  Bytes list;
  for (const AttributeListEntry& e : entries) {
    list.resize(list.size() + kAttributeListEntrySize);
    EncodeAttributeListEntry(list.data() + list.size() - kAttributeListEntrySize, e);
  }
  return list;
}

uint8_t* NewRecord(RecordChain& chain, uint32_t number) {
  RecordBuffer* b = AllocRecordBuffer(1024, chain);
  b->recordNumber = number;
  BuildEmptyRecord(b->image, 1024, 512);
  return b->image;
}

class DumpTranscript {
 public:
  void Add(const std::string& heading, const std::function<void()>& dump) {
    const std::string out = test::CapturedStdout([&] {
      dump();
      std::fflush(stdout);
    });
    text_ += "== " + heading + "\n" + MaskedAddress(out);
  }
  void AddList(const std::string& heading, const Bytes& list) {
    Add(heading, [&] { DumpAttributeList(list.data(), static_cast<uint32_t>(list.size())); });
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
  test::AppendResident(base, AT_FILE_NAME, 0x48);
  uint8_t* data = test::AppendNonResident(base, AT_DATA, {0x11, 0x02, 0x64, 0x00});
  PutLE16(data + attr::kIdentifier, 3);
  SetAttrAllocatedSize(data, 8192);
  SetAttrDataSize(data, 5000);
  SetAttrInitializedSize(data, 4999);
  test::AppendResident(base, 0x2000, 4);
  PutLE16(test::AppendResident(NewRecord(chain, 0x1234), AT_OSK_FILEDES, 20) + attr::kIdentifier, 7);
  t.Add("chain of two records", [&] { DumpRecordAttributes(chain, 1024); });
  RecordChain damagedRecord;
  SetAttrLength(test::AppendResident(NewRecord(damagedRecord, 40), AT_DATA, 0), 0);
  t.Add("damaged record", [&] { DumpRecordAttributes(damagedRecord, 1024); });

  Bytes end = EndEntry(true, 7);
  PutLE32(end.data(), 0x25);
  t.Add("end entry with a sub-node", [&] { DumpIndexEntry(end.data()); });
  const Bytes named = NamedEntry("a b", 40, ie::kHasSubNode);
  t.Add("name with a sub-node", [&] { DumpIndexEntry(named.data()); });

  // Index blocks list entries through the last one; an entry of length
  // zero ends the listing.
  t.AddBlock("block", test::BlockWith(4096, 512, 0,
                                       {NamedEntry("alpha", 40, ie::kHasSubNode),
                                        NamedEntry("beta", 41), EndEntry(), NamedEntry("ghost", 42)}));
  Bytes zero =
      test::BlockWith(4096, 512, 0, {NamedEntry("alpha", 40), NamedEntry("beta", 41), EndEntry()});
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
