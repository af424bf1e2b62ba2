// The volume context of one open path.
//
// ToolkitOpen attaches to the device named at the front of a path, reads the
// boot sector and MFT record 0, walks the rest of the path from the root
// directory and keeps the records of the target in memory. Each operation
// of the volume core works on a Toolkit of its own; Toolkits share nothing
// but the device and the cluster bitmap cache. The volume core takes no lock:
// its caller runs one volume operation at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "blockdev/attachment.h"
#include "volume/toolkit/record_chain.h"

namespace vrax {

struct BitmapCache;

constexpr uint32_t kNotNamed = 0xFFFFFFFFu;

// Something to give back once the records that still name it on disk no
// longer do (see CommitChain).
struct PendingFree {
  enum Kind : uint8_t { kClusters, kRecord } kind = kClusters;
  uint32_t first = 0;  // LCN or record number
  uint32_t count = 0;  // clusters
  const RecordChain* owner = nullptr;  // the chain whose records still name it
};

// How the writes of an operation reach the disk (VolumeWriteSectors).
enum class WriteOrder : uint8_t {
  kOrdered,    // each write is on stable storage when it returns
  // A barrier before each write, which then goes out relaxed: the disk sees
  // the writes in the same order as kOrdered ones, but the last waits for
  // the next barrier. A file created for deferred durability is made so:
  // its commit is that barrier, so its name and its data wait for one sync.
  kChained,
  // Relaxed without a barrier: the writes may land in any order, among
  // themselves and with the one before. Only for writes that leave leaks,
  // or nothing, whichever of them land.
  kUnordered,
};

struct Toolkit {
  uint32_t deviceSectorSize = 0;  // the unit for reading the boot sector
  DeviceAttachment attachment;
  std::vector<uint8_t> bootBuffer;
  RecordChain fileChain;          // the opened file or directory
  RecordChain mftChain;           // record 0
  RecordChain bitmapFileChain;    // record 6
  uint32_t allocationHint = 0;
  uint32_t chunkSize = 0;         // max(cluster size, index block size)
  std::vector<uint8_t> chunkBuffer;
  uint32_t bitmapUseCount = 0;
  BitmapCache* bitmapCache = nullptr;
  std::vector<uint8_t> sectorBuffer;
  uint32_t bytesPerSector = 0;
  uint32_t totalSectors = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t clusterSize = 0;
  uint32_t mftLcn = 0;
  uint32_t mftMirrorLcn = 0;
  uint32_t sectorsPerRecord = 0;
  uint32_t recordSize = 0;
  uint32_t chunkBits = 0;
  uint32_t indexBlockSize = 0;
  uint32_t clusterCount = 0;      // total sectors / sectors per cluster: bound of every run
  // Clusters and records a change stopped using in memory; they stay marked
  // until the change's records are on disk.
  std::vector<PendingFree> pendingFrees;
  // Index blocks the current index change took or unlinked: what a failed
  // change gives back when nothing links them.
  std::vector<uint32_t> indexBlocksTouched;
  // The directory whose index named the opened record (kNotNamed for the
  // root and for a path ending in "." or "..").
  uint32_t namedIn = kNotNamed;
  // Deferred durability (FileWrite, FileCommit): the file's writes leave
  // its records changed in memory until FileCommit; its data and the
  // cluster bitmap's marks go out as relaxed writes meanwhile.
  bool deferDurability = false;
  bool relaxWrites = false;   // the write under way may be relaxed
  WriteOrder writeOrder = WriteOrder::kOrdered;  // of the operation under way
  bool uncommitted = false;   // FileWrite changes that FileCommit has yet to write
};

// Sets a Toolkit's write order for a scope and restores the one before.
class ScopedWriteOrder {
 public:
  ScopedWriteOrder(Toolkit* t, WriteOrder order) : t_(t), saved_(t->writeOrder) {
    t->writeOrder = order;
  }
  ~ScopedWriteOrder() { t_->writeOrder = saved_; }
  ScopedWriteOrder(const ScopedWriteOrder&) = delete;
  ScopedWriteOrder& operator=(const ScopedWriteOrder&) = delete;

