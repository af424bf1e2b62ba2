// Positioned transfers on a host disk: whole transfers or an error, and in
// unbuffered mode the alignment the host demands, met with bounce buffers.
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "platform/error_codes.h"
#include "platform/host_disk.h"
#include "platform/host_errors.h"

namespace vrax {

namespace {

constexpr uint32_t kDefaultAlign = 4096;
constexpr uint64_t kBounceLimit = 1u << 20;  // larger transfers go in pieces

struct AlignedDelete {
  std::align_val_t align;
  void operator()(uint8_t* p) const { ::operator delete[](p, align); }
};
using AlignedBuffer = std::unique_ptr<uint8_t[], AlignedDelete>;

AlignedBuffer AllocateAligned(uint64_t size, uint32_t align) {
  const std::align_val_t a{align};
  auto* p = static_cast<uint8_t*>(::operator new[](size, a, std::nothrow));
  return AlignedBuffer(p, AlignedDelete{a});
}

uint64_t AlignDown(uint64_t v, uint32_t align) { return v - v % align; }
uint64_t AlignUp(uint64_t v, uint32_t align) { return AlignDown(v + align - 1, align); }

// Reads until `count` bytes arrived or the end of the disk. `align` (0 for
// none) stops a partial read that leaves an unaligned position, which an
// unbuffered disk could not continue from: it counts as the end.
int32_t ReadAll(int fd, uint8_t* buf, uint64_t count, uint64_t offset, uint32_t align,
                uint64_t& done) {
  done = 0;
  while (done < count) {
    const ssize_t n = pread(fd, buf + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastHostError();
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
    if (align != 0 && (offset + done) % align != 0) break;
  }
  return kOk;
}

// `flags` are pwritev2's: RWF_DSYNC makes each piece durable before it
// returns, as an O_DSYNC open would.
int32_t WriteAll(int fd, const uint8_t* buf, uint64_t count, uint64_t offset, uint32_t align,
                 uint64_t& done, int flags = 0) {
  done = 0;
  while (done < count) {
    const iovec piece{const_cast<uint8_t*>(buf + done), static_cast<size_t>(count - done)};
    const ssize_t n = pwritev2(fd, &piece, 1, static_cast<off_t>(offset + done), flags);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastHostError();
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
    if (align != 0 && (offset + done) % align != 0) break;
  }
  return kOk;
}

// One piece of an unbuffered transfer: the aligned blocks [start, start +
// span) of which the caller's bytes occupy [head, head + length).
struct Window {
  uint64_t start;
  uint64_t head;
  uint64_t length;
  uint64_t span;
};

Window NextWindow(uint64_t offset, uint64_t remaining, uint32_t align, uint64_t bounceSize) {
  Window w{};
  w.start = AlignDown(offset, align);
  w.head = offset - w.start;
  w.length = std::min(remaining, bounceSize - w.head);
  w.span = AlignUp(w.head + w.length, align);
  return w;
}

uint64_t BounceSize(uint64_t offset, uint64_t count, uint32_t align) {
  const uint64_t cover = AlignUp(offset + count, align) - AlignDown(offset, align);
  return std::min(cover, std::max<uint64_t>(kBounceLimit, 2ull * align));
}

uint32_t Alignment(const HostDisk& disk) {
  return disk.ioAlign != 0 ? disk.ioAlign : kDefaultAlign;
}

bool IsAligned(const HostDisk& disk, const void* buffer, uint64_t count, uint64_t offset) {
  const uint32_t align = Alignment(disk);
  return reinterpret_cast<uintptr_t>(buffer) % align == 0 && count % align == 0 &&
         offset % align == 0;
}

int32_t DirectRead(HostDisk& disk, uint8_t* dst, uint64_t count, uint64_t offset) {
  const uint32_t align = Alignment(disk);
  const uint64_t bounceSize = BounceSize(offset, count, align);
  AlignedBuffer bounce = AllocateAligned(bounceSize, align);
  if (!bounce) return kErrNotEnoughMemory;
  while (count > 0) {
    const Window w = NextWindow(offset, count, align, bounceSize);
    uint64_t got = 0;
    if (const int32_t error = ReadAll(disk.fd, bounce.get(), w.span, w.start, align, got)) {
      return error;
    }
    if (got < w.head + w.length) return -1;
    std::memcpy(dst, bounce.get() + w.head, w.length);
    dst += w.length;
    offset += w.length;
    count -= w.length;
  }
  return kOk;
}

// Fills the aligned block at `blockStart` (bounce offset `at`) from the disk
// so that the bytes around the caller's survive the write-back. A block
// reaching past the end is zero-filled there; `fileEnd` learns where the
// disk ended.
int32_t FillEdgeBlock(HostDisk& disk, uint8_t* bounce, uint64_t at, uint64_t blockStart,
                      uint64_t& fileEnd) {
  const uint32_t align = Alignment(disk);
  uint64_t got = 0;
  if (const int32_t error = ReadAll(disk.fd, bounce + at, align, blockStart, align, got)) {
    return error;
  }
  if (got < align) {
    std::memset(bounce + at + got, 0, align - got);
    fileEnd = std::min(fileEnd, blockStart + got);
  }
  return kOk;
}

int32_t MergeEdges(HostDisk& disk, uint8_t* bounce, const Window& w, uint64_t& fileEnd) {
  const uint32_t align = Alignment(disk);
  if (w.head != 0) {
    if (const int32_t error = FillEdgeBlock(disk, bounce, 0, w.start, fileEnd)) return error;
  }
  const uint64_t lastBlock = w.span - align;
  const bool tailPartial = (w.head + w.length) % align != 0;
  if (tailPartial && !(w.head != 0 && lastBlock == 0)) {
    return FillEdgeBlock(disk, bounce, lastBlock, w.start + lastBlock, fileEnd);
  }
  return kOk;
}

// Writes one window; an image file that ended inside it is cut back to the
// size a plain write would have left.
int32_t WriteWindow(HostDisk& disk, uint8_t* bounce, const uint8_t* src, const Window& w) {
  uint64_t fileEnd = UINT64_MAX;
  if (const int32_t error = MergeEdges(disk, bounce, w, fileEnd)) return error;
  std::memcpy(bounce + w.head, src, w.length);
  uint64_t put = 0;
  if (const int32_t error = WriteAll(disk.fd, bounce, w.span, w.start, Alignment(disk), put)) {
    return error;
  }
  if (put != w.span) return -1;
  if (fileEnd == UINT64_MAX) return kOk;
  const uint64_t newEnd = std::max(fileEnd, w.start + w.head + w.length);
  return ftruncate(disk.fd, static_cast<off_t>(newEnd)) == 0 ? kOk : LastHostError();
}

int32_t DirectWrite(HostDisk& disk, const uint8_t* src, uint64_t count, uint64_t offset) {
  const uint32_t align = Alignment(disk);
  const uint64_t bounceSize = BounceSize(offset, count, align);
  AlignedBuffer bounce = AllocateAligned(bounceSize, align);
  if (!bounce) return kErrNotEnoughMemory;
  while (count > 0) {
    const Window w = NextWindow(offset, count, align, bounceSize);
    if (const int32_t error = WriteWindow(disk, bounce.get(), src, w)) return error;
    src += w.length;
    offset += w.length;
    count -= w.length;
  }
  return kOk;
}

bool InRange(uint32_t count, uint64_t offset) {
  return offset <= kHostDiskMaxOffset && count <= kHostDiskMaxOffset - offset;
}

}  // namespace

int32_t HostDiskRead(HostDisk& disk, void* buffer, uint32_t count, uint64_t offset) {
  if (!InRange(count, offset)) return kErrInvalidParameter;
  auto* dst = static_cast<uint8_t*>(buffer);
  if (disk.direct && !IsAligned(disk, buffer, count, offset)) {
    return DirectRead(disk, dst, count, offset);
  }
  uint64_t done = 0;
  const uint32_t align = disk.direct ? Alignment(disk) : 0;
  if (const int32_t error = ReadAll(disk.fd, dst, count, offset, align, done)) return error;
  return done == count ? kOk : -1;
}

int32_t HostDiskWrite(HostDisk& disk, const void* buffer, uint32_t count, uint64_t offset,
                      bool durable) {
  if (!InRange(count, offset)) return kErrInvalidParameter;
  const auto* src = static_cast<const uint8_t*>(buffer);
  if (disk.direct && !IsAligned(disk, buffer, count, offset)) {
    return DirectWrite(disk, src, count, offset);
  }
  uint64_t done = 0;
  const uint32_t align = disk.direct ? Alignment(disk) : 0;
  // Unbuffered transfers keep their own meaning: they bypass the host's
  // cache, and only a sync waits for the disk's.
  const int flags = durable && disk.writeThrough && !disk.direct ? RWF_DSYNC : 0;
  if (const int32_t error = WriteAll(disk.fd, src, count, offset, align, done, flags)) {
    return error;
  }
  return done == count ? kOk : -1;
}

}  // namespace vrax
