// Fuzz harness: mount a damaged volume read-only and walk it, listing every
// directory and reading every file, as the FTP server would. Whatever the
// damage, the engine must answer with errors: no crash, no hang, no read
// outside a buffer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "blockdev/block_device.h"
#include "blockdev/drive_table.h"
#include "fuzz_image.h"
#include "volume/attributes/attributes.h"
#include "volume/index/index.h"

namespace {

constexpr int kMaxDepth = 12;
constexpr size_t kMaxNodes = 400;
constexpr uint32_t kMaxRead = 1u << 20;

struct Walk {
  std::unordered_set<uint32_t> seen;  // records visited: a directory listing an ancestor ends here
  size_t nodes = 0;
};

void ReadFile(vrax::Toolkit* t) {
  uint32_t size = 0;
  if (vrax::FileSize(t, size) != 0) return;
  std::vector<uint8_t> data(std::min(size, kMaxRead));
  uint32_t done = 0;
  vrax::FileRead(t, 0, static_cast<uint32_t>(data.size()), data.data(), done);
  uint8_t descriptor[20];
  vrax::ReadDescriptor(t, descriptor);
}

std::vector<std::string> Names(vrax::Toolkit* t) {
  std::vector<std::string> names;
  std::vector<uint8_t> slice(4096);
  for (uint32_t offset = 64; names.size() < kMaxNodes;) {
    uint32_t delivered = 0;
    const int32_t error = vrax::ReadDirectory(t, offset, 4096, slice.data(), delivered);
    for (uint32_t i = 0; i + vrax::kDirRecordSize <= delivered; i += vrax::kDirRecordSize) {
      const char* name = reinterpret_cast<const char*>(slice.data() + i);
      names.emplace_back(name, strnlen(name, vrax::kDirRecordNameSize));
    }
    if (error != 0 || delivered < 4096) break;
    offset += delivered;
  }
  return names;
}

void Visit(const std::string& path, int depth, Walk& walk) {
  if (depth > kMaxDepth || walk.nodes++ > kMaxNodes) return;
  vrax::Toolkit* t = nullptr;
  if (vrax::ToolkitOpen(t, path.c_str()) != 0) return;
  const bool fresh = walk.seen.insert(vrax::OpenedRecordNumber(t)).second;
  if (!vrax::IsDirectory(t)) {
    ReadFile(t);
    vrax::ToolkitClose(t);
    return;
  }
  const std::vector<std::string> names = fresh ? Names(t) : std::vector<std::string>{};
  vrax::ToolkitClose(t);
  for (const std::string& name : names) {
    if (name.empty() || name.find('/') != std::string::npos) continue;
    Visit(path + "/" + name, depth + 1, walk);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = vrax::fuzz::ServeImage(vrax::fuzz::Damaged(data, size));
  int32_t error = 0;
  vrax::BlockDevice* device = vrax::CreateDevice("/1", false, error, path);
  if (device == nullptr) return 0;
  vrax::SetCurrentDrive(device);
  Walk walk;
  Visit("/1", 0, walk);
  vrax::SetCurrentDrive(nullptr);
  vrax::DeleteDevice(device);
  return 0;
}