 private:
  Toolkit* t_;
  WriteOrder saved_;
};

// Largest record and index block the engine accepts from a boot sector.
constexpr uint32_t kMaxRecordSize = 64 * 1024;
constexpr uint32_t kMaxIndexBlockSize = 64 * 1024;

int32_t ToolkitOpen(Toolkit*& toolkit, const char* path);
int32_t ToolkitClose(Toolkit* toolkit);

// Owns a Toolkit and closes it when it goes out of scope.
struct ToolkitCloser {
  void operator()(Toolkit* toolkit) const { ToolkitClose(toolkit); }
};
using ToolkitOwner = std::unique_ptr<Toolkit, ToolkitCloser>;
// ToolkitOpen into an owner.
int32_t ToolkitOpen(ToolkitOwner& toolkit, const char* path);
void ToolkitRelease(Toolkit* toolkit);
int32_t ToolkitReopen(Toolkit* toolkit, const char* path);

// The create-and-attach steps of ToolkitOpen: a zeroed Toolkit attached to
// the device named at the front of `path`, which moves past the device name.
int32_t ToolkitCreate(Toolkit*& toolkit, const char*& path);
// Mounts the volume and opens `path` from the root directory.
int32_t ToolkitMountAndOpen(Toolkit* toolkit, const char* path);

bool IsDirectory(const Toolkit* toolkit);
bool IsSystemRecord(const Toolkit* toolkit);
uint32_t OpenedRecordNumber(const Toolkit* toolkit);

int32_t VolumeReadSectors(Toolkit* toolkit, void* buffer, uint32_t firstSector, uint32_t count);
int32_t VolumeWriteSectors(Toolkit* toolkit, const void* buffer, uint32_t firstSector,
                           uint32_t count);

RecordBuffer* AllocRecordBuffer(Toolkit* toolkit, RecordChain& chain);
// Reads one record; one that cannot be trusted (no magic, failed fix-ups,
// malformed) is damage: 114, with the line of damage.h.
int32_t ReadRecord(Toolkit* toolkit, uint32_t recordNumber, RecordBuffer* buffer);
// The same without the line: for a record about to be built anew, whose
// old content may be anything.
int32_t ReadRecordQuietly(Toolkit* toolkit, uint32_t recordNumber, RecordBuffer* buffer);
// The update sequence number a record image (as read, fix-ups applied or
// not) carries, 0 when it has none: a record built anew in its place
// continues from it, so that a torn write of the new record shows.
uint16_t PreviousSequenceNumber(const uint8_t* image, uint32_t recordSize);
// Writes one record; its update sequence number advances first, so a torn
// write is caught when the record is read.
int32_t WriteRecord(Toolkit* toolkit, uint32_t recordNumber, RecordBuffer* buffer);

// The order in which the records of a chain reach the disk. A value that
// grows gets its new runs (extension records, which may be new) before the
// base record names them and gives the new size; a value that shrinks gets
// its new size in the base record first and loses its runs after. Either
// way a crash in between leaves runs holding more than the size says (a
// leak), never a size beyond the runs or a list naming a record not written.
enum class ChainOrder { kGrow, kShrink };

// Writes the records of a chain that changed, in `order`; stops at the
// first error.
int32_t WriteChain(Toolkit* toolkit, RecordChain& chain, ChainOrder order = ChainOrder::kGrow);

// Writes the changed records of a chain and then gives back what the
// change of that chain stopped using (its pending frees): the only safe
// moment, since before it the records on disk still name those clusters
// and records. When the write fails they stay marked (leaked, never doubly
// owned).
int32_t CommitChain(Toolkit* toolkit, RecordChain& chain, ChainOrder order = ChainOrder::kGrow);

// Notes clusters or a record that `chain` no longer names in memory.
void DeferFree(Toolkit* toolkit, const RecordChain& chain, PendingFree::Kind kind,
               uint32_t first, uint32_t count = 0);

// Gives back the pending frees of `chain` (of every chain when null) now:
// their records are known to be unreachable or already written. Or forgets
// them: they stay marked.
int32_t ApplyPendingFrees(Toolkit* toolkit, const RecordChain* chain = nullptr);
void DropPendingFrees(Toolkit* toolkit, const RecordChain* chain = nullptr);
int32_t LoadExtensions(Toolkit* toolkit, RecordChain& chain, RecordBuffer* buffer);
// Shows the attribute lists of a loaded chain as loading it showed them.
void ShowAttributeLists(Toolkit* toolkit, const RecordChain& chain);
int32_t OpenRecord(Toolkit* toolkit, RecordChain& chain, uint32_t recordNumber);

// Reads record 0 straight from the MFT's first cluster and its extension
// records into an empty chain.
int32_t LoadMftChain(Toolkit* toolkit, RecordChain& chain);
// Replaces the Toolkit's copy of the MFT records with what is on disk now,
// unless the copy holds changes not yet written. A Toolkit may stay open
// while others allocate records; its copy of record 0 must be current before
// it allocates or frees one.
int32_t RefreshMftChain(Toolkit* toolkit);

// Re-reads a record chain (the base record and its extensions) from disk
// unless it holds changes not yet written. An open file may have been
// changed through another Toolkit since it was loaded.
int32_t RefreshChain(Toolkit* toolkit, RecordChain& chain);
// Re-reads a chain from disk whatever it holds: a change that failed half
// way in memory is dropped.
int32_t ReloadChain(Toolkit* toolkit, RecordChain& chain);

// One chunk (chunk size bytes) and one sector of work space, allocated at
// first use; null when memory runs out.
uint8_t* ToolkitChunkBuffer(Toolkit* toolkit);
uint8_t* ToolkitSectorBuffer(Toolkit* toolkit);

// Number of records the MFT holds: its AT_DATA length / record size.
uint32_t RecordsHeld(Toolkit* toolkit);

// `namedIn`, when given, receives the directory whose index named the
// record found (kNotNamed when the last component was "." or "..").
int32_t WalkPath(Toolkit* toolkit, uint32_t startRecord, const char* path, uint32_t& recordNumber,
                 uint32_t* namedIn = nullptr);
int32_t CheckWritable(Toolkit* toolkit);
int32_t CheckRemovable(Toolkit* toolkit);

}  // namespace vrax
