#include "support/image_toolkit.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "mkfs/node_records.h"
#include "platform/error_codes.h"
#include "volume/attributes/record_edit.h"
#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/boot_sector.h"
#include "volume/format/bytes.h"
#include "volume/format/descriptor.h"
#include "volume/format/file_name.h"
#include "volume/format/fixup.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"
#include "volume/format/runlist.h"
#include "volume/index/index.h"

namespace vrax::test {

namespace {

const std::string kIndexName = "$I30";
const Stamp kWhen{2024, 5, 6, 7, 8};

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("image builder: " + what);
}

uint32_t ClustersOf(const std::vector<ClusterRun>& runs) {
  uint32_t clusters = 0;
  for (const ClusterRun& run : runs) clusters += run.length;
  return clusters;
}

std::vector<ClusterRun> DecodeRuns(const uint8_t* a) {
  const uint32_t offset = AttrRunListOffset(a);
  std::vector<ClusterRun> runs;
  if (!AttrIsNonResident(a) || offset >= AttrLength(a) ||
      !DecodeRunList(a + offset, AttrLength(a) - offset, runs)) {
    Fail("attribute has no sound run list");
  }
  return runs;
}

uint8_t* RequireAttribute(std::vector<uint8_t>& image, uint32_t type) {
  return test::RequireAttribute(image.data(), static_cast<uint32_t>(image.size()), type);
}

std::vector<uint8_t> FirstAttribute(const mkfs::RecordBuilder& record) {
  std::vector<uint8_t> image = record.image();
  AttributeWalk walk(image.data(), static_cast<uint32_t>(image.size()));
  const uint8_t* a = walk.Next();
  if (a == nullptr) Fail("attribute does not fit a record");
  return std::vector<uint8_t>(a, a + AttrLength(a));
}

// A named index entry; its sub-node field is filled when `childVcn` is a block.
std::vector<uint8_t> NamedEntry(const IndexName& n, uint32_t parent, uint32_t childVcn) {
  const uint32_t length = static_cast<uint32_t>(n.name.size());
  std::vector<uint8_t> e(NamedEntrySize(length), 0);
  PutLE64(e.data() + ie::kReference, n.record);
  PutLE16(e.data() + ie::kLength, static_cast<uint16_t>(e.size()));
  EncodeFileName(e.data() + ie::kKey, parent, n.name.data(), length);
  if (childVcn != kNoBlock) {
    e[ie::kFlags] = ie::kHasSubNode;
    SetEntrySubNode(e.data(), childVcn);
  }
  return e;
}

bool CollatesBefore(const IndexName& a, const IndexName& b) {
  const std::vector<uint8_t> entry = NamedEntry(a, 0, kNoBlock);
  return CollateNames(entry.data(), b.name.data(), static_cast<uint32_t>(b.name.size())) < 0;
}

// A node with its names placed: (name index, sub-node block or kNoBlock)
// per entry. Blocks are numbered children first, so the top block is last.
struct PlacedNode {
  std::vector<std::pair<uint32_t, uint32_t>> entries;
  uint32_t endChild = kNoBlock;
};

uint32_t Place(const IndexShape& shape, uint32_t& nextName, std::vector<PlacedNode>& out) {
  PlacedNode node;
  for (uint32_t slot = 0; slot <= shape.names; ++slot) {
    uint32_t child = kNoBlock;
    for (const IndexShape::Below& b : shape.below) {
      if (b.slot == slot) child = Place(b.node, nextName, out);
    }
    if (slot < shape.names) node.entries.emplace_back(nextName++, child);
    else node.endChild = child;
  }
  out.push_back(node);
  return static_cast<uint32_t>(out.size() - 1);
}

}  // namespace

IndexShape IndexShape::Leaf(uint32_t names) { return IndexShape{names, {}}; }

IndexShape& IndexShape::With(uint32_t slot, IndexShape child) {
  below.push_back(Below{slot, std::move(child)});
  return *this;
}

IndexShape IndexShape::Full(uint32_t levels, uint32_t fanout) {
  IndexShape shape = Leaf(fanout);
  for (uint32_t slot = 0; levels > 1 && slot <= fanout; ++slot)
    shape.With(slot, Full(levels - 1, fanout));
  return shape;
}

uint32_t IndexShape::TotalNames() const {
  uint32_t total = names;
  for (const Below& b : below) total += b.node.TotalNames();
  return total;
}

