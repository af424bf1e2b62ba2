// Scoped temporary directories and the files tests keep in them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrax::test {

class TempDir {
 public:
  explicit TempDir(const std::string& base = "/tmp");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
uint64_t FileSize(const std::string& path);

// `size` bytes in which every byte depends on its position, so a transfer
// at the wrong offset is visible.
std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed = 0);

std::string MakeImage(const TempDir& dir, const std::string& name, size_t size,
                      uint8_t seed = 0);

}  // namespace vrax::test
