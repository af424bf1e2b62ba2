#include "fuzz_image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unordered_set>

#include "blockdev/block_device.h"
#include "blockdev/drive_table.h"
#include "platform/settings.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/run_lookup.h"
#include "volume/fileops/fileops.h"
#include "volume/format/fixup.h"
#include "volume/index/index_update.h"

namespace vrax::fuzz {

namespace {

constexpr size_t kMaxPatch = 32;

void Write(const std::string& path, uint32_t offset, size_t size, uint8_t seed) {
  Toolkit* t = nullptr;
  if (ToolkitOpen(t, path.c_str()) != 0 && ToolkitCreateFile(t, path.c_str()) != 0) return;
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
  uint32_t done = 0;
  FileWrite(t, offset, static_cast<uint32_t>(size), data.data(), done);
  ToolkitClose(t);
}

// Directories of one and two index levels, a nested directory, a resident
// file, a file of many runs whose data continues in extension records.
void Fill() {
  ToolkitMakeDirectory("/1/docs");
  ToolkitMakeDirectory("/1/docs/deep");
  Write("/1/small", 0, 100, 1);
  Write("/1/docs/deep/leaf.txt", 0, 3000, 2);
  for (int i = 0; i < 40; ++i) Write("/1/docs/file-" + std::to_string(100 + i), 0, 300, 3);
  for (uint32_t i = 0; i < 300; ++i) {
    Write("/1/frag", i * 1024, 1024, static_cast<uint8_t>(i));
    Write("/1/spacer", i * 1024, 1024, 9);
  }
}

// Disk offset of byte `byte` of the value of `type` in `chain`.
uint64_t DiskOffset(Toolkit* t, RecordChain& chain, uint32_t type, uint64_t byte) {
  uint32_t size = 0;
  AttributeSize(t, chain, type, size);
  RunCache run;
  const uint32_t vcn = static_cast<uint32_t>(byte / t->clusterSize);
  if (LookupDataRun(t, chain, type, vcn, size, run) != 0) return UINT64_MAX;
  return (static_cast<uint64_t>(run.lcn) + vcn - run.firstVcn) * t->clusterSize +
         byte % t->clusterSize;
}

void Locate(BaseImage& image) {
  Toolkit* root = nullptr;
  if (ToolkitOpen(root, "/1") != 0) return;
  image.recordSize = root->recordSize;
  image.blockSize = root->indexBlockSize;
  for (uint32_t n = 0; n < RecordsHeld(root); ++n) {
    const uint64_t at = DiskOffset(root, root->mftChain, AT_DATA, uint64_t{n} * root->recordSize);
    if (at != UINT64_MAX) image.records.push_back(at);
  }
  ToolkitClose(root);
  for (const char* dir : {"/1", "/1/docs", "/1/docs/deep"}) {
    Toolkit* t = nullptr;
    std::unordered_set<uint32_t> vcns;
    if (ToolkitOpen(t, dir) == 0 && ReachableIndexBlocks(t, t->fileChain, vcns) == 0) {
      for (const uint32_t vcn : vcns) {
        const uint64_t at =
            DiskOffset(t, t->fileChain, AT_INDEX_ALLOCATION, uint64_t{vcn} * t->clusterSize);
        if (at != UINT64_MAX) image.blocks.push_back(at);
      }
    }
    ToolkitClose(t);
  }
}

BaseImage Build() {
  BaseImage image;
  char path[] = "/tmp/vrax-fuzz-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) std::abort();
  close(fd);
  const std::string command = std::string(VRAX_MKFS_PATH) +
                              " --force --size 4M --cluster-size 1024 '" +
                              path + "' > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0) std::abort();
  g_writeThrough = 0;
  g_reportDevice = 0;
  int32_t error = 0;
  BlockDevice* device = CreateDevice("/1", true, error, path);
  if (device == nullptr) std::abort();
  SetCurrentDrive(device);
  Fill();
  Locate(image);
  SetCurrentDrive(nullptr);
  DeleteDevice(device);
  std::ifstream in(path, std::ios::binary);
  image.bytes.assign(std::istreambuf_iterator<char>(in), {});
  std::remove(path);
  return image;
}

// Applies `length` bytes to the structure of `size` bytes at `at`, in
// memory form: fix-ups undone, patched at `offset`, fix-ups done again.
void PatchStructure(std::vector<uint8_t>& bytes, uint64_t at, uint32_t size, uint32_t offset,
                    const uint8_t* data, size_t length) {
  if (size == 0 || at > bytes.size() || bytes.size() - at < size) return;
  uint8_t* s = bytes.data() + at;
  if (FixupAfterRead(s, size) != 0) return;
  offset %= size;
  std::memcpy(s + offset, data, std::min<size_t>(length, size - offset));
  FixupBeforeWrite(s, size);
}

}  // namespace

const BaseImage& Base() {
  static const BaseImage image = Build();
  return image;
}

std::vector<uint8_t> Damaged(const uint8_t* data, size_t size) {
  const BaseImage& base = Base();
  std::vector<uint8_t> bytes = base.bytes;
  size_t pos = 0;
  while (pos + 4 <= size) {
    const uint8_t kind = data[pos];
    const uint32_t selector = data[pos + 1] | (data[pos + 2] << 8);
    const size_t length = std::min<size_t>(data[pos + 3], kMaxPatch);
    pos += 4;
    if (size - pos < length || length == 0) break;
    const uint8_t* patch = data + pos;
    pos += length;
    if (kind % 3 == 0) {
      const size_t at = (static_cast<size_t>(selector) * 251) % bytes.size();
      std::memcpy(bytes.data() + at, patch, std::min(length, bytes.size() - at));
    } else if (kind % 3 == 1 && !base.records.empty()) {
      PatchStructure(bytes, base.records[selector % base.records.size()], base.recordSize,
                     patch[0] * 4u, patch + 1, length - 1);
    } else if (kind % 3 == 2 && !base.blocks.empty()) {
      PatchStructure(bytes, base.blocks[selector % base.blocks.size()], base.blockSize,
                     patch[0] * 4u, patch + 1, length - 1);
    }
  }
  return bytes;
}

std::string ServeImage(const std::vector<uint8_t>& bytes) {
  static const int fd = memfd_create("vrax-fuzz-image", 0);
  if (fd < 0) std::abort();
  if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 ||
      pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    std::abort();
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace vrax::fuzz
