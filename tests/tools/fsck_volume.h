// Test helpers for the checker's tests: a formatted image held in memory
// that tests populate with files and directories, written record by record
// with the on-disk codecs as the engine would write them, and then damage
// on purpose; and the running of the vrax-fsck binary.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vrax::fsck_test {

// `length` clusters at `lcn`.
struct ClusterExtent {
  uint32_t lcn = 0;
  uint32_t length = 0;
};

// A name in a directory index and the record it names.
using IndexName = std::pair<std::string, uint32_t>;

class FsckVolume {
 public:
  // Loads an image that vrax-mkfs formatted.
  explicit FsckVolume(const std::string& path);
  void Save(const std::string& path) const;

  std::vector<uint8_t>& bytes() { return bytes_; }
  uint32_t clusterSize() const { return clusterSize_; }
  uint32_t recordSize() const { return recordSize_; }
  uint32_t blockSize() const { return blockSize_; }
  uint32_t clusterCount() const { return clusterCount_; }

  // Record n with its fix-ups applied, and written back (fix-ups applied to
  // a copy on the way).
  std::vector<uint8_t> ReadRecord(uint32_t n) const;
  void WriteRecord(uint32_t n, const std::vector<uint8_t>& image);
  uint64_t RecordOffset(uint32_t n) const;

  bool RecordBit(uint32_t n) const;
  void SetRecordBit(uint32_t n, bool inUse);
  bool ClusterBit(uint32_t k) const;
  void SetClusterBit(uint32_t k, bool inUse);

  // Takes the first free record (marking it) and the first free run of
  // `count` clusters (marking them).
  uint32_t NewRecord();
  uint32_t NewClusters(uint32_t count);
  // Adds `extra` records to the MFT in a second run, the way the engine
  // grows it: new empty records, a longer record bitmap.
  void GrowMft(uint32_t extra);

  // Writes record n as a file named `name` in `parent` whose AT_DATA holds
  // `dataSize` bytes in fresh clusters (resident when `dataSize` is 0).
  void WriteFile(uint32_t n, uint32_t parent, const std::string& name, uint32_t dataSize);
  // Writes record n as a directory holding `names` (in index order). Up to
  // two names go into one block; more make a two-level tree: the first half
  // in a child block hung under the top block's first entry.
  void WriteDirectory(uint32_t n, uint32_t parent, const std::string& name,
                      const std::vector<IndexName>& names);

  // Rewrites record n's non-resident attribute of `type` to hold `runs`,
  // keeping its name and data size.
  void SetRuns(uint32_t n, uint32_t type, const std::vector<ClusterExtent>& runs);
  // Rewrites record n with its first attribute of `type` replaced by the
  // raw `attribute` bytes.
  void ReplaceAttribute(uint32_t n, uint32_t type, const std::vector<uint8_t>& attribute);

  // Moves record n's attribute of `type` into a new extension record and
  // gives record n the attribute list that names it, as the engine does
  // when a record overflows. Returns the extension's record number.
  uint32_t MoveToExtension(uint32_t n, uint32_t type);

  // Reads index block `block` of directory n (fix-ups applied) and writes
  // it back.
  std::vector<uint8_t> ReadIndexBlock(uint32_t n, uint32_t block) const;
  void WriteIndexBlock(uint32_t n, uint32_t block, const std::vector<uint8_t>& image);

  // The extents of record n's attribute of `type`.
  std::vector<ClusterExtent> Extents(uint32_t n, uint32_t type) const;
  // Disk offset of index block `block` of directory n.
  uint64_t IndexBlockOffset(uint32_t n, uint32_t block) const;

 private:
  void WriteClusters(uint32_t lcn, const std::vector<uint8_t>& data);
  std::vector<uint8_t> BuildIndexBlock(uint32_t vcn, uint32_t parent,
                                       const std::vector<IndexName>& names, bool firstHasChild,
                                       uint32_t childVcn) const;

  std::vector<uint8_t> bytes_;
  uint32_t bytesPerSector_ = 0;
  uint32_t clusterSize_ = 0;
  uint32_t recordSize_ = 0;
  uint32_t blockSize_ = 0;
  uint32_t clusterCount_ = 0;
  uint32_t bitmapLcn_ = 0;
};

// Whole-image reads and writes (the images are megabytes and the tests
// make many copies).
std::vector<uint8_t> LoadImage(const std::string& path);
void StoreImage(const std::string& path, const std::vector<uint8_t>& bytes);

struct FsckResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::vector<std::string> lines;
  std::string output;  // all of standard output
  std::string errors;  // all of standard error

  // True when some line contains `text`.
  bool Has(const std::string& text) const;
};

// Runs the vrax-fsck binary on `image` with `options`,
// under a time limit so that a hang fails the test instead of stalling it
// (exit code 124); a sanitizer finding gives exit code 86.
FsckResult RunFsck(const std::string& image, const std::string& options = "");

// Formats `path` with vrax-mkfs and the given extra options; asserts success.
void Format(const std::string& path, const std::string& options = "");

}  // namespace vrax::fsck_test
