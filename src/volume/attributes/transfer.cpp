// Reading and writing attribute values at any offset, resident or held in
// clusters.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/corruption.h"
#include "platform/error_codes.h"
#include "volume/attributes/attributes.h"
#include "volume/attributes/run_lookup.h"

namespace vrax {

namespace {

// End of a write of count bytes at offset, all bits set when the sum
// overflows.
uint32_t WriteEnd(uint32_t offset, uint32_t count) {
  const uint64_t end = static_cast<uint64_t>(offset) + count;
  return end > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(end);
}

int32_t ResidentTransfer(Toolkit* t, uint32_t type, RecordChain& chain, uint8_t* a,
                         RecordBuffer* holder, uint8_t* buffer, uint32_t count, uint32_t offset,
                         uint32_t& done, int mode, bool& again) {
  const uint32_t length = AttrValueLength(a);
  if (mode == kTransferRead && offset >= length) return kOk;
  if (mode == kTransferWrite) {
    uint32_t end = WriteEnd(offset, count);
    if (end > length) {
      end = std::min(end, MaxValueSize(t));
      if (offset > end) return kErrIncorrectSize;
      const int32_t error = SetAttributeSize(t, chain, type, end);
      if (error != kOk) return error;
      again = true;
      return kOk;
    }
  }
  const uint32_t k = std::min(count, length - offset);
  uint8_t* value = AttrValue(a) + offset;
  if (mode == kTransferRead) {
    std::memcpy(buffer, value, k);
  } else {
    std::memcpy(value, buffer, k);
    holder->dirty = 1;
  }
  done = k;
  return kOk;
}

// One piece of a cluster transfer inside the cached run: whole sectors go
// straight between the caller's buffer and the disk, a partial sector
// through the sector buffer (read-modify-write for a write).
int32_t TransferPiece(Toolkit* t, const RunCache& run, uint8_t* buffer, uint32_t count,
                      uint32_t offset, int mode, uint32_t& k) {
  const uint32_t S = t->bytesPerSector;
  const uint32_t P = t->sectorsPerCluster;
  const uint64_t runStart = static_cast<uint64_t>(run.firstVcn) * t->clusterSize;
  const uint32_t within = offset % S;
  const uint32_t sector = static_cast<uint32_t>((offset - runStart) / S);
  const uint64_t avail = runStart + run.validBytes - offset;
  k = static_cast<uint32_t>(std::min<uint64_t>(count, avail));
  const uint32_t tail = static_cast<uint32_t>((static_cast<uint64_t>(offset) + k) % S);
  const uint32_t disk = P * run.lcn + sector;
  if (within == 0 && k >= S) {
    if (tail != 0 && k > S) k -= tail;
    return mode == kTransferRead ? VolumeReadSectors(t, buffer, disk, k / S)
                                 : VolumeWriteSectors(t, buffer, disk, k / S);
  }
  k = (tail == 0 || within + k > S) ? S - within : tail - within;
  uint8_t* bounce = ToolkitSectorBuffer(t);
  if (bounce == nullptr) return kErrNotEnoughMemory;
  int32_t error = VolumeReadSectors(t, bounce, disk, 1);
  if (error != kOk) return error;
  if (mode == kTransferRead) {
    std::memcpy(buffer, bounce + within, k);
    return kOk;
  }
  std::memcpy(bounce + within, buffer, k);
  return VolumeWriteSectors(t, bounce, disk, 1);
}

int32_t ClusterTransfer(Toolkit* t, uint32_t type, RecordChain& chain, uint8_t* a,
                        uint8_t* buffer, uint32_t count, uint32_t offset, uint32_t& done,
                        int mode);

// Clusters freshly given to a value hold whatever the disk held before; the
// stretch between the old end and a write that starts beyond it is zeroed so
// that it reads as zeros, never as another file's old data.
int32_t ZeroGap(Toolkit* t, uint32_t type, RecordChain& chain, uint32_t from, uint32_t to) {
  std::vector<uint8_t> zeros;
  try {
    zeros.assign(std::min<uint32_t>(to - from, 1u << 20), 0);
  } catch (const std::bad_alloc&) {
    return kErrNotEnoughMemory;
  }
  while (from < to) {
    uint8_t* a = FindAttribute(t, chain, type);
    if (a == nullptr) return kErrPathNotFound;
    const uint32_t k = std::min<uint32_t>(to - from, static_cast<uint32_t>(zeros.size()));
    uint32_t done = 0;
    const int32_t error =
        ClusterTransfer(t, type, chain, a, zeros.data(), k, from, done, kTransferWrite);
    if (error != kOk) return error;
    if (done == 0) return Corruption();
    from += done;
  }
  return kOk;
}

// While a Toolkit defers durability, the writes of its file's data and of
// the cluster bitmap's marks are relaxed (block_device.h): nothing on the
// disk names the clusters they fill until the file's records are written,
// and the device brings them to stable storage before any ordered write.
// Every other write of the transfer (records, index blocks, other bitmaps)
// stays ordered. The setting covers this transfer only, nested ones choose
// their own.
class RelaxedWrites {
 public:
  RelaxedWrites(Toolkit* t, uint32_t type, const RecordChain& chain, int mode)
      : t_(t), saved_(t->relaxWrites) {
    t->relaxWrites = t->deferDurability && mode == kTransferWrite && type == AT_DATA &&
                     (&chain == &t->fileChain || &chain == &t->bitmapFileChain);
  }
  ~RelaxedWrites() { t_->relaxWrites = saved_; }
  RelaxedWrites(const RelaxedWrites&) = delete;
  RelaxedWrites& operator=(const RelaxedWrites&) = delete;