uint32_t IndexShape::Blocks() const {
  uint32_t blocks = 1;
  for (const Below& b : below) blocks += b.node.Blocks();
  return blocks;
}

ImageBuilder::ImageBuilder(const std::string& image) {
  fd_ = ::open(image.c_str(), O_RDWR);
  if (fd_ < 0) Fail("cannot open " + image);
  LoadVolume();
  directories_.push_back(Node{record::kRoot, record::kRoot, "."});
}

ImageBuilder::~ImageBuilder() {
  if (fd_ >= 0) ::close(fd_);
}

void ImageBuilder::LoadVolume() {
  BootSector boot;
  const std::vector<uint8_t> sector = ReadBytes(0, 512);
  if (DecodeBootSector(sector.data(), 512, boot) != kOk) Fail("no boot sector");
  ImageGeometry& g = geometry_;
  g.bytesPerSector = boot.bytesPerSector;
  g.clusterSize = boot.bytesPerSector * boot.sectorsPerCluster;
  g.recordSize = SizeFromCode(boot.recordSizeCode, g.clusterSize);
  g.indexBlockSize = SizeFromCode(boot.indexBlockSizeCode, g.clusterSize);
  g.clusterCount = boot.totalSectors / boot.sectorsPerCluster;
  g.totalSectors = boot.totalSectors;
  mftRuns_ = {{boot.mftLcn, std::max(1u, g.recordSize / g.clusterSize)}};
  g.mftRecords = 1;
  recordZero_ = ReadRecord(record::kMft);
  const uint8_t* mft = RequireAttribute(recordZero_, AT_DATA);
  mftRuns_ = DecodeRuns(mft);
  g.mftRecords = AttrInitializedSize(mft) / g.recordSize;
  std::vector<uint8_t> bitmapFile = ReadRecord(record::kClusterBitmap);
  const uint8_t* bitmap = RequireAttribute(bitmapFile, AT_DATA);
  bitmapRuns_ = DecodeRuns(bitmap);
  clusterBitmap_ = ReadValue(bitmapRuns_, 0, AttrInitializedSize(bitmap));
}

std::vector<uint8_t> ImageBuilder::ReadBytes(uint64_t offset, size_t length) const {
  std::vector<uint8_t> bytes(length, 0);
  const ssize_t got = ::pread(fd_, bytes.data(), length, static_cast<off_t>(offset));
  if (got != static_cast<ssize_t>(length)) Fail("short read at " + std::to_string(offset));
  return bytes;
}

void ImageBuilder::WriteBytes(uint64_t offset, const std::vector<uint8_t>& bytes) {
  const ssize_t put = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
  if (put != static_cast<ssize_t>(bytes.size())) Fail("short write at " + std::to_string(offset));
}

uint64_t ImageBuilder::RecordOffset(uint32_t n) const {
  if (n >= geometry_.mftRecords) Fail("record " + std::to_string(n) + " beyond the MFT");
  return ValueOffset(mftRuns_, static_cast<uint64_t>(n) * geometry_.recordSize);
}

uint64_t ImageBuilder::ValueOffset(const std::vector<ClusterRun>& runs, uint64_t offset) const {
  for (const ClusterRun& run : runs) {
    const uint64_t bytes = static_cast<uint64_t>(run.length) * geometry_.clusterSize;
    if (offset < bytes) return ClusterOffset(run.lcn) + offset;
    offset -= bytes;
  }
  Fail("offset beyond the runs");
}

