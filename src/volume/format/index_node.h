// Directory index nodes: index entries, the index root value and INDX blocks.
//
// Index entry:
//   offset   size     field
//   0x00     8        file reference (low 32 bits = record number)
//   0x08     2        entry length, sub-node field included
//   0x0A     2        key length (0, never read)
//   0x0C     1        flags: 0x01 has a sub-node, 0x02 last entry of its node
//   0x10     0x42+2n  key: a file name value (file_name.h); name at 0x52
//   length-8 8        sub-node VCN (meaningful with flag 0x01)
// A named entry written by the engine is 2n + 0x5A bytes; the end entry is
// 0x18 bytes; any entry of 0x18 bytes or less is keyless.
//
// Index root value (resident AT_INDEX_ROOT "$I30"): the first entry at 0x20.
// A new root is 0x38 bytes: 0x20 zero bytes and one end entry.
//
// INDX block (index block size B):
//   0x00 4 magic "INDX"          0x18 4 entries offset, relative to 0x18
//   0x04 2 update sequence 0x28  0x1C 4 bytes in use, relative to 0x18
//   0x06 2 count s + 1           0x20 4 bytes allocated, relative to 0x18
//   0x08 8 log sequence number 0 0x24 4 flags 0
//   0x10 8 the block's own VCN   0x28 2(s+1) update sequence array
#pragma once

#include <cstdint>

#include "volume/format/bytes.h"

namespace vrax {

namespace ie {
constexpr uint32_t kReference = 0x00;
constexpr uint32_t kLength = 0x08;
constexpr uint32_t kKeyLength = 0x0A;
constexpr uint32_t kFlags = 0x0C;
constexpr uint32_t kKey = 0x10;
constexpr uint32_t kNameLength = 0x50;
constexpr uint32_t kNameSpace = 0x51;
constexpr uint32_t kName = 0x52;
constexpr uint32_t kEndEntrySize = 0x18;
constexpr uint32_t kMinEntry = 0x10;
constexpr uint8_t kHasSubNode = 0x01;
constexpr uint8_t kLast = 0x02;
constexpr uint32_t kRootFirstEntry = 0x20;
constexpr uint32_t kNewRootSize = 0x38;
}  // namespace ie

namespace indx {
constexpr uint32_t kVcn = 0x10;
constexpr uint32_t kNodeHeader = 0x18;
constexpr uint32_t kEntriesOffset = 0x18;
constexpr uint32_t kBytesInUse = 0x1C;
constexpr uint32_t kBytesAllocated = 0x20;
constexpr uint32_t kUsa = 0x28;
}  // namespace indx

inline uint32_t EntryRecord(const uint8_t* e) { return GetLE32(e + ie::kReference); }
inline uint16_t EntryLength(const uint8_t* e) { return GetLE16(e + ie::kLength); }
inline uint8_t EntryFlags(const uint8_t* e) { return e[ie::kFlags]; }
inline bool EntryHasSubNode(const uint8_t* e) { return (e[ie::kFlags] & ie::kHasSubNode) != 0; }
inline bool EntryIsLast(const uint8_t* e) { return (e[ie::kFlags] & ie::kLast) != 0; }
inline bool EntryIsKeyless(const uint8_t* e) { return EntryLength(e) <= ie::kEndEntrySize; }
inline uint32_t EntrySubNode(const uint8_t* e) { return GetLE32(e + EntryLength(e) - 8); }
inline void SetEntrySubNode(uint8_t* e, uint32_t vcn) { PutLE64(e + EntryLength(e) - 8, vcn); }
inline uint8_t EntryNameLength(const uint8_t* e) { return e[ie::kNameLength]; }
// Stored names are compared and copied through the low byte of each unit.
inline char EntryNameChar(const uint8_t* e, uint32_t i) {
  return static_cast<char>(e[ie::kName + 2 * i]);
}

inline uint32_t NamedEntrySize(uint32_t nameLength) { return 2 * nameLength + 0x5A; }

inline bool HasIndexMagic(const uint8_t* b) {
  return b[0] == 'I' && b[1] == 'N' && b[2] == 'D' && b[3] == 'X';
}
inline uint32_t BlockVcn(const uint8_t* b) { return GetLE32(b + indx::kVcn); }
inline uint32_t BlockEntriesOffset(const uint8_t* b) { return GetLE16(b + indx::kEntriesOffset); }
inline uint32_t BlockBytesInUse(const uint8_t* b) { return GetLE32(b + indx::kBytesInUse); }
inline void SetBlockBytesInUse(uint8_t* b, uint32_t v) { PutLE32(b + indx::kBytesInUse, v); }
inline uint32_t BlockBytesAllocated(const uint8_t* b) { return GetLE32(b + indx::kBytesAllocated); }

// Writes an end entry (length 0x18, flags 0x02, or 0x03 with a sub-node).
void WriteEndEntry(uint8_t* at, bool hasSubNode, uint32_t subNodeVcn);

// Builds the 0x38-byte value of an empty index root into `out`.
void BuildEmptyRoot(uint8_t* out);

// Builds an empty INDX block of `blockSize` bytes for block VCN `vcn`
// (header, update sequence array with count blockSize / bytesPerSector + 1,
// one end entry). The image is in memory form: apply the fix-ups to write it.
void BuildEmptyBlock(uint8_t* out, uint32_t blockSize, uint32_t bytesPerSector, uint32_t vcn);

// Checks the header of a block read from disk (after its fix-ups) against
// the block size: entries, bytes in use and bytes allocated inside the block.
bool BlockHeaderIsSound(const uint8_t* block, uint32_t blockSize);

// The entries of one node, walked by their lengths until the entry with the
// last flag. Next() never reads outside [start, end): an entry that does not
// fit, cannot advance, lacks room for its name or sub-node field, or a node
// that ends without a last entry sets malformed() and ends the walk.
class IndexEntryWalk {
 public:
  IndexEntryWalk(uint8_t* node, uint32_t start, uint32_t end)
      : node_(node), pos_(start), end_(end) {}
  uint8_t* Next();
  bool malformed() const { return malformed_; }
  uint32_t offset() const { return current_; }  // node offset of the entry Next() gave

 private:
  uint8_t* node_;
  uint32_t pos_;
  uint32_t end_;
  uint32_t current_ = 0;
  bool done_ = false;
  bool malformed_ = false;
};

// The entry region of a block (after BlockHeaderIsSound): first entry
// offset and the end of the bytes in use.
inline uint32_t BlockEntriesStart(const uint8_t* b) { return indx::kNodeHeader + BlockEntriesOffset(b); }
inline uint32_t BlockEntriesEnd(const uint8_t* b) { return indx::kNodeHeader + BlockBytesInUse(b); }

}  // namespace vrax
