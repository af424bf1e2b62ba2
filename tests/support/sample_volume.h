// The sample volume (one of each thing the image toolkit makes) and a
// fixture that damages fresh copies of it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/image_toolkit.h"
#include "support/volume_fixture.h"

namespace vrax::test {

//   /1/README (resident, 100 bytes), /1/empty.txt (0 bytes)
//   /1/multi.bin         five runs, two of them below the run before
//   /1/listed.bin        AT_DATA in two extension records via an attribute list
//   /1/inbase.bin        the same, its first instance in the base record
//   /1/a/note.txt, /1/a/b/c/deep.txt; /1/Docs, /1/hollow (empty; hollow's
//                        index root value 0 bytes)
//   /1/tree/leaf-00..25  in a three-level index (IndexShape::Full(3, 2))
//   /1/nodata, /1/shortdesc, /1/nodesc: no AT_DATA, a 10-byte descriptor,
//                        no descriptor; not in `paths` (reading them fails)
// Contents: PatternBytes(size, seed): README (100, 1), multi.bin (multiSize,
// 2), list files (listedSize, 3), deep.txt (300, 4), leaf-i (10 + i, 5),
// note.txt (30, 6).
struct SampleVolume {
  std::vector<std::string> paths;  // every readable file and directory, the root first
  ImageGeometry geometry;
  uint32_t readme = 0, empty = 0, multi = 0, a = 0, note = 0, b = 0, c = 0, deep = 0;
  uint32_t docs = 0, hollow = 0, tree = 0, nodata = 0, shortdesc = 0, nodesc = 0;
  std::vector<ClusterRun> multiRuns;
  uint32_t multiSize = 0;
  ListFile listed, inBase;
  std::vector<ClusterRun> listedRuns[2], inBaseRuns[2];  // each file's two instances
  uint32_t listedSize = 0;
  BuiltIndex treeIndex;
};

// A read of `count` bytes at `offset` of a file holding `content` gives the
// bytes up to its end and writes nothing beyond them.
bool ReadMatches(Toolkit* t, const std::vector<uint8_t>& content, uint32_t offset,
                 uint32_t count);

// The sample volume for `mkfsArguments`, built once per process.
struct SampleImage {
  std::string path;
  SampleVolume volume;
};
const SampleImage& SharedSample(const std::string& mkfsArguments = "--size 8M");

// Each test damages a fresh copy through builder(), then mounts it read-only.
class SampleVolumeTest : public VolumeTest {
 protected:
  void SetUp() override;

  static const SampleVolume& sample();
  ImageBuilder& builder();  // until MountCopy()
  static const ImageGeometry& geometry() { return sample().geometry; }
  void MountCopy();
  // Unmounts and starts from a fresh copy, for a table of damages.
  void FreshCopy() {
    Unmount();
    SetUp();
  }

  // The first error reading one path or every path of the sample, quietly.
  int32_t ReadResult(const std::string& path);
  int32_t ReadAllResult();
  int32_t LookupResult(const std::string& directoryPath, const std::string& name);
  uint8_t* Attribute(uint8_t* record, uint32_t type);

 private:
  std::unique_ptr<ImageBuilder> builder_;
};

}  // namespace vrax::test