// Values are read and written cluster by cluster: runs end at cluster edges.
std::vector<uint8_t> ImageBuilder::ReadValue(const std::vector<ClusterRun>& runs, uint64_t offset,
                                             size_t length) const {
  std::vector<uint8_t> bytes;
  while (bytes.size() < length) {
    const uint64_t at = offset + bytes.size();
    const size_t n =
        std::min<size_t>(length - bytes.size(), geometry_.clusterSize - at % geometry_.clusterSize);
    const std::vector<uint8_t> part = ReadBytes(ValueOffset(runs, at), n);
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  return bytes;
}

void ImageBuilder::WriteValue(const std::vector<ClusterRun>& runs,
                              const std::vector<uint8_t>& bytes, uint64_t offset) {
  for (size_t done = 0; done < bytes.size();) {
    const uint64_t at = offset + done;
    const size_t n =
        std::min<size_t>(bytes.size() - done, geometry_.clusterSize - at % geometry_.clusterSize);
    WriteBytes(ValueOffset(runs, at),
               std::vector<uint8_t>(bytes.begin() + done, bytes.begin() + done + n));
    done += n;
  }
}

std::vector<uint8_t> ImageBuilder::ReadRecord(uint32_t n) const {
  std::vector<uint8_t> image = ReadBytes(RecordOffset(n), geometry_.recordSize);
  if (FixupAfterRead(image.data(), geometry_.recordSize) != kOk) Fail("record fix-up mismatch");
  return image;
}

void ImageBuilder::WriteRecord(uint32_t n, const std::vector<uint8_t>& image) {
  std::vector<uint8_t> disk = image;
  if (FixupBeforeWrite(disk.data(), geometry_.recordSize) != kOk) Fail("record fix-up");
  WriteBytes(RecordOffset(n), disk);
  if (n == record::kMft) recordZero_ = image;
}

std::vector<ClusterRun> ImageBuilder::Runs(uint32_t n, uint32_t type) const {
  std::vector<uint8_t> image = ReadRecord(n);
  return DecodeRuns(RequireAttribute(image, type));
}

void ImageBuilder::SetRuns(uint32_t n, uint32_t type, const std::vector<ClusterRun>& runs) {
  std::vector<uint8_t> image = ReadRecord(n);
  const uint8_t* a = RequireAttribute(image, type);
  mkfs::RecordBuilder holder(geometry_.recordSize, geometry_.bytesPerSector);
  holder.AddNonResident(type, "", mkfs::WholeValue(runs, AttrDataSize(a), geometry_.clusterSize));
  const std::vector<uint8_t> attribute = FirstAttribute(holder);
  PatchRecord(n, [&](uint8_t* r) {
    uint8_t* old = test::RequireAttribute(r, geometry_.recordSize, type);
    const uint32_t at = static_cast<uint32_t>(old - r), length = AttrLength(old);
    const int64_t delta = static_cast<int64_t>(attribute.size()) - length;
    if (!ShiftRecordTail(r, geometry_.recordSize, at + length, delta)) Fail("record full");
    std::copy(attribute.begin(), attribute.end(), r + at);
  });
}

bool ImageBuilder::RecordBit(uint32_t n) const {
  std::vector<uint8_t> zero = recordZero_;
  return (AttrValue(RequireAttribute(zero, AT_BITMAP))[n / 8] >> (n % 8) & 1) != 0;
}

void ImageBuilder::SetRecordBit(uint32_t n, bool used) {
  uint8_t& byte = AttrValue(RequireAttribute(recordZero_, AT_BITMAP))[n / 8];
  byte = static_cast<uint8_t>(used ? byte | (1u << (n % 8)) : byte & ~(1u << (n % 8)));
  WriteRecord(record::kMft, recordZero_);
}

bool ImageBuilder::ClusterBit(uint32_t lcn) const {
  return (clusterBitmap_[lcn / 8] >> (lcn % 8) & 1) != 0;
}

void ImageBuilder::SetClusterBit(uint32_t lcn, bool used) {
  uint8_t& byte = clusterBitmap_[lcn / 8];
  byte = static_cast<uint8_t>(used ? byte | (1u << (lcn % 8)) : byte & ~(1u << (lcn % 8)));
  WriteValue(bitmapRuns_, {byte}, lcn / 8);
}

void ImageBuilder::PatchRecord(uint32_t n, const std::function<void(uint8_t*)>& edit) {
  std::vector<uint8_t> image = ReadRecord(n);
  edit(image.data());
  WriteRecord(n, image);
}

uint32_t ImageBuilder::AllocateRecord() {
  for (uint32_t n = 0; n < geometry_.mftRecords; ++n) {
    if (!RecordBit(n)) {
      SetRecordBit(n, true);
      return n;
    }
  }
  Fail("no free record");
}

uint32_t ImageBuilder::FindFreeClusters(uint32_t count) const {
  uint32_t start = 0, found = 0;
  for (uint32_t lcn = 0; lcn < geometry_.clusterCount; ++lcn) {
    found = ClusterBit(lcn) ? 0 : found + 1;
    if (found == 1) start = lcn;
    if (found == count) return start;
  }
  Fail("no " + std::to_string(count) + " free clusters");
}

void ImageBuilder::MarkClustersUsed(uint32_t lcn, uint32_t count) {
  if (static_cast<uint64_t>(lcn) + count > geometry_.clusterCount) Fail("clusters beyond volume");
  for (uint32_t c = lcn; c < lcn + count; ++c) {
    if (ClusterBit(c)) Fail("cluster " + std::to_string(c) + " already used");
    SetClusterBit(c, true);
  }
}

uint32_t ImageBuilder::AllocateClusters(uint32_t count) {
  const uint32_t lcn = FindFreeClusters(count);
  MarkClustersUsed(lcn, count);
  return lcn;
}

uint32_t ImageBuilder::AddFile(uint32_t parent, const std::string& name,
                               const std::vector<uint8_t>& data,
                               const std::vector<ClusterRun>& runs) {
  const uint32_t size = static_cast<uint32_t>(data.size());
  mkfs::RecordBuilder record(geometry_.recordSize, geometry_.bytesPerSector);
  const Descriptor d = NewNodeDescriptor(kDescNewFile, size, kWhen);
  bool fits = mkfs::AddNodeAttributes(record, parent, name, d);
  if (runs.empty()) {
    fits = fits && record.AddResident(AT_DATA, "", data);
  } else {
    for (const ClusterRun& run : runs) MarkClustersUsed(run.lcn, run.length);
    WriteValue(runs, data);
    const uint32_t K = geometry_.clusterSize;
    fits = fits && record.AddNonResident(AT_DATA, "", mkfs::WholeValue(runs, size, K));
    record.SetFlags(record::kFlagInUse);  // as on a record holding a non-resident value
  }
  if (!fits) Fail("file does not fit its record");
  const uint32_t n = AllocateRecord();
  WriteRecord(n, record.image());
  return n;
}

namespace {

// One entry per attribute instance, in type order, naming its record.
std::vector<uint8_t> ListValue(const ListFile& f, uint32_t secondVcn) {
  const AttributeListEntry entries[] = {
      {AT_STANDARD_INFORMATION, 0, 0, 0, 0, f.base, 0},
      {AT_FILE_NAME, 0, 0, 0, 0, f.base, 0},
      {AT_DATA, 0, 0, 0, 0, f.first, 0},
      {AT_DATA, 0, 0, 0, secondVcn, f.second, 0},
      {AT_OSK_FILEDES, 0, 0, 0, 0, f.base, 0},
  };
  std::vector<uint8_t> list(std::size(entries) * kAttributeListEntrySize);
  for (size_t i = 0; i < std::size(entries); ++i) {
    EncodeAttributeListEntry(list.data() + i * kAttributeListEntrySize, entries[i]);
  }
  return list;
}

}  // namespace

// Instance 1 carries the value's sizes; instance 2 has sizes 0.
ListFile ImageBuilder::AddListFile(uint32_t parent, const std::string& name,
                                   const std::vector<ClusterRun>& first,
                                   const std::vector<ClusterRun>& second,
                                   const std::vector<uint8_t>& data, ListLayout layout) {
  const uint32_t K = geometry_.clusterSize;
  const uint32_t size = static_cast<uint32_t>(data.size());
  std::vector<ClusterRun> all = first;
  all.insert(all.end(), second.begin(), second.end());
  for (const ClusterRun& run : all) MarkClustersUsed(run.lcn, run.length);
  WriteValue(all, data);

  ListFile f;
  f.base = AllocateRecord();
  f.first = layout == ListLayout::kFirstInBase ? f.base : AllocateRecord();
  f.second = AllocateRecord();
  mkfs::NonResidentInstance one = mkfs::WholeValue(first, size, K);
  one.allocatedSize = ClustersOf(all) * K;
  one.lastVcn = ClustersOf(first) - 1;
  mkfs::NonResidentInstance two;
  two.runs = second;
  two.firstVcn = ClustersOf(first);
  two.lastVcn = size == 0 ? 0 : (size - 1) / K;

  mkfs::RecordBuilder base(geometry_.recordSize, geometry_.bytesPerSector);
  std::vector<uint8_t> descriptor(kDescriptorSize);
  EncodeDescriptor(NewNodeDescriptor(kDescNewFile, size, kWhen), descriptor.data());
  bool fits = mkfs::AddNameAttributes(base, parent, name) &&
              base.AddResident(AT_OSK_FILEDES, "", descriptor) &&
              base.AddResident(AT_ATTRIBUTE_LIST, "", ListValue(f, two.firstVcn));
  if (layout == ListLayout::kFirstInBase) {
    fits = fits && base.AddNonResident(AT_DATA, "", one);
    base.SetFlags(record::kFlagInUse);
  }
  if (!fits) Fail("list file base record does not fit");
  WriteRecord(f.base, base.image());
  if (layout == ListLayout::kFirstInExtension) WriteExtension(f.base, f.first, one);
  WriteExtension(f.base, f.second, two);
  return f;
}

void ImageBuilder::WriteExtension(uint32_t base, uint32_t n,
                                  const mkfs::NonResidentInstance& instance) {
  mkfs::RecordBuilder record(geometry_.recordSize, geometry_.bytesPerSector);
  record.SetBaseRecord(base);
  record.SetFlags(record::kFlagInUse);
  if (!record.AddNonResident(AT_DATA, "", instance)) Fail("instance does not fit");
  WriteRecord(n, record.image());
}

uint32_t ImageBuilder::AddDirectory(uint32_t parent, const std::string& name) {
  const mkfs::RecordBuilder record =
      mkfs::NewDirectoryRecord(geometry_.recordSize, geometry_.bytesPerSector, parent, name, kWhen);
  const uint32_t n = AllocateRecord();
  WriteRecord(n, record.image());
  directories_.push_back(Node{n, parent, name});
  return n;
}

const ImageBuilder::Node& ImageBuilder::DirectoryNode(uint32_t directory) const {
  for (const Node& node : directories_) {
    if (node.number == directory) return node;
  }
  Fail("record " + std::to_string(directory) + " is not a directory made here");
}

BuiltIndex ImageBuilder::LinkNames(uint32_t directory, std::vector<IndexName> names) {
  const IndexShape shape = IndexShape::Leaf(static_cast<uint32_t>(names.size()));
  return BuildIndex(directory, shape, std::move(names));
}

namespace {

uint32_t BlockToVcn(const ImageGeometry& g, uint32_t block) {
  return block == kNoBlock ? kNoBlock : block * (g.indexBlockSize / g.clusterSize);
}

void SortForShape(std::vector<IndexName>& names, const IndexShape& shape) {
  if (names.size() != shape.TotalNames()) Fail("the shape holds a different number of names");
  std::stable_sort(names.begin(), names.end(), CollatesBefore);
}

IndexBlockInfo BuildBlock(const ImageGeometry& g, uint8_t* b, uint32_t block,
                          const PlacedNode& node, const std::vector<IndexName>& names,
                          uint32_t directory) {
  const uint32_t B = g.indexBlockSize;
  auto vcn = [&g](uint32_t k) { return BlockToVcn(g, k); };
  BuildEmptyBlock(b, B, g.bytesPerSector, vcn(block));
  IndexBlockInfo info{vcn(block), {}};
  uint32_t at = BlockEntriesStart(b);
  for (const auto& [name, child] : node.entries) {
    const std::vector<uint8_t> e = NamedEntry(names[name], directory, vcn(child));
    if (at + e.size() + ie::kEndEntrySize > B) Fail("node does not fit its block");
    std::copy(e.begin(), e.end(), b + at);
    at += static_cast<uint32_t>(e.size());
    info.names.push_back(names[name].name);
  }
  SetBlockBytesInUse(b, BlockBytesInUse(b) + at - BlockEntriesStart(b));
  WriteEndEntry(b + at, node.endChild != kNoBlock, vcn(node.endChild));
  FixupBeforeWrite(b, B);
  return info;
}

void AddIndexAttributes(const ImageGeometry& g, mkfs::RecordBuilder& record,
                        const BuiltIndex& built, uint32_t blocks, uint32_t held) {
  std::vector<uint8_t> root(ie::kNewRootSize);
  BuildEmptyRoot(root.data());
  WriteEndEntry(root.data() + ie::kRootFirstEntry, true, built.topVcn);
  std::vector<uint8_t> bitmap((held + 7) / 8, 0);
  for (uint32_t k = 0; k < blocks; ++k)
    bitmap[k / 8] = static_cast<uint8_t>(bitmap[k / 8] | (1u << (k % 8)));
  const mkfs::NonResidentInstance allocation =
      mkfs::WholeValue(built.allocation, held * g.indexBlockSize, g.clusterSize);
  if (!record.AddResident(AT_INDEX_ROOT, kIndexName, root) ||
      !record.AddNonResident(AT_INDEX_ALLOCATION, kIndexName, allocation) ||
      !record.AddResident(AT_BITMAP, kIndexName, bitmap)) {
    Fail("index attributes do not fit the directory record");
  }
  record.SetFlags(record::kFlagInUse | record::kFlagDirectory);
}

}  // namespace

BuiltIndex ImageBuilder::BuildIndex(uint32_t directory, const IndexShape& shape,
                                    std::vector<IndexName> names,
                                    const std::vector<ClusterRun>& allocation) {
  const Node node = DirectoryNode(directory);
  SortForShape(names, shape);
  BuiltIndex built;
  built.order = names;
  mkfs::RecordBuilder record(geometry_.recordSize, geometry_.bytesPerSector);
  const Descriptor d = NewNodeDescriptor(kDescNewDirectory, kDirectorySizeField, kWhen);
  mkfs::AddNodeAttributes(record, node.parent, node.name, d);
  std::vector<PlacedNode> placed;
  uint32_t nextName = 0;
  const uint32_t top = Place(shape, nextName, placed);
  const uint32_t blocks = static_cast<uint32_t>(placed.size());
  built.allocation = TakeAllocation(blocks, allocation);
  const uint32_t B = geometry_.indexBlockSize;
  const uint32_t held = ClustersOf(built.allocation) / (B / geometry_.clusterSize);
  std::vector<uint8_t> value(static_cast<size_t>(held) * B, 0);
  for (uint32_t k = 0; k < held; ++k) {
    uint8_t* block = value.data() + static_cast<size_t>(k) * B;
    if (k < blocks) {
      built.blocks.push_back(BuildBlock(geometry_, block, k, placed[k], names, directory));
    } else {  // a spare block: empty, its bitmap bit clear
      BuildEmptyBlock(block, B, geometry_.bytesPerSector, BlockToVcn(geometry_, k));
      FixupBeforeWrite(block, B);
    }
  }
  WriteValue(built.allocation, value);
  built.topVcn = BlockToVcn(geometry_, top);
  AddIndexAttributes(geometry_, record, built, blocks, held);
  WriteRecord(directory, record.image());
  return built;
}

std::vector<ClusterRun> ImageBuilder::TakeAllocation(uint32_t blocks,
                                                     const std::vector<ClusterRun>& given) {
  const uint32_t clusters = blocks * (geometry_.indexBlockSize / geometry_.clusterSize);
  if (given.empty()) return {ClusterRun{AllocateClusters(clusters), clusters}};
  if (ClustersOf(given) < clusters) Fail("allocation too small for the shape");
  for (const ClusterRun& run : given) MarkClustersUsed(run.lcn, run.length);
  return given;
}

uint64_t ImageBuilder::IndexBlockOffset(const BuiltIndex& index, uint32_t vcn) const {
  return ValueOffset(index.allocation, static_cast<uint64_t>(vcn) * geometry_.clusterSize);
}

void ImageBuilder::PatchIndexBlock(const BuiltIndex& index, uint32_t vcn,
                                   const std::function<void(uint8_t*)>& edit) {
  const uint32_t B = geometry_.indexBlockSize;
  const uint64_t at = static_cast<uint64_t>(vcn) * geometry_.clusterSize;
  std::vector<uint8_t> block = ReadValue(index.allocation, at, B);
  if (FixupAfterRead(block.data(), B) != kOk) Fail("block fix-up mismatch");
  edit(block.data());
  if (FixupBeforeWrite(block.data(), B) != kOk) Fail("block fix-up");
  WriteValue(index.allocation, block, at);
}

bool IndexOrderBefore(const std::string& a, const std::string& b) {
  auto fold = [](char c) {
    return static_cast<signed char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  };
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]);
  }
  return a.size() < b.size();
}

uint8_t* RequireAttribute(uint8_t* record, uint32_t recordSize, uint32_t type) {
  uint8_t* a = FindAttributeInRecord(record, recordSize, type);
  if (a == nullptr) Fail("record lacks attribute type " + std::to_string(type));
  return a;
}

std::vector<uint8_t> ResidentAttribute(uint32_t type, const std::vector<uint8_t>& value) {
  mkfs::RecordBuilder holder(4096, 512);
  if (!holder.AddResident(type, "", value)) Fail("resident value too large");
  return FirstAttribute(holder);
}

}  // namespace vrax::test
