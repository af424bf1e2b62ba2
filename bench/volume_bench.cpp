// Throughput of the volume engine on an image file: sequential writes and
// reads of one large file, creating and listing many files. Prints figures;
// asserts nothing.
//
//   vrax-bench [image-directory]
//       the engine's figures on a fresh 512 MiB image
//   vrax-bench make-dir IMAGE COUNT [SIZE]
//       formats IMAGE (default size 1G) and creates COUNT empty files
//       e000000, e000001, ... in /1/list, in that (name) order, through
//       the engine; prints how long it took
//   vrax-bench lookups IMAGE COUNT
//       in such an image: the shape of /1/list's index (blocks, depth) and
//       the cost of looking names up (opening /1/list/eNNNNNN by path)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "blockdev/block_device.h"
#include "blockdev/drive_table.h"
#include "platform/settings.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"
#include "volume/index/index_node_io.h"
#include "volume/toolkit/toolkit.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

bool Format(const std::string& image, const char* arguments) {
  const std::string command =
      std::string(VRAX_MKFS_PATH) + " --force " + arguments + " '" + image + "' > /dev/null";
  return std::system(command.c_str()) == 0;
}

void LargeFile(std::vector<uint8_t>& chunk, uint32_t total) {
  vrax::Toolkit* t = nullptr;
  if (vrax::ToolkitCreateFile(t, "/1/large") != 0) return;
  auto start = Clock::now();
  uint32_t done = 0;
  for (uint32_t at = 0; at < total; at += static_cast<uint32_t>(chunk.size())) {
    vrax::FileWrite(t, at, static_cast<uint32_t>(chunk.size()), chunk.data(), done);
  }
  const double write = Seconds(start);
  start = Clock::now();
  for (uint32_t at = 0; at < total; at += static_cast<uint32_t>(chunk.size())) {
    vrax::FileRead(t, at, static_cast<uint32_t>(chunk.size()), chunk.data(), done);
  }
  const double read = Seconds(start);
  vrax::ToolkitClose(t);
  const double mib = total / 1048576.0;
  std::printf("sequential write: %.1f MiB/s (%.0f MiB in %.2f s, 2 MiB calls)\n", mib / write,
              mib, write);
  std::printf("sequential read:  %.1f MiB/s (%.0f MiB in %.2f s, 2 MiB calls)\n", mib / read,
              mib, read);
}

void ManyFiles(int count) {
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    vrax::Toolkit* t = nullptr;
    const std::string path = "/1/file-" + std::to_string(i) + ".txt";
    vrax::ToolkitCreateFile(t, path.c_str());
    vrax::ToolkitClose(t);
  }
  const double create = Seconds(start);
  start = Clock::now();
  vrax::Toolkit* root = nullptr;
  vrax::ToolkitOpen(root, "/1");
  std::vector<uint8_t> slice(4096);
  uint32_t listed = 0;
  for (uint32_t offset = 64;; offset += 4096) {
    uint32_t delivered = 0;
    if (vrax::ReadDirectory(root, offset, 4096, slice.data(), delivered) != 0) break;
    listed += delivered / 32;
    if (delivered < 4096) break;
  }
  vrax::ToolkitClose(root);
  const double list = Seconds(start);
  std::printf("create: %.0f files/s (%d files in %.2f s)\n", count / create, count, create);
  std::printf("list:   %.0f names/s (%u names in 4096-byte slices, %.3f s)\n", listed / list,
              listed, list);
}

// Small uploads as the FTP server does them: create, write 1 KiB, close.
void SmallFiles(int count) {
  std::vector<uint8_t> data(1024, 0x5A);
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    vrax::Toolkit* t = nullptr;
    const std::string path = "/1/small-" + std::to_string(i) + ".bin";
    if (vrax::ToolkitCreateFile(t, path.c_str()) != 0) continue;
    uint32_t done = 0;
    vrax::FileWrite(t, 0, static_cast<uint32_t>(data.size()), data.data(), done);
    vrax::ToolkitClose(t);
  }
  const double seconds = Seconds(start);
  std::printf("small files: %.0f files/s (%d files of 1 KiB created and written in %.2f s)\n",
              count / seconds, count, seconds);
}

std::string EntryName(uint32_t i) {
  char name[16];
  std::snprintf(name, sizeof name, "e%06u", i);
  return name;
}

// Mounts `image` as drive /1 for the life of the object.
struct Mounted {
  vrax::BlockDevice* device = nullptr;
  explicit Mounted(const std::string& image) {
    int32_t error = 0;
    device = vrax::CreateDevice("/1", true, error, image);
    if (device != nullptr) vrax::SetCurrentDrive(device);
  }
  ~Mounted() {
    vrax::SetCurrentDrive(nullptr);
    vrax::DeleteDevice(device);
  }
};

