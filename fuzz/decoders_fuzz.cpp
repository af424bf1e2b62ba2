// Fuzz harness: the on-disk decoders alone, on arbitrary bytes: run lists
// (with a round trip through the encoder), FILE records with their fix-ups
// and attribute walks, attribute lists, index nodes, boot sectors, file
// names and descriptors. Each must stay inside the bytes it is given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/boot_sector.h"
#include "volume/format/descriptor.h"
#include "volume/format/file_name.h"
#include "volume/format/fixup.h"
#include "volume/format/index_node.h"
#include "volume/format/runlist.h"

namespace {

// Decoded runs encode to a list that decodes to the same runs.
void RunLists(const uint8_t* data, uint32_t size) {
  std::vector<vrax::ClusterRun> runs;
  if (!vrax::DecodeRunList(data, size, runs)) return;
  bool encodable = true;
  for (const vrax::ClusterRun& r : runs) encodable = encodable && r.lcn < (1u << 31) && r.length < (1u << 31);
  if (!encodable) return;
  std::vector<uint8_t> list = vrax::EncodeRunList(runs);
  list.push_back(0);
  std::vector<vrax::ClusterRun> again;
  if (!vrax::DecodeRunList(list.data(), static_cast<uint32_t>(list.size()), again) ||
      again.size() != runs.size()) {
    std::abort();
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    if (again[i].lcn != runs[i].lcn || again[i].length != runs[i].length) std::abort();
  }
}

void Record(std::vector<uint8_t> image) {
  if (image.size() < 1024) image.resize(1024);
  image.resize(1024);
  std::memcpy(image.data(), "FILE", 4);
  if (vrax::FixupAfterRead(image.data(), 1024) != 0) return;
  if (vrax::ValidateRecord(image.data(), 1024, 1u << 20) != 0) return;
  vrax::AttributeWalk walk(image.data(), 1024);
  while (uint8_t* a = walk.Next()) {
    if (vrax::AttrType(a) == vrax::AT_ATTRIBUTE_LIST && !vrax::AttrIsNonResident(a)) {
      uint32_t pos = 0;
      vrax::AttributeListEntry entry;
      while (vrax::DecodeAttributeListEntry(vrax::AttrValue(a), vrax::AttrValueLength(a), pos,
                                            entry) == vrax::ListStatus::kEntry) {
      }
    }
    if (vrax::AttrType(a) == vrax::AT_FILE_NAME && !vrax::AttrIsNonResident(a)) {
      std::string name;
      vrax::DecodeFileName(vrax::AttrValue(a), vrax::AttrValueLength(a), name);
    }
  }
  vrax::FixupBeforeWrite(image.data(), 1024);
}

void IndexBlock(std::vector<uint8_t> block) {
  block.resize(4096);
  std::memcpy(block.data(), "INDX", 4);
  if (vrax::FixupAfterRead(block.data(), 4096) != 0) return;
  if (!vrax::BlockHeaderIsSound(block.data(), 4096)) return;
  vrax::IndexEntryWalk walk(block.data(), vrax::BlockEntriesStart(block.data()),
                            vrax::BlockEntriesEnd(block.data()));
  while (const uint8_t* e = walk.Next()) {
    if (vrax::EntryIsLast(e)) break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto n = static_cast<uint32_t>(size);
  RunLists(data, n);
  vrax::BootSector boot;
  vrax::DecodeBootSector(data, n, boot);
  if (size >= vrax::kDescriptorSize) {
    vrax::Descriptor d;
    vrax::DecodeDescriptor(data, d);
  }
  std::string name;
  vrax::DecodeFileName(data, n, name);
  const std::vector<uint8_t> bytes(data, data + size);
  Record(bytes);
  IndexBlock(bytes);
  return 0;
}
