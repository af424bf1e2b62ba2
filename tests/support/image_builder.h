// Hand-made volumes for the read-path and damage tests.
//
// An ImageBuilder opens an unmounted image formatted by vrax-mkfs and adds
// what the formatter never makes by itself: files whose data lies in
// scattered runs (some below earlier ones, so run offsets go negative),
// files whose runs continue in extension records named by an attribute
// list, and directories whose "$I30" index has any shape the test asks
// for. Every change goes straight into the image file, written with the
// on-disk codecs and the formatter's RecordBuilder, so what the engine
// mounts afterwards is exactly what the test built.
//
// The builder relies on what vrax-mkfs guarantees: the MFT lies in one run
// at the boot sector's MFT LCN and is never grown here (records are taken
// from the ones it already holds), and record 6's AT_DATA is the cluster
// bitmap. Misuse (no free record, clusters already taken, a node that does
// not fit its block) throws std::runtime_error, which fails the test.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mkfs/record_builder.h"
#include "support/volume_fixture.h"

namespace vrax::test {

using mkfs::ClusterRun;

// The volume's geometry and where its metadata lies.
struct ImageGeometry {
  uint32_t bytesPerSector = 0;
  uint32_t clusterSize = 0;
  uint32_t recordSize = 0;
  uint32_t indexBlockSize = 0;
  uint32_t clusterCount = 0;
  uint32_t mftLcn = 0;
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
  // The shapes this engine grows: each node's first entry carries the
  // sub-node, `levels` levels of `names` names each.
  static IndexShape FirstEntryChain(uint32_t levels, uint32_t names);

  const IndexShape* At(uint32_t slot) const;
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
  uint32_t parentVcn = kNoBlock;   // the block pointing here; kNoBlock below the root
  std::vector<std::string> names;  // its named entries, in order
};

// What BuildIndex wrote, for the tests to check against and to damage.
struct BuiltIndex {
  uint32_t directory = 0;
  uint32_t topVcn = kNoBlock;          // kNoBlock for an empty index
  std::vector<ClusterRun> allocation;  // where AT_INDEX_ALLOCATION lies
  std::vector<IndexBlockInfo> blocks;  // by block number (block k at VCN k x B / C)
  std::vector<IndexName> order;        // every name, in collation order

  const IndexBlockInfo& Block(uint32_t vcn) const;
};

// Where a list file keeps the first AT_DATA instance: in extension record
// A (the base then holds only the list and the node attributes), or in the
// base record itself. The second instance is always in extension record B.
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

  // ---- records and clusters ----
  // Takes the lowest free record number and marks it in record 0's bitmap.
  uint32_t AllocateRecord();
  // LCN of the first stretch of `count` free clusters (nothing is marked).
  uint32_t FindFreeClusters(uint32_t count) const;
  // Marks clusters used in the cluster bitmap; they must be free.
  void MarkClustersUsed(uint32_t lcn, uint32_t count);
  uint32_t AllocateClusters(uint32_t count);

  // A record in memory form (fix-ups not applied); written with its fix-ups.
  std::vector<uint8_t> ReadRecord(uint32_t n) const;
  void WriteRecord(uint32_t n, const std::vector<uint8_t>& image);
  void PatchRecord(uint32_t n, const std::function<void(uint8_t* image)>& edit);

  uint64_t RecordOffset(uint32_t n) const;
  uint64_t ClusterOffset(uint32_t lcn) const;
  std::vector<uint8_t> ReadBytes(uint64_t offset, size_t length) const;
  void WriteBytes(uint64_t offset, const std::vector<uint8_t>& bytes);
  // Writes `bytes` into the clusters of `runs`, one after the other; what
  // the runs hold beyond `bytes` is filled with 0xEE, so that a read past
  // the value's end would show.
  void WriteValue(const std::vector<ClusterRun>& runs, const std::vector<uint8_t>& bytes);

  // ---- files and directories ----
  // Each returns the new record. No node is entered in its parent's index:
  // list it with LinkNames or BuildIndex. Every node gets AT_FILE_NAME
  // (parent, name) and a 20-byte AT_OSK_FILEDES carrying its size.
  //
  // AT_DATA resident in the record.
  uint32_t AddResidentFile(uint32_t parent, const std::string& name,
                           const std::vector<uint8_t>& data);
  // AT_DATA in `runs` (marked used here), holding `data`.
  uint32_t AddRunFile(uint32_t parent, const std::string& name, const std::vector<ClusterRun>& runs,
                      const std::vector<uint8_t>& data);
  // AT_DATA in two instances: `first` runs from VCN 0 (carrying the sizes),
  // `second` runs from the VCN behind them, listed in the base record's
  // AT_ATTRIBUTE_LIST.
  ListFile AddListFile(uint32_t parent, const std::string& name,
                       const std::vector<ClusterRun>& first, const std::vector<ClusterRun>& second,
                       const std::vector<uint8_t>& data, ListLayout layout);
  uint32_t AddDirectory(uint32_t parent, const std::string& name);