int MakeDirectory(const std::string& image, uint32_t count, const std::string& size) {
  if (!Format(image, ("--size " + size).c_str())) {
    std::fprintf(stderr, "cannot format %s\n", image.c_str());
    return 1;
  }
  // Building the image is set-up, not a figure: it need not wait for
  // stable storage (as vrax-mkfs --from does not).
  vrax::g_writeThrough = 0;
  Mounted volume(image);
  if (volume.device == nullptr) return 1;
  if (vrax::ToolkitMakeDirectory("/1/list") != 0) return 1;
  const auto start = Clock::now();
  for (uint32_t i = 0; i < count; ++i) {
    vrax::Toolkit* t = nullptr;
    const std::string path = "/1/list/" + EntryName(i);
    const int32_t error = vrax::ToolkitCreateFile(t, path.c_str());
    vrax::ToolkitClose(t);
    if (error != 0) {
      std::fprintf(stderr, "creating %s: error %d\n", path.c_str(), error);
      return 1;
    }
  }
  const double seconds = Seconds(start);
  std::printf("make-dir: %u names created in order in %.2f s (%.0f us/name)\n", count, seconds,
              seconds * 1e6 / count);
  return 0;
}

// Blocks and depth of a directory's index: every block is read once.
void IndexShape(vrax::Toolkit* t, uint32_t& blocks, uint32_t& depth) {
  blocks = 0;
  depth = 0;
  vrax::IndexNode root;
  bool empty = false;
  if (vrax::ReadRootNode(t, t->fileChain, root, empty) != 0 || empty) return;
  std::unordered_set<uint32_t> visited;
  std::vector<std::pair<uint32_t, uint32_t>> pending;  // VCN, depth
  vrax::IndexEntryWalk rootWalk(root.data.data(), root.start, root.end);
  while (uint8_t* e = rootWalk.Next()) {
    if (vrax::EntryHasSubNode(e)) pending.emplace_back(vrax::EntrySubNode(e), 1);
  }
  while (!pending.empty()) {
    const auto [vcn, level] = pending.back();
    pending.pop_back();
    vrax::IndexNode node;
    if (vrax::ReadBlockNode(t, t->fileChain, vcn, node, visited) != 0) continue;
    ++blocks;
    if (level > depth) depth = level;
    vrax::IndexEntryWalk walk(node.data.data(), node.start, node.end);
    while (uint8_t* e = walk.Next()) {
      if (vrax::EntryHasSubNode(e)) pending.emplace_back(vrax::EntrySubNode(e), level + 1);
    }
  }
}

int Lookups(const std::string& image, uint32_t count) {
  Mounted volume(image);
  if (volume.device == nullptr || count == 0) return 1;
  vrax::Toolkit* dir = nullptr;
  if (vrax::ToolkitOpen(dir, "/1/list") != 0) return 1;
  uint32_t blocks = 0, depth = 0;
  IndexShape(dir, blocks, depth);
  vrax::ToolkitClose(dir);
  std::printf("index of %u names added in order: %u blocks, depth %u\n", count, blocks, depth);
  // Names spread evenly over the directory, oldest to newest.
  const uint32_t samples = count < 1000 ? count : 1000;
  const auto start = Clock::now();
  double worst = 0;
  for (uint32_t k = 0; k < samples; ++k) {
    const uint32_t i = static_cast<uint32_t>(static_cast<uint64_t>(k) * count / samples);
    const std::string path = "/1/list/" + EntryName(i);
    const auto one = Clock::now();
    vrax::Toolkit* t = nullptr;
    if (vrax::ToolkitOpen(t, path.c_str()) != 0) {
      std::fprintf(stderr, "lookup of %s failed\n", path.c_str());
      return 1;
    }
    vrax::ToolkitClose(t);
    const double us = Seconds(one) * 1e6;
    if (us > worst) worst = us;
  }
  const double seconds = Seconds(start);
  std::printf("lookup: %.1f us mean, %.1f us worst (%u opens by path spread over %u names)\n",
              seconds * 1e6 / samples, worst, samples, count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vrax::g_reportDevice = 0;
  if (argc >= 4 && std::string(argv[1]) == "make-dir") {
    return MakeDirectory(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)),
                         argc >= 5 ? argv[4] : "1G");
  }
  if (argc >= 4 && std::string(argv[1]) == "lookups") {
    return Lookups(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
  }
  const std::string dir = argc > 1 ? argv[1] : "/tmp";
  const std::string image = dir + "/vrax-bench.img";
  if (!Format(image, "--size 512M")) {
    std::fprintf(stderr, "cannot format %s\n", image.c_str());
    return 1;
  }
  int32_t error = 0;
  vrax::BlockDevice* device = vrax::CreateDevice("/1", true, error, image);
  if (device == nullptr) return 1;
  vrax::SetCurrentDrive(device);
  std::vector<uint8_t> chunk(2 * 1024 * 1024, 0xA5);
  LargeFile(chunk, 256u * 1024 * 1024);
  ManyFiles(5000);
  SmallFiles(2000);
  vrax::SetCurrentDrive(nullptr);
  vrax::DeleteDevice(device);
  std::remove(image.c_str());
  return 0;
}
