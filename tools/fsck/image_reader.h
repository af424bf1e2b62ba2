// Read-only access to the image (a file or a block device).
//
// The image is opened O_RDONLY and only ever read with pread: the checker
// can never change what it judges. Every read names an exact byte range and
// either delivers all of it or fails; ranges outside the image fail without
// touching the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vrax::fsck {

class ImageReader {
 public:
  ImageReader() = default;
  ~ImageReader();
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;

  // Opens `path` read-only and learns its size. False with `error` set when
  // the host refuses.
  bool Open(const std::string& path, std::string& error);

  uint64_t size() const { return size_; }

  // Reads exactly `length` bytes at `offset`. False when the range leaves
  // the image or the host reports an error or an early end.
  bool Read(uint64_t offset, void* buffer, size_t length) const;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

}  // namespace vrax::fsck
