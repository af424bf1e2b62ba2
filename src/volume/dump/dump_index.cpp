// Dumps of index entries and INDX blocks, and the index block trace lines
// (debugging aids).
#include <cstdio>

#include "volume/dump/dump.h"
#include "volume/dump/dump_lines.h"
#include "volume/format/index_node.h"

namespace vrax {

namespace {

// The number of name characters that lie inside the entry: a keyless entry
// has none, and a name length claiming more than the entry holds is cut to
// the entry, so the dump reads nothing beyond the entry's own length.
uint32_t NameCharsInside(const uint8_t* entry) {
  if (EntryIsKeyless(entry) || EntryLength(entry) < ie::kName) return 0;
  const uint32_t room = (EntryLength(entry) - ie::kName) / 2;
  const uint32_t n = EntryNameLength(entry);
  return n < room ? n : room;
}

void PrintEntryName(const uint8_t* entry) {
  std::printf("File Name: \"");
  const uint32_t n = NameCharsInside(entry);
  for (uint32_t i = 0; i < n; ++i) {
    std::printf("%c", static_cast<int>(static_cast<signed char>(EntryNameChar(entry, i))));
  }
  std::printf("\"");
}

void PrintBlockHeader(const uint8_t* block, uint32_t blockSize) {
  std::printf("%s", dump::kStarLine);
  // The address identifies the buffer in memory, not a place on the disk.
  std::printf("* indx_alloc = $%8.8x\n",
              static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block)));
  if (InBounds(0, indx::kBytesAllocated + 4, blockSize)) {
    std::printf("* Total Length: %u   IN_USE_LENGTH = %u\n", BlockBytesAllocated(block),
                BlockBytesInUse(block));
  }
  std::printf("%s", dump::kStarLine);
}

}  // namespace

// Reads the entry's fixed header and, for a named entry, only the name
// characters that fit inside its length.
void DumpIndexEntry(const uint8_t* entry) {
  if (entry == nullptr) {
    std::printf("Illegal \"indx_entry\" given\n");
    return;
  }
  if (!EntryIsLast(entry)) {
    PrintEntryName(entry);
  } else {
    std::printf(" ->IS LAST (REC SIZE = %d) NEXT MFT = %8.8x",
                static_cast<int>(EntryLength(entry)), EntryRecord(entry));
  }
  if (EntryHasSubNode(entry)) std::printf(" ->HAS SUBNODES");
  std::printf("\n");
}

// Walks the entries from the first one through the last entry with the
// shared bounds-checked entry walk, limited to the `blockSize` bytes of the
// buffer rather than to the block's own bytes-in-use field, so a damaged
// header still shows what lies in the buffer. An entry of length 0, or one
// that would leave the buffer, ends the listing; the closing line follows.
void DumpIndexBlock(const uint8_t* block, uint32_t blockSize) {
  if (block == nullptr) blockSize = 0;
  PrintBlockHeader(block, blockSize);
  if (InBounds(0, indx::kEntriesOffset + 2, blockSize)) {
    // The walk only reads; it takes a mutable node because writers share it.
    IndexEntryWalk walk(const_cast<uint8_t*>(block), BlockEntriesStart(block), blockSize);
    while (const uint8_t* e = walk.Next()) DumpIndexEntry(e);
  }
  std::printf("%s", dump::kStarLine);
}

void TraceIndexBlockWrite(uint32_t vcn, uint32_t byteOffset) {
  std::printf("WRITING INDX VCN=%d OFFSET=%d\n", static_cast<int>(vcn),
              static_cast<int>(byteOffset));
}

void TraceIndexBlockReadWrong(uint32_t vcn, uint32_t byteOffset) {
  std::printf("READING VCN=%d OFFSET=%d INDX_ALLOC WRONG!!! \n", static_cast<int>(vcn),
              static_cast<int>(byteOffset));
}

}  // namespace vrax
