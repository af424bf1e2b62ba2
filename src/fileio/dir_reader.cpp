#include "fileio/dir_reader.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "fileio/stat_fill.h"
#include "platform/error_codes.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/toolkit/toolkit.h"

namespace vrax {

namespace {

// The name of an index entry as the directory stream gives it: one byte per
// character, cut at 28.
std::string EntryName(const uint8_t* e, bool& cut) {
  const uint32_t n = EntryNameLength(e);
  cut = n > kDirRecordNameSize;
  std::string name;
  for (uint32_t i = 0; i < n && i < kDirRecordNameSize; ++i) {
    const char c = static_cast<char>(EntryNameChar(e, i));
    if (c == '\0') break;
    name.push_back(c);
  }
  return name;
}

// Reads what is known of each entry from its record, by number: the same
// facts a stat of its path gives, without walking the path again. A name
// cut at 28 characters is not the name its record is found under, so it
// is known as a path that does not exist would be.
void ReadEntryInfo(VraxDir& dir, VRAX_FIND& find, const std::vector<uint32_t>& records,
                   const std::vector<bool>& cut) {
  Toolkit* t = dir.toolkit;
  find.info.resize(find.names.size());
  for (size_t i = 0; i < records.size(); ++i) {
    VraxEntryInfo& info = find.info[i];
    if (cut[i]) {
      info.result = kErrPathNotFound;
      continue;
    }
    FreeChain(t->fileChain);
    info.result = OpenRecord(t, t->fileChain, records[i]);
    if (info.result == kOk) info = OpenedRecordInfo(t);
  }
  FreeChain(t->fileChain);
}

}  // namespace

VraxDir::~VraxDir() { ToolkitClose(toolkit); }

// One walk of the index delivers every name; hidden names (a leading ".")
// are left out, and so is an empty name, which no open could use.
VRAX_FIND* readdir_vrax(VraxDir& dir) {
  auto find = std::make_unique<VRAX_FIND>();
  std::vector<uint32_t> records;
  std::vector<bool> cut;
  const int32_t error = IndexForEach(dir.toolkit, dir.toolkit->fileChain, [&](const uint8_t* e) {
    bool longer = false;
    std::string name = EntryName(e, longer);
    if (name.empty() || name[0] == '.') return kOk;
    find->names.push_back(std::move(name));
    records.push_back(EntryRecord(e));
    cut.push_back(longer);
    return kOk;
  });
  if (error != 0) {
    std::fprintf(stderr, "-> readdir_vrax() [%s] error: %d\n", dir.path.c_str(), error);
  }
  if (find->names.empty()) return nullptr;
  ReadEntryInfo(dir, *find, records, cut);
  return find.release();
}

}  // namespace vrax
