// Throughput of the volume engine on an image file: sequential writes and
// reads of one large file, creating and listing many files. Prints figures;
// asserts nothing. Usage: vrax-bench [image-directory]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "blockdev/block_device.h"
#include "fileio/drive_table.h"
#include "volume/attributes/attributes.h"
#include "volume/fileops/fileops.h"
#include "volume/index/index.h"

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

}  // namespace

int main(int argc, char** argv) {
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