  // ---- directory indexes ----
  // Rewrites `directory`'s index: the root's end entry points at the top
  // block of `shape`, whose slots receive `names` sorted by the engine's
  // collation. An empty shape gives the empty index of a new directory.
  // The allocation is taken from free clusters unless `allocation` names them.
  BuiltIndex BuildIndex(uint32_t directory, const IndexShape& shape, std::vector<IndexName> names,
                        const std::vector<ClusterRun>& allocation = {});
  // All names in one block under the root (the empty index for none).
  BuiltIndex LinkNames(uint32_t directory, std::vector<IndexName> names);

  // A block in memory form, and an edit of it written back with fix-ups.
  std::vector<uint8_t> ReadIndexBlock(const BuiltIndex& index, uint32_t vcn) const;
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
  void WriteClusterBitmap();
  uint64_t ValueOffset(const std::vector<ClusterRun>& runs, uint64_t offset) const;
  uint32_t NewFileRecord(uint32_t parent, const std::string& name, uint32_t size,
                         mkfs::RecordBuilder& record);
  void WriteExtension(uint32_t base, uint32_t n, const mkfs::NonResidentInstance& instance);
  std::vector<ClusterRun> TakeAllocation(uint32_t blocks, const std::vector<ClusterRun>& given);
  const Node& DirectoryNode(uint32_t directory) const;

  int fd_ = -1;
  ImageGeometry geometry_;
  std::vector<uint8_t> recordZero_;  // record 0, memory form
  std::vector<ClusterRun> bitmapRuns_;
  std::vector<uint8_t> clusterBitmap_;
  std::vector<Node> directories_;
};

// A volume holding one of each thing the builder makes, for tests that
// damage a good volume and for reading everything back:
//
//   /1/README            a resident file (100 bytes)
//   /1/multi.bin         five runs, two of them below the run before
//   /1/listed.bin        AT_DATA in extension records A and B, through an
//                        attribute list (ListLayout::kFirstInExtension)
//   /1/a/b/c/deep.txt    nested directories, each index one block
//   /1/tree/leaf-00..25  26 files in a three-level index (IndexShape::Full(3, 2))
struct SampleVolume {
  std::vector<std::string> paths;  // every file and directory above, the root first
  uint32_t readme = 0;
  uint32_t multi = 0;
  std::vector<ClusterRun> multiRuns;
  uint32_t multiSize = 0;
  ListFile listed;
  uint32_t listedSize = 0;
  uint32_t a = 0;
  uint32_t tree = 0;
  BuiltIndex treeIndex;
};

SampleVolume BuildSampleVolume(const std::string& image,
                               const std::string& mkfsArguments = "--size 8M");

// Each test gets a fresh copy of the sample volume (built once per process)
// to damage through builder(); MountCopy() then mounts the copy read-only.
class SampleVolumeTest : public VolumeTest {
 protected:
  void SetUp() override;

  static const SampleVolume& sample();
  // The builder on the copy, until MountCopy().
  ImageBuilder& builder();
  const ImageGeometry& geometry() const { return geometry_; }
  // Closes the builder and mounts the copy, read-only, as drive "/1".
  void MountCopy();
  // Unmounts and starts again from a fresh copy, for a table of damages
  // run inside one test.
  void FreshCopy() {
    Unmount();
    SetUp();
  }

  // What the engine answers for one path (ReadEverything) and for every
  // path of the sample, with its console output swallowed.
  int32_t ReadResult(const std::string& path);
  int32_t ReadAllResult();
  // IndexLookup of `name` in the directory at `directoryPath`.
  int32_t LookupResult(const std::string& directoryPath, const std::string& name);
  // An attribute of a record image in memory, failing the test when missing.
  uint8_t* Attribute(uint8_t* record, uint32_t type);

 private:
  std::unique_ptr<ImageBuilder> builder_;
  ImageGeometry geometry_;
};

// Runs vrax-mkfs on `image` (see FormatVolume), failing the test if it fails.
void FormatImage(const std::string& image, const std::string& arguments);

// Opens every path (drive "/1" mounted) and reads what it names through the
// engine's entry points: a directory is listed in 4096-byte slices, a file's
// size, descriptor and data are read. Returns the first error, 0 when every
// step succeeded. Reads are bounded, so a damaged size cannot make it slow.
int32_t ReadEverything(const std::vector<std::string>& paths);

}  // namespace vrax::test
