// The image toolkit: an ImageBuilder opens an unmounted image formatted by
// vrax-mkfs and adds what the formatter never makes: files in scattered
// runs (offsets going negative), files whose runs continue in extension
// records named by an attribute list, directory indexes of any shape, and
// the damage tests want. Everything is encoded with the on-disk codecs and
// the formatter's RecordBuilder and written straight into the image file.
// Misuse (no free record, clusters already taken, a node that does not fit
// its block) throws std::runtime_error, which fails the test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mkfs/record_builder.h"
#include "support/tool_runs.h"

namespace vrax::test {

using mkfs::ClusterRun;

// The volume's geometry and where its metadata lies.
struct ImageGeometry {
  uint32_t bytesPerSector = 0;
  uint32_t clusterSize = 0;
  uint32_t recordSize = 0;
  uint32_t indexBlockSize = 0;
  uint32_t clusterCount = 0;
  uint32_t totalSectors = 0;
  uint32_t mftRecords = 0;  // records the MFT holds
};

// One name of a directory index and the record its entry refers to.
struct IndexName {
  std::string name;
  uint32_t record = 0;
};

// The shape of one index node: `names` named entries and the sub-nodes
// hanging below some of them. A sub-node at slot i (i < names) hangs below
// named entry i and holds names that sort before it; slot `names` is the
// node's end entry, whose sub-node holds names that sort after all of them.
// The builder fills the names in, in collation order, by an in-order walk,
// so any shape gives a correctly ordered tree.
struct IndexShape {
  struct Below;
  uint32_t names = 0;
  std::vector<Below> below;

  static IndexShape Leaf(uint32_t names);
  // Hangs `child` below slot `slot`; returns *this for chaining.
  IndexShape& With(uint32_t slot, IndexShape child);
  // Every node has `fanout` names, each with a sub-node, and a sub-node
  // below its end entry too, down to `levels` levels of blocks.
  static IndexShape Full(uint32_t levels, uint32_t fanout);
  uint32_t TotalNames() const;
  uint32_t Blocks() const;  // nodes of the shape: the blocks it takes
};
struct IndexShape::Below {
  uint32_t slot = 0;
  IndexShape node;
};

constexpr uint32_t kNoBlock = 0xFFFFFFFFu;

// One INDX block as built.
struct IndexBlockInfo {
  uint32_t vcn = 0;
  std::vector<std::string> names;  // its named entries, in order
};

// What BuildIndex wrote, for the tests to check against and to damage.
struct BuiltIndex {
  uint32_t topVcn = kNoBlock;
  std::vector<ClusterRun> allocation;  // where AT_INDEX_ALLOCATION lies
  // By block number, children before their parents (block k at VCN k x B / C).
  std::vector<IndexBlockInfo> blocks;
  std::vector<IndexName> order;        // every name, in collation order
};

// Where a list file keeps its first AT_DATA instance; the second is always
// in an extension record.
enum class ListLayout { kFirstInExtension, kFirstInBase };

// The records of a list file: the base and the holders of both instances.
struct ListFile {
  uint32_t base = 0;
  uint32_t first = 0;
  uint32_t second = 0;
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
  // A record in memory form (fix-ups not applied); an edit of one, written
  // back with its fix-ups.
  std::vector<uint8_t> ReadRecord(uint32_t n) const;
  void PatchRecord(uint32_t n, const std::function<void(uint8_t* image)>& edit);
  // The runs of record n's non-resident attribute of `type`.
  std::vector<ClusterRun> Runs(uint32_t n, uint32_t type) const;
  // Gives record n's unnamed non-resident attribute of `type` the runs
  // `runs`, keeping its data size.
  void SetRuns(uint32_t n, uint32_t type, const std::vector<ClusterRun>& runs);
  uint64_t RecordOffset(uint32_t n) const;
  uint64_t ClusterOffset(uint32_t lcn) const;
  std::vector<uint8_t> ReadBytes(uint64_t offset, size_t length) const;
  void WriteBytes(uint64_t offset, const std::vector<uint8_t>& bytes);

  // Each returns the new record. No node is entered in its parent's index:
  // list it with LinkNames or BuildIndex. Every node gets AT_FILE_NAME
  // (parent, name) and a 20-byte AT_OSK_FILEDES carrying its size.
  // AT_DATA resident in the record, or in `runs` (marked used here).
  uint32_t AddFile(uint32_t parent, const std::string& name, const std::vector<uint8_t>& data,
                   const std::vector<ClusterRun>& runs = {});
  // AT_DATA in two instances: `first` runs from VCN 0 (carrying the sizes),
  // `second` runs from the VCN behind them, listed in the base record's
  // AT_ATTRIBUTE_LIST.
  ListFile AddListFile(uint32_t parent, const std::string& name,
                       const std::vector<ClusterRun>& first, const std::vector<ClusterRun>& second,
                       const std::vector<uint8_t>& data, ListLayout layout);
  uint32_t AddDirectory(uint32_t parent, const std::string& name);

  // Rewrites `directory`'s index: the root's end entry points at the top
  // block of `shape`, whose slots receive `names` sorted by the engine's
  // collation.
  // The allocation is taken from free clusters unless `allocation` names
  // them; blocks it holds beyond the shape's are left empty and unmarked.
  BuiltIndex BuildIndex(uint32_t directory, const IndexShape& shape, std::vector<IndexName> names,
                        const std::vector<ClusterRun>& allocation = {});
  // All names in one block under the root.
  BuiltIndex LinkNames(uint32_t directory, std::vector<IndexName> names);

  // An edit of a block in memory form, written back with fix-ups.
  void PatchIndexBlock(const BuiltIndex& index, uint32_t vcn,
                       const std::function<void(uint8_t* block)>& edit);
  // Byte offset of a block in the image (for damage below the fix-ups).
  uint64_t IndexBlockOffset(const BuiltIndex& index, uint32_t vcn) const;

 private:
  struct Node {
    uint32_t number;
    uint32_t parent;
    std::string name;
  };

  void LoadVolume();
  // Marks clusters used in the cluster bitmap; they must be free.
  void MarkClustersUsed(uint32_t lcn, uint32_t count);
  bool RecordBit(uint32_t n) const;
  void WriteRecord(uint32_t n, const std::vector<uint8_t>& image);
  // Writes `bytes` at `offset` of the value held in `runs`.
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

// Sorts `a` before `b` in the order a directory index keeps, stated
// independently of the engine: a-z compare as A-Z, bytes compare as signed
// values, a prefix comes first.
bool IndexOrderBefore(const std::string& a, const std::string& b);

// The first attribute of `type` in a record image, failing the test when
// it is missing.
uint8_t* RequireAttribute(uint8_t* record, uint32_t recordSize, uint32_t type);
// A resident attribute of `type` holding `value`, encoded as the engine
// encodes it, for InsertAttributeBytes.
std::vector<uint8_t> ResidentAttribute(uint32_t type, const std::vector<uint8_t>& value);

}  // namespace vrax::test