 private:
  Toolkit* t_;
  bool saved_;
};

int32_t ClusterTransfer(Toolkit* t, uint32_t type, RecordChain& chain, uint8_t* a,
                        uint8_t* buffer, uint32_t count, uint32_t offset, uint32_t& done,
                        int mode) {
  const RelaxedWrites relaxed(t, type, chain, mode);
  uint32_t size = AttrInitializedSize(a);
  if (mode == kTransferWrite) {
    uint32_t end = WriteEnd(offset, count);
    if (end > size) {
      end = std::min(end, MaxValueSize(t));
      if (end < offset || end < size) return kErrIncorrectSize;
      const int32_t error = SetAttributeSize(t, chain, type, end);
      if (error != kOk) return error;
      const uint8_t* first = FindAttribute(t, chain, type);
      if (first == nullptr || !AttrIsNonResident(first)) return Corruption();
      const uint32_t oldSize = size;
      size = AttrInitializedSize(first);
      if (offset > oldSize) {
        const int32_t zeroed = ZeroGap(t, type, chain, oldSize, offset);
        if (zeroed != kOk) return zeroed;
      }
    }
  } else if (size <= offset) {
    return kOk;
  }
  RunCache run;
  while (count > 0) {
    const uint32_t vcn = offset / t->clusterSize;
    if (!run.valid || vcn < run.firstVcn || vcn > run.lastVcn) {
      const int32_t error = LookupDataRun(t, chain, type, vcn, size, run);
      if (error == kErrBadStructure) return error;
      if (error != kOk) return kOk;  // past the mapped runs: the bytes done so far
    }
    if (static_cast<uint64_t>(run.firstVcn) * t->clusterSize + run.validBytes <= offset) {
      return kOk;
    }
    uint32_t k = 0;
    const int32_t error = TransferPiece(t, run, buffer, count, offset, mode, k);
    if (error != kOk) return error;
    offset += k;
    buffer += k;
    done += k;
    count -= k;
  }
  return kOk;
}

}  // namespace

int32_t BitmapWrite(Toolkit* t, RecordChain& chain, uint32_t type, const uint8_t* bytes,
                    uint32_t count, uint32_t offset) {
  uint32_t done = 0;
  // The transfer only reads from the buffer in write mode.
  int32_t error = AttributeTransfer(t, type, chain, const_cast<uint8_t*>(bytes), count, offset,
                                    done, kTransferWrite);
  if (error == kOk && done != count) error = Corruption();
  if (error == kOk) error = WriteChain(t, chain);
  return error;
}

int32_t AttributeTransfer(Toolkit* t, uint32_t type, RecordChain& chain, void* data,
                          uint32_t count, uint32_t offset, uint32_t& done, int mode) {
  done = 0;
  uint8_t* buffer = static_cast<uint8_t*>(data);
  // A resident value that grows is resized (perhaps moved into clusters) and
  // the transfer starts again; a second resize in a row means the resize did
  // not give the room it reported.
  for (int attempt = 0; attempt < 3; ++attempt) {
    RecordBuffer* holder = nullptr;
    uint8_t* a = FindAttribute(t, chain, type, &holder);
    if (a == nullptr) return kErrPathNotFound;
    if (AttrIsNonResident(a)) {
      return ClusterTransfer(t, type, chain, a, buffer, count, offset, done, mode);
    }
    bool again = false;
    const int32_t error =
        ResidentTransfer(t, type, chain, a, holder, buffer, count, offset, done, mode, again);
    if (error != kOk || !again) return error;
  }
  return Corruption();
}

}  // namespace vrax
