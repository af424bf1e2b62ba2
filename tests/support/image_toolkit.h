// ImageBuilder edits an unmounted image formatted by vrax-mkfs, adding what
// the formatter never makes (scattered runs, attribute lists, index trees of
// any shape, damage), encoded with the on-disk codecs. Misuse throws
// std::runtime_error, which fails the test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mkfs/record_builder.h"
#include "support/tool_runs.h"

namespace vrax::test {

using mkfs::ClusterRun;

struct ImageGeometry {
  uint32_t bytesPerSector = 0, clusterSize = 0, recordSize = 0, indexBlockSize = 0;
  uint32_t clusterCount = 0, totalSectors = 0, mftRecords = 0;  // records the MFT holds
};

struct IndexName {
  std::string name;
  uint32_t record = 0;
};

// One index node: `names` named entries; a sub-node at slot i hangs below
// entry i (slot `names`: the end entry). Names are filled in collation order
// by an in-order walk, so any shape gives a correctly ordered tree.
struct IndexShape {
  struct Below;
  uint32_t names = 0;
  std::vector<Below> below;

  static IndexShape Leaf(uint32_t names);
  // Hangs `child` below slot `slot`; returns *this for chaining.
  IndexShape& With(uint32_t slot, IndexShape child);
  // `levels` levels; every node has `fanout` names and a sub-node at every slot.
  static IndexShape Full(uint32_t levels, uint32_t fanout);
  uint32_t TotalNames() const;
  uint32_t Blocks() const;  // nodes of the shape: the blocks it takes
};
struct IndexShape::Below {
  uint32_t slot = 0;
  IndexShape node;
};

constexpr uint32_t kNoBlock = 0xFFFFFFFFu;

struct IndexBlockInfo {
  uint32_t vcn = 0;
  std::vector<std::string> names;  // its named entries, in order
};

struct BuiltIndex {
  uint32_t topVcn = kNoBlock;
  std::vector<ClusterRun> allocation;  // where AT_INDEX_ALLOCATION lies
  // By block number, children before their parents (block k at VCN k x B / C).
  std::vector<IndexBlockInfo> blocks;
  std::vector<IndexName> order;        // every name, in collation order
};

// Where a list file's first AT_DATA instance lies (the second: an extension).
enum class ListLayout { kFirstInExtension, kFirstInBase };

struct ListFile {
  uint32_t base = 0, first = 0, second = 0;  // the base and the holders of the instances
};

class ImageBuilder {
 public:
  explicit ImageBuilder(const std::string& image);
  ~ImageBuilder();
  ImageBuilder(const ImageBuilder&) = delete;
  ImageBuilder& operator=(const ImageBuilder&) = delete;

  const ImageGeometry& geometry() const { return geometry_; }

  // Takes the lowest free record number and marks it in record 0's bitmap.
  uint32_t AllocateRecord();
  // LCN of the first stretch of `count` free clusters (nothing is marked).
  uint32_t FindFreeClusters(uint32_t count) const;
  uint32_t AllocateClusters(uint32_t count);
  // The bitmaps' bits, set or cleared whatever they held (for damage).
  bool ClusterBit(uint32_t lcn) const;
  void SetClusterBit(uint32_t lcn, bool used);
  void SetRecordBit(uint32_t n, bool used);
  // A record in memory form; an edit of one, written back with fix-ups.
  std::vector<uint8_t> ReadRecord(uint32_t n) const;
  void PatchRecord(uint32_t n, const std::function<void(uint8_t* image)>& edit);
  std::vector<ClusterRun> Runs(uint32_t n, uint32_t type) const;
  // Replaces the runs of record n's attribute of `type`, keeping its size.
  void SetRuns(uint32_t n, uint32_t type, const std::vector<ClusterRun>& runs);
  uint64_t RecordOffset(uint32_t n) const;
  uint64_t ClusterOffset(uint32_t lcn) const { return uint64_t{lcn} * geometry_.clusterSize; }
  std::vector<uint8_t> ReadBytes(uint64_t offset, size_t length) const;
  void WriteBytes(uint64_t offset, const std::vector<uint8_t>& bytes);

  // Each returns the new record, not yet in its parent's index (LinkNames,
  // BuildIndex). AT_DATA is resident, or in `runs` (marked used here).
  uint32_t AddFile(uint32_t parent, const std::string& name, const std::vector<uint8_t>& data,
                   const std::vector<ClusterRun>& runs = {});
  // AT_DATA in two instances (`first` from VCN 0, `second` behind it) named
  // by the base record's AT_ATTRIBUTE_LIST.
  ListFile AddListFile(uint32_t parent, const std::string& name,
                       const std::vector<ClusterRun>& first, const std::vector<ClusterRun>& second,
                       const std::vector<uint8_t>& data, ListLayout layout);
  uint32_t AddDirectory(uint32_t parent, const std::string& name);

  // Rewrites `directory`'s index as `shape` holding `names`, in free
  // clusters or `allocation` (blocks beyond the shape's left empty, unmarked).
  BuiltIndex BuildIndex(uint32_t directory, const IndexShape& shape, std::vector<IndexName> names,
                        const std::vector<ClusterRun>& allocation = {});
  // All names in one block under the root.
  BuiltIndex LinkNames(uint32_t directory, std::vector<IndexName> names);

  void PatchIndexBlock(const BuiltIndex& index, uint32_t vcn,
                       const std::function<void(uint8_t* block)>& edit);
  uint64_t IndexBlockOffset(const BuiltIndex& index, uint32_t vcn) const;

 private:
  struct Node {
    uint32_t number, parent;
    std::string name;
  };

  void LoadVolume();
  void MarkClustersUsed(uint32_t lcn, uint32_t count);
  bool RecordBit(uint32_t n) const;
  void WriteRecord(uint32_t n, const std::vector<uint8_t>& image);
  void WriteValue(const std::vector<ClusterRun>& runs, const std::vector<uint8_t>& bytes,
                  uint64_t offset = 0);
  uint64_t ValueOffset(const std::vector<ClusterRun>& runs, uint64_t offset) const;
  std::vector<uint8_t> ReadValue(const std::vector<ClusterRun>& runs, uint64_t offset,
                                 size_t length) const;
  void WriteExtension(uint32_t base, uint32_t n, const mkfs::NonResidentInstance& instance);
  std::vector<ClusterRun> TakeAllocation(uint32_t blocks, const std::vector<ClusterRun>& given);
  const Node& DirectoryNode(uint32_t directory) const;

  int fd_ = -1;
  ImageGeometry geometry_;
  std::vector<uint8_t> recordZero_;  // record 0, memory form
  std::vector<ClusterRun> mftRuns_;
  std::vector<ClusterRun> bitmapRuns_;
  std::vector<uint8_t> clusterBitmap_;
  std::vector<Node> directories_;
};

// Index order stated independently of the engine: a-z as A-Z, bytes signed,
// a prefix first.
bool IndexOrderBefore(const std::string& a, const std::string& b);

// The first attribute of `type` in a record image; throws when missing.
uint8_t* RequireAttribute(uint8_t* record, uint32_t recordSize, uint32_t type);
// A resident attribute of `type` holding `value`, for InsertAttributeBytes.
std::vector<uint8_t> ResidentAttribute(uint32_t type, const std::vector<uint8_t>& value);

}  // namespace vrax::test
