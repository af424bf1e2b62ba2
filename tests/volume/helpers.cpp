#include "helpers.h"

#include <cstring>
#include <random>

#include "support/volume_fixture.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/format/attribute.h"
#include "volume/format/bytes.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"
#include "volume/index/index.h"
#include "volume/toolkit/toolkit.h"

namespace vrax::test {

int32_t CreatePath(const std::string& path) {
  Toolkit* t = nullptr;
  const int32_t error = ToolkitCreateFile(t, path.c_str());
  ToolkitClose(t);
  return error;
}

int32_t WritePath(const std::string& path, uint32_t offset, const Bytes& data) {
  Toolkit* t = nullptr;
  int32_t error = ToolkitOpen(t, path.c_str());
  if (error != 0) error = ToolkitCreateFile(t, path.c_str());
  uint32_t done = 0;
  if (error == 0)
    error = FileWrite(t, offset, static_cast<uint32_t>(data.size()), data.data(), done);
  ToolkitClose(t);
  return error;
}

int32_t TruncatePath(const std::string& path, uint32_t size) {
  Toolkit* t = nullptr;
  int32_t error = ToolkitOpen(t, path.c_str());
  if (error == 0) error = FileTruncate(t, size);
  ToolkitClose(t);
  return error;
}

Bytes ReadPath(const std::string& path) {
  Toolkit* t = nullptr;
  Bytes data;
  if (ToolkitOpen(t, path.c_str()) == 0) {
    uint32_t size = 0, done = 0;
    FileSize(t, size);
    data.resize(size);
    FileRead(t, 0, size, data.data(), done);
    data.resize(done);
  }
  ToolkitClose(t);
  return data;
}

uint32_t RecordOfPath(const std::string& path) {
  Toolkit* t = nullptr;
  uint32_t n = 0;
  if (ToolkitOpen(t, path.c_str()) == 0) n = OpenedRecordNumber(t);
  ToolkitClose(t);
  return n;
}

std::vector<std::string> NamesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : ListEntries(dir)) names.push_back(entry.first);
  return names;
}

namespace {
void ReadTreeInto(const std::string& dir, Tree& tree) {
  for (const std::string& name : NamesIn(dir)) {
    const std::string path = dir + "/" + name;
    Toolkit* f = nullptr;
    if (ToolkitOpen(f, path.c_str()) != 0) {
      tree[path] = Bytes{'?'};
    } else if (IsDirectory(f)) {
      tree[path + "/"] = Bytes{};
      ReadTreeInto(path, tree);
    } else {
      tree[path] = ReadPath(path);
    }
    ToolkitClose(f);
  }
}
}  // namespace

Tree ReadTree(const std::string& dir) {
  Tree tree;
  ReadTreeInto(dir, tree);
  return tree;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  Bytes bytes(size);
  std::mt19937 random(seed);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

Bytes NamedEntry(const std::string& name, uint32_t record, uint8_t flags, uint32_t subNode) {
  Bytes e(NamedEntrySize(static_cast<uint32_t>(name.size())), 0);
  PutLE32(e.data() + ie::kReference, record);
  PutLE16(e.data() + ie::kLength, static_cast<uint16_t>(e.size()));
  e[ie::kFlags] = flags;
  PutLE32(e.data() + ie::kKey, 5);
  e[ie::kNameLength] = static_cast<uint8_t>(name.size());
  e[ie::kNameSpace] = 3;
  for (size_t i = 0; i < name.size(); ++i) e[ie::kName + 2 * i] = static_cast<uint8_t>(name[i]);
  if (flags & ie::kHasSubNode) PutLE64(e.data() + e.size() - 8, subNode);
  return e;
}

Bytes EndEntry(bool hasSubNode, uint32_t vcn) {
  Bytes e(ie::kEndEntrySize, 0);
  WriteEndEntry(e.data(), hasSubNode, vcn);
  return e;
}

Bytes BlockWith(uint32_t size, uint32_t bytesPerSector, uint32_t vcn,
                const std::vector<Bytes>& entries, uint32_t inUse) {
  Bytes block(size);
  BuildEmptyBlock(block.data(), size, bytesPerSector, vcn);
  uint32_t at = BlockEntriesStart(block.data());
  for (const Bytes& e : entries) {
    std::memcpy(block.data() + at, e.data(), e.size());
    at += static_cast<uint32_t>(e.size());
  }
  SetBlockBytesInUse(block.data(), inUse != 0 ? inUse : at);
  return block;
}

uint8_t* AppendAttribute(uint8_t* image, uint32_t type, uint32_t length) {
  const uint32_t at = RecordBytesInUse(image) - record::kEndMarkerSize;
  uint8_t* a = image + at;
  std::memset(a, 0, length + record::kEndMarkerSize);
  PutLE32(a + attr::kType, type);
  PutLE32(a + attr::kLength, length);
  PutLE32(a + length, record::kEndMarker);
  SetRecordBytesInUse(image, at + length + record::kEndMarkerSize);
  SetRecordAttributeCount(image, static_cast<uint16_t>(RecordAttributeCount(image) + 1));
  return a;
}

uint8_t* AppendResident(uint8_t* image, uint32_t type, uint16_t valueLength) {
  uint8_t* a =
      AppendAttribute(image, type, attr::kResidentHeader + ResidentValueSpace(type, valueLength));
  PutLE16(a + attr::kValueOffset, attr::kResidentHeader);
  SetAttrValueLength(a, valueLength);
  return a;
}

uint8_t* AppendNonResident(uint8_t* image, uint32_t type, const Bytes& runs) {
  const uint32_t length = (attr::kNonResidentHeader + static_cast<uint32_t>(runs.size()) + 4) & ~1u;
  uint8_t* a = AppendAttribute(image, type, length);
  a[attr::kNonResident] = 1;
  PutLE16(a + attr::kRunListOffset, attr::kNonResidentHeader);
  std::memcpy(a + attr::kNonResidentHeader, runs.data(), runs.size());
  return a;
}

AttributeListEntry Listed(uint32_t type, uint32_t record, uint16_t id, uint32_t firstVcn) {
  return {type, 0, 0, 0, firstVcn, record, id};
}

}  // namespace vrax::test
