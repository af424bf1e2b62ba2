#include "support/sample_volume.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <stdexcept>

#include "platform/error_codes.h"
#include "volume/format/attribute.h"
#include "volume/format/bytes.h"
#include "volume/format/descriptor.h"
#include "volume/format/record.h"
#include "volume/attributes/attributes.h"
#include "volume/index/index.h"

namespace vrax::test {

namespace {

SampleVolume BuildSampleVolume(const std::string& image, const std::string& mkfsArguments) {
  FormatImage(image, mkfsArguments);
  ImageBuilder b(image);
  const uint32_t K = b.geometry().clusterSize, R = b.geometry().recordSize, root = record::kRoot;
  SampleVolume v;
  v.geometry = b.geometry();
  v.readme = b.AddFile(root, "README", PatternBytes(100, 1));
  v.empty = b.AddFile(root, "empty.txt", {});

  const uint32_t m = b.FindFreeClusters(48);
  v.multiRuns = {{m + 30, 3}, {m + 8, 5}, {m + 40, 1}, {m, 4}, {m + 20, 2}};
  v.multiSize = 15 * K - K / 2 - 3;
  v.multi = b.AddFile(root, "multi.bin", PatternBytes(v.multiSize, 2), v.multiRuns);

  v.listedSize = 11 * K - 100;
  for (ListLayout layout : {ListLayout::kFirstInExtension, ListLayout::kFirstInBase}) {
    const bool inBase = layout == ListLayout::kFirstInBase;
    std::vector<ClusterRun>* runs = inBase ? v.inBaseRuns : v.listedRuns;
    const uint32_t l = b.FindFreeClusters(40);
    runs[0] = {{l + 20, 3}, {l + 2, 2}};
    runs[1] = {{l + 30, 2}, {l + 10, 4}};
    (inBase ? v.inBase : v.listed) =
        b.AddListFile(root, inBase ? "inbase.bin" : "listed.bin", runs[0], runs[1],
                      PatternBytes(v.listedSize, 3), layout);
  }

  v.a = b.AddDirectory(root, "a");
  v.note = b.AddFile(v.a, "note.txt", PatternBytes(30, 6));
  v.b = b.AddDirectory(v.a, "b");
  v.c = b.AddDirectory(v.b, "c");
  v.deep = b.AddFile(v.c, "deep.txt", PatternBytes(300, 4));
  b.LinkNames(v.a, {{"b", v.b}, {"note.txt", v.note}});
  b.LinkNames(v.b, {{"c", v.c}});
  b.LinkNames(v.c, {{"deep.txt", v.deep}});
  v.docs = b.AddDirectory(root, "Docs");
  v.hollow = b.AddDirectory(root, "hollow");
  b.PatchRecord(v.hollow,
                [R](uint8_t* r) { SetAttrValueLength(RequireAttribute(r, R, AT_INDEX_ROOT), 0); });

  v.tree = b.AddDirectory(root, "tree");
  std::vector<IndexName> leaves;
  for (int i = 0; i < 26; ++i) {
    const std::string name = "leaf-" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    leaves.push_back({name, b.AddFile(v.tree, name, PatternBytes(10 + i, 5))});
  }
  v.treeIndex = b.BuildIndex(v.tree, IndexShape::Full(3, 2), leaves);

  auto damaged = [&](const std::string& name, const std::function<void(uint8_t*)>& edit) {
    const uint32_t n = b.AddFile(root, name, PatternBytes(10, 7));
    b.PatchRecord(n, edit);
    return n;
  };
  v.nodata =
      damaged("nodata", [R](uint8_t* r) { PutLE32(RequireAttribute(r, R, AT_DATA), AT_EA); });
  v.shortdesc = damaged("shortdesc", [R](uint8_t* r) {
    SetAttrValueLength(RequireAttribute(r, R, AT_OSK_FILEDES), 10);
  });
  v.nodesc = damaged("nodesc",
                     [R](uint8_t* r) { PutLE32(RequireAttribute(r, R, AT_OSK_FILEDES), AT_EA); });
  b.LinkNames(root, {{"README", v.readme}, {"empty.txt", v.empty}, {"multi.bin", v.multi},
                     {"listed.bin", v.listed.base}, {"inbase.bin", v.inBase.base},
                     {"a", v.a}, {"Docs", v.docs}, {"hollow", v.hollow}, {"tree", v.tree},
                     {"nodata", v.nodata}, {"shortdesc", v.shortdesc}, {"nodesc", v.nodesc}});

  v.paths = {"/1",         "/1/README",       "/1/empty.txt", "/1/multi.bin",      "/1/listed.bin",
             "/1/inbase.bin", "/1/a",         "/1/a/note.txt", "/1/a/b",           "/1/a/b/c",
             "/1/a/b/c/deep.txt", "/1/Docs",  "/1/tree"};
  for (const IndexName& leaf : leaves) v.paths.push_back("/1/tree/" + leaf.name);
  return v;
}

}  // namespace

bool ReadMatches(Toolkit* t, const std::vector<uint8_t>& content, uint32_t offset,
                 uint32_t count) {
  std::vector<uint8_t> buffer(count + 16, 0xA5);
  uint32_t done = 0xFFFFFFFFu;
  const uint32_t from = std::min(offset, static_cast<uint32_t>(content.size()));
  const uint32_t expected = std::min<uint32_t>(count, content.size() - from);
  if (FileRead(t, offset, count, buffer.data(), done) != 0 || done != expected) return false;
  std::vector<uint8_t> want(content.begin() + from, content.begin() + from + done);
  want.resize(buffer.size(), 0xA5);
  return buffer == want;
}

const SampleImage& SharedSample(const std::string& mkfsArguments) {
  static TempDir dir;
  static std::map<std::string, SampleImage> built;
  auto it = built.find(mkfsArguments);
  if (it == built.end()) {
    const std::string path = dir.File("sample-" + std::to_string(built.size()) + ".img");
    it = built.emplace(mkfsArguments, SampleImage{path, BuildSampleVolume(path, mkfsArguments)})
             .first;
  }
  return it->second;
}

namespace {

constexpr uint32_t kSlice = 4096;
constexpr uint32_t kMaxSlices = 64;
constexpr uint32_t kMaxReadBytes = 1u << 20;

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

// Lists each directory, reads each file's size, descriptor and data, in
// bounded slices (a damaged size cannot make it slow); the first error or 0.
int32_t ReadEverything(const std::vector<std::string>& paths) {
  int32_t first = kOk;
  std::vector<uint8_t> buffer(kSlice);
  for (const std::string& path : paths) {
    Toolkit* t = nullptr;
    int32_t error = ToolkitOpen(t, path.c_str());
    uint32_t size = IsDirectory(t) ? kSlice * kMaxSlices : 0, done = kSlice;
    uint8_t descriptor[kDescriptorSize] = {};
    if (error == kOk && !IsDirectory(t) && (error = FileSize(t, size)) == kOk) {
      error = ReadDescriptor(t, descriptor);
    }
    for (uint32_t offset = 0; error == kOk && offset < std::min(size, kMaxReadBytes) &&
                              done == kSlice; offset += done) {
      error = IsDirectory(t) ? ReadDirectory(t, offset, kSlice, buffer.data(), done)
                             : FileRead(t, offset, kSlice, buffer.data(), done);
    }
    ToolkitClose(t);
    if (first == kOk) first = error;
  }
  return first;
}

}  // namespace

const SampleVolume& SampleVolumeTest::sample() { return SharedSample().volume; }

void SampleVolumeTest::SetUp() {
  image_ = dir_.File("damaged.img");
  WriteFileBytes(image_, ReadFileBytes(SharedSample().path));
  builder_ = std::make_unique<ImageBuilder>(image_);
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
  return RequireAttribute(record, geometry().recordSize, type);
}

}  // namespace vrax::test
