#include "support/sample_volume.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "platform/error_codes.h"
#include "volume/format/descriptor.h"
#include "volume/format/record.h"
#include "volume/attributes/attributes.h"
#include "volume/index/index.h"
#include "volume/toolkit/toolkit.h"

namespace vrax::test {

// ---- the sample volume ----

SampleVolume BuildSampleVolume(const std::string& image, const std::string& mkfsArguments) {
  FormatImage(image, mkfsArguments);
  ImageBuilder b(image);
  const uint32_t K = b.geometry().clusterSize;
  SampleVolume v;
  v.readme = b.AddResidentFile(record::kRoot, "README", PatternBytes(100, 1));

  const uint32_t m = b.FindFreeClusters(48);
  v.multiRuns = {{m + 30, 3}, {m + 8, 5}, {m + 40, 1}, {m, 4}, {m + 20, 2}};
  v.multiSize = 15 * K - K / 2 - 3;
  v.multi = b.AddRunFile(record::kRoot, "multi.bin", v.multiRuns, PatternBytes(v.multiSize, 2));

  const uint32_t l = b.FindFreeClusters(40);
  v.listedSize = 11 * K - 100;
  v.listed = b.AddListFile(record::kRoot, "listed.bin", {{l + 20, 3}, {l + 2, 2}},
                           {{l + 30, 2}, {l + 10, 4}}, PatternBytes(v.listedSize, 3),
                           ListLayout::kFirstInExtension);

  const uint32_t a = v.a = b.AddDirectory(record::kRoot, "a");
  const uint32_t bb = b.AddDirectory(a, "b");
  const uint32_t c = b.AddDirectory(bb, "c");
  const uint32_t deep = b.AddResidentFile(c, "deep.txt", PatternBytes(300, 4));
  b.LinkNames(a, {{"b", bb}});
  b.LinkNames(bb, {{"c", c}});
  b.LinkNames(c, {{"deep.txt", deep}});

  v.tree = b.AddDirectory(record::kRoot, "tree");
  std::vector<IndexName> leaves;
  for (int i = 0; i < 26; ++i) {
    const std::string name = "leaf-" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    leaves.push_back({name, b.AddResidentFile(v.tree, name, PatternBytes(10 + i, 5))});
  }
  v.treeIndex = b.BuildIndex(v.tree, IndexShape::Full(3, 2), leaves);
  b.LinkNames(record::kRoot, {{"README", v.readme},
                              {"multi.bin", v.multi},
                              {"listed.bin", v.listed.base},
                              {"a", a},
                              {"tree", v.tree}});

  v.paths = {"/1",     "/1/README", "/1/multi.bin",      "/1/listed.bin", "/1/a",
             "/1/a/b", "/1/a/b/c",  "/1/a/b/c/deep.txt", "/1/tree"};
  for (const IndexName& leaf : leaves) v.paths.push_back("/1/tree/" + leaf.name);
  return v;
}

// ---- damaging copies of the sample volume ----

namespace {

struct SampleImage {
  TempDir dir;
  std::string path = dir.File("sample.img");
  SampleVolume volume = BuildSampleVolume(path);
};

const SampleImage& Sample() {
  static const SampleImage image;
  return image;
}

// Runs `f` with standard output and standard error captured and dropped.
template <typename F>
int32_t Quietly(F&& f) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int32_t result = f();
  std::fflush(stdout);
  ::testing::internal::GetCapturedStderr();
  ::testing::internal::GetCapturedStdout();
  return result;
}

}  // namespace

const SampleVolume& SampleVolumeTest::sample() { return Sample().volume; }

void SampleVolumeTest::SetUp() {
  image_ = dir_.File("damaged.img");
  WriteFileBytes(image_, ReadFileBytes(Sample().path));
  builder_ = std::make_unique<ImageBuilder>(image_);
  geometry_ = builder_->geometry();
}

ImageBuilder& SampleVolumeTest::builder() {
  if (builder_ == nullptr) throw std::runtime_error("the copy is mounted: damage it first");
  return *builder_;
}

void SampleVolumeTest::MountCopy() {
  builder_.reset();
  Mount(image_, false);
}

int32_t SampleVolumeTest::ReadResult(const std::string& path) {
  return Quietly([&] { return ReadEverything({path}); });
}

int32_t SampleVolumeTest::ReadAllResult() {
  return Quietly([&] { return ReadEverything(sample().paths); });
}

int32_t SampleVolumeTest::LookupResult(const std::string& directoryPath, const std::string& name) {
  return Quietly([&] {
    Toolkit* t = nullptr;
    int32_t error = ToolkitOpen(t, directoryPath.c_str());
    if (error != kOk) return error;
    uint32_t record = 0;
    error = IndexLookup(t, t->fileChain, name.data(), static_cast<uint32_t>(name.size()), record);
    ToolkitClose(t);
    return error;
  });
}

uint8_t* SampleVolumeTest::Attribute(uint8_t* record, uint32_t type) {
  return RequireAttribute(record, geometry_.recordSize, type);
}

// ---- reading back ----

namespace {

constexpr uint32_t kSlice = 4096;
constexpr uint32_t kMaxSlices = 64;
constexpr uint32_t kMaxReadBytes = 1u << 20;

int32_t ListAll(Toolkit* t) {
  std::vector<uint8_t> buffer(kSlice);
  uint32_t offset = 0;
  for (uint32_t slice = 0; slice < kMaxSlices; ++slice) {
    uint32_t delivered = 0;
    const int32_t error = ReadDirectory(t, offset, kSlice, buffer.data(), delivered);
    if (error != kOk || delivered < kSlice) return error;
    offset += delivered;
  }
  return kOk;
}

int32_t ReadAll(Toolkit* t) {
  uint32_t size = 0;
  int32_t error = FileSize(t, size);
  if (error != kOk) return error;
  uint8_t descriptor[kDescriptorSize] = {};
  error = ReadDescriptor(t, descriptor);
  if (error != kOk) return error;
  std::vector<uint8_t> buffer(kSlice);
  for (uint32_t offset = 0; offset < std::min(size, kMaxReadBytes);) {
    uint32_t done = 0;
    error = FileRead(t, offset, kSlice, buffer.data(), done);
    if (error != kOk || done == 0) return error;
    offset += done;
  }
  return kOk;
}

}  // namespace

int32_t ReadEverything(const std::vector<std::string>& paths) {
  int32_t first = kOk;
  for (const std::string& path : paths) {
    Toolkit* t = nullptr;
    int32_t error = ToolkitOpen(t, path.c_str());
    if (error == kOk) {
      error = IsDirectory(t) ? ListAll(t) : ReadAll(t);
      ToolkitClose(t);
    }
    if (first == kOk) first = error;
  }
  return first;
}

}  // namespace vrax::test
