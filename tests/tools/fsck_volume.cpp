#include "fsck_volume.h"

#include <stdio.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "volume/format/attribute.h"
#include "volume/format/attribute_list.h"
#include "volume/format/boot_sector.h"
#include "volume/format/descriptor.h"
#include "volume/format/file_name.h"
#include "volume/format/fixup.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"
#include "volume/format/runlist.h"

namespace vrax::fsck_test {

namespace {

constexpr uint32_t kIndexBlocks = 4;  // blocks given to every non-empty test directory

void Require(bool condition, const char* what) {
  if (!condition) throw std::runtime_error(what);
}

std::vector<uint8_t> EncodeRuns(const std::vector<ClusterExtent>& runs) {
  std::vector<uint8_t> list;
  uint32_t p = 0;
  for (const ClusterExtent& r : runs) {
    const int64_t offset = static_cast<int64_t>(r.lcn) - p;
    uint32_t ob = OffsetFieldWidth(offset);
    uint32_t lb = RunFieldWidth(true, r.length);
    ob = ob == 0 ? 1 : ob;
    lb = lb == 0 ? 1 : lb;
    const size_t at = list.size();
    list.resize(at + 2 + lb + ob);
    EncodeRun(list.data() + at, lb, ob, r.length, offset);
    list.pop_back();  // the terminator is added once, at the end
    p = r.lcn + r.length - 1;
  }
  list.push_back(0);
  return list;
}

std::vector<uint8_t> Resident(uint32_t type, const std::string& name,
                              const std::vector<uint8_t>& value) {
  const uint32_t valueOffset = attr::kResidentHeader + 2 * static_cast<uint32_t>(name.size());
  std::vector<uint8_t> a(valueOffset +
                         ResidentValueSpace(type, static_cast<uint32_t>(value.size())));
  PutLE32(a.data() + attr::kType, type);
  PutLE32(a.data() + attr::kLength, static_cast<uint32_t>(a.size()));
  a[attr::kNameLength] = static_cast<uint8_t>(name.size());
  a[attr::kNameOffset] = attr::kResidentHeader;
  for (size_t i = 0; i < name.size(); ++i)
    a[attr::kResidentHeader + 2 * i] = static_cast<uint8_t>(name[i]);
  PutLE32(a.data() + attr::kValueLength, static_cast<uint32_t>(value.size()));
  PutLE16(a.data() + attr::kValueOffset, static_cast<uint16_t>(valueOffset));
  std::copy(value.begin(), value.end(), a.begin() + valueOffset);
  return a;
}

std::vector<uint8_t> NonResident(uint32_t type, const std::string& name,
                                 const std::vector<ClusterExtent>& runs, uint32_t dataSize,
                                 uint32_t clusterSize) {
  uint32_t clusters = 0;
  for (const ClusterExtent& r : runs) clusters += r.length;
  const std::vector<uint8_t> list = EncodeRuns(runs);
  const uint32_t listOffset = attr::kNonResidentHeader + 2 * static_cast<uint32_t>(name.size());
  const uint32_t length = (listOffset + static_cast<uint32_t>(list.size()) - 1 + 4) & ~1u;
  std::vector<uint8_t> a(length);
  PutLE32(a.data() + attr::kType, type);
  PutLE32(a.data() + attr::kLength, length);
  a[attr::kNonResident] = 1;
  a[attr::kNameLength] = static_cast<uint8_t>(name.size());
  a[attr::kNameOffset] = attr::kNonResidentHeader;
  PutLE64(a.data() + attr::kLastVcn, dataSize == 0 ? 0 : (dataSize - 1) / clusterSize);
  PutLE16(a.data() + attr::kRunListOffset, static_cast<uint16_t>(listOffset));
  PutLE64(a.data() + attr::kAllocatedSize, static_cast<uint64_t>(clusters) * clusterSize);
  PutLE64(a.data() + attr::kDataSize, dataSize);
  PutLE64(a.data() + attr::kInitializedSize, dataSize);
  for (size_t i = 0; i < name.size(); ++i) {
    a[attr::kNonResidentHeader + 2 * i] = static_cast<uint8_t>(name[i]);
  }
  std::copy(list.begin(), list.end(), a.begin() + listOffset);
  return a;
}

// Appends an attribute at the end marker, keeping the header exact.
void Append(std::vector<uint8_t>& record, const std::vector<uint8_t>& attribute) {
  const auto size = static_cast<uint32_t>(record.size());
  const uint8_t* end = FindAttributeInRecord(record.data(), size, record::kEndMarker);
  Require(end != nullptr, "record without end marker");
  const auto at = static_cast<uint32_t>(end - record.data());
  Require(at + attribute.size() + record::kEndMarkerSize <= size, "record full");
  std::copy(attribute.begin(), attribute.end(), record.begin() + at);
  const uint32_t marker = at + static_cast<uint32_t>(attribute.size());
  PutLE32(record.data() + marker, record::kEndMarker);
  PutLE32(record.data() + marker + 4, 0);
  SetRecordBytesInUse(record.data(), marker + record::kEndMarkerSize);
  SetRecordAttributeCount(record.data(),
                          static_cast<uint16_t>(RecordAttributeCount(record.data()) + 1));
}

std::vector<uint8_t> StandardInformation() {
  std::vector<uint8_t> value(48, 0);
  PutLE32(value.data() + 0x20, 0x26);
  return value;
}

std::vector<uint8_t> FileNameValue(uint32_t parent, const std::string& name) {
  std::vector<uint8_t> value(FileNameValueSize(static_cast<uint32_t>(name.size())));
  EncodeFileName(value.data(), parent, name.data(), static_cast<uint32_t>(name.size()));
  return value;
}

std::vector<uint8_t> DescriptorValue(uint8_t bits, uint32_t size) {
  Descriptor d;
  d.bits = bits;
  d.size = size;
  d.modified = Stamp{2026, 1, 2, 3, 4};
  d.created = Stamp{2026, 1, 2, 0, 0};
  std::vector<uint8_t> value(kDescriptorSize);
  EncodeDescriptor(d, value.data());
  return value;
}

std::vector<ClusterExtent> DecodeExtents(const uint8_t* a) {
  std::vector<ClusterExtent> runs;
  const uint32_t offset = AttrRunListOffset(a);
  uint32_t pos = 0, p = 0;
  DecodedRun run;
  while (DecodeRun(a + offset, AttrLength(a) - offset, pos, run) == RunStatus::kRun) {
    uint32_t lcn = 0;
    if (!AdvanceRun(run, p, lcn)) break;
    runs.push_back(ClusterExtent{lcn, run.length});
  }
  return runs;
}

// Disk offset of byte `offset` of a value held in `runs`.
uint64_t MapOffset(const std::vector<ClusterExtent>& runs, uint64_t offset, uint32_t clusterSize) {
  uint64_t vcn = offset / clusterSize;
  for (const ClusterExtent& r : runs) {
    if (vcn < r.length) return (r.lcn + vcn) * clusterSize + offset % clusterSize;
    vcn -= r.length;
  }
  throw std::runtime_error("offset beyond the value");
}

std::string FsckPath() { return VRAX_FSCK_PATH; }

std::string MkfsPath() { return VRAX_MKFS_PATH; }

}  // namespace

std::vector<uint8_t> LoadImage(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  Require(f != nullptr, "cannot open image");
  std::vector<uint8_t> bytes;
  uint8_t buffer[1 << 16];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + got);
  fclose(f);
  return bytes;
}

void StoreImage(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  Require(f != nullptr, "cannot create image");
  const bool written = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  Require(fclose(f) == 0 && written, "cannot write image");
}

FsckVolume::FsckVolume(const std::string& path) : bytes_(LoadImage(path)) {
  BootSector boot;
  Require(DecodeBootSector(bytes_.data(), static_cast<uint32_t>(bytes_.size()), boot) == 0,
          "not a formatted image");
  bytesPerSector_ = boot.bytesPerSector;
  clusterSize_ = boot.bytesPerSector * boot.sectorsPerCluster;
  recordSize_ = SizeFromCode(boot.recordSizeCode, clusterSize_);
  blockSize_ = SizeFromCode(boot.indexBlockSizeCode, clusterSize_);
  clusterCount_ = boot.totalSectors / boot.sectorsPerCluster;
  bitmapLcn_ = Extents(record::kClusterBitmap, AT_DATA).at(0).lcn;
}

void FsckVolume::Save(const std::string& path) const { StoreImage(path, bytes_); }

uint64_t FsckVolume::RecordOffset(uint32_t n) const {
  BootSector boot;
  DecodeBootSector(bytes_.data(), static_cast<uint32_t>(bytes_.size()), boot);
  const uint64_t zero = static_cast<uint64_t>(boot.mftLcn) * clusterSize_;
  if (n == 0) return zero;
  std::vector<uint8_t> image(bytes_.begin() + zero, bytes_.begin() + zero + recordSize_);
  FixupAfterRead(image.data(), recordSize_);
  const uint8_t* data = FindAttributeInRecord(image.data(), recordSize_, AT_DATA);
  Require(data != nullptr, "MFT without data");
  return MapOffset(DecodeExtents(data), static_cast<uint64_t>(n) * recordSize_, clusterSize_);
}

std::vector<uint8_t> FsckVolume::ReadRecord(uint32_t n) const {
  const uint64_t at = RecordOffset(n);
  std::vector<uint8_t> image(bytes_.begin() + at, bytes_.begin() + at + recordSize_);
  Require(FixupAfterRead(image.data(), recordSize_) == 0, "record fails its fix-ups");
  return image;
}

void FsckVolume::WriteRecord(uint32_t n, const std::vector<uint8_t>& image) {
  std::vector<uint8_t> disk = image;
  Require(FixupBeforeWrite(disk.data(), recordSize_) == 0, "record fix-ups do not fit");
  std::copy(disk.begin(), disk.end(), bytes_.begin() + RecordOffset(n));
}

bool FsckVolume::RecordBit(uint32_t n) const {
  std::vector<uint8_t> zero = ReadRecord(0);
  const uint8_t* bitmap = FindAttributeInRecord(zero.data(), recordSize_, AT_BITMAP);
  return (AttrValue(bitmap)[n / 8] >> (n % 8) & 1) != 0;
}

void FsckVolume::SetRecordBit(uint32_t n, bool inUse) {
  std::vector<uint8_t> zero = ReadRecord(0);
  uint8_t* bitmap = FindAttributeInRecord(zero.data(), recordSize_, AT_BITMAP);
  uint8_t& byte = AttrValue(bitmap)[n / 8];
  byte = static_cast<uint8_t>(inUse ? byte | (1u << (n % 8)) : byte & ~(1u << (n % 8)));
  WriteRecord(0, zero);
}

bool FsckVolume::ClusterBit(uint32_t k) const {
  return (bytes_[static_cast<uint64_t>(bitmapLcn_) * clusterSize_ + k / 8] >> (k % 8) & 1) != 0;
}

void FsckVolume::SetClusterBit(uint32_t k, bool inUse) {
  uint8_t& byte = bytes_[static_cast<uint64_t>(bitmapLcn_) * clusterSize_ + k / 8];
  byte = static_cast<uint8_t>(inUse ? byte | (1u << (k % 8)) : byte & ~(1u << (k % 8)));
}

uint32_t FsckVolume::NewRecord() {
  std::vector<uint8_t> zero = ReadRecord(0);
  const uint8_t* data = FindAttributeInRecord(zero.data(), recordSize_, AT_DATA);
  const uint32_t records = AttrDataSize(data) / recordSize_;
  for (uint32_t n = record::kSystemRecords; n < records; ++n) {
    if (!RecordBit(n)) {
      SetRecordBit(n, true);
      return n;
    }
  }
  throw std::runtime_error("MFT full");
}

uint32_t FsckVolume::NewClusters(uint32_t count) {
  uint32_t run = 0;
  for (uint32_t k = 0; k < clusterCount_; ++k) {
    run = ClusterBit(k) ? 0 : run + 1;
    if (run == count) {
      for (uint32_t c = k + 1 - count; c <= k; ++c) SetClusterBit(c, true);
      return k + 1 - count;
    }
  }
  throw std::runtime_error("volume full");
}

void FsckVolume::WriteClusters(uint32_t lcn, const std::vector<uint8_t>& data) {
  std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<uint64_t>(lcn) * clusterSize_);
}

void FsckVolume::GrowMft(uint32_t extra) {
  std::vector<uint8_t> zero = ReadRecord(0);
  const uint8_t* data = FindAttributeInRecord(zero.data(), recordSize_, AT_DATA);
  const uint32_t records = AttrDataSize(data) / recordSize_;
  std::vector<ClusterExtent> runs = DecodeExtents(data);
  const uint32_t clusters = extra * recordSize_ / clusterSize_;
  const uint32_t lcn = NewClusters(clusters);
  runs.push_back(ClusterExtent{lcn, clusters});
  std::vector<uint8_t> empty(recordSize_);
  for (uint32_t i = 0; i < extra; ++i) {
    BuildEmptyRecord(empty.data(), recordSize_, bytesPerSector_);
    FixupBeforeWrite(empty.data(), recordSize_);
    std::copy(empty.begin(), empty.end(),
              bytes_.begin() + static_cast<uint64_t>(lcn) * clusterSize_ + i * recordSize_);
  }
  const uint8_t* oldBitmap = FindAttributeInRecord(zero.data(), recordSize_, AT_BITMAP);
  std::vector<uint8_t> bits(AttrValue(oldBitmap),
                            AttrValue(oldBitmap) + AttrValueLength(oldBitmap));
  bits.resize((records + extra) / 8, 0);
  const uint32_t dataSize = (records + extra) * recordSize_;
  std::vector<uint8_t> rebuilt(recordSize_);
  BuildEmptyRecord(rebuilt.data(), recordSize_, bytesPerSector_);
  SetRecordFlags(rebuilt.data(), RecordFlags(zero.data()));
  Append(rebuilt, Resident(AT_STANDARD_INFORMATION, "", StandardInformation()));
  Append(rebuilt, Resident(AT_FILE_NAME, "", FileNameValue(record::kRoot, "$Records")));
  Append(rebuilt, Resident(AT_SECURITY_DESCRIPTOR, "", {}));
  Append(rebuilt, Resident(AT_OSK_FILEDES, "", DescriptorValue(0x09, dataSize)));
  Append(rebuilt, NonResident(AT_DATA, "", runs, dataSize, clusterSize_));
  Append(rebuilt, Resident(AT_BITMAP, "", bits));
  WriteRecord(0, rebuilt);
}

void FsckVolume::WriteFile(uint32_t n, uint32_t parent, const std::string& name,
                           uint32_t dataSize) {
  std::vector<uint8_t> image(recordSize_);
  BuildEmptyRecord(image.data(), recordSize_, bytesPerSector_);
  Append(image, Resident(AT_STANDARD_INFORMATION, "", StandardInformation()));
  Append(image, Resident(AT_FILE_NAME, "", FileNameValue(parent, name)));
  Append(image, Resident(AT_SECURITY_DESCRIPTOR, "", {}));
  Append(image, Resident(AT_OSK_FILEDES, "", DescriptorValue(kDescNewFile, dataSize)));
  if (dataSize == 0) {
    Append(image, Resident(AT_DATA, "", {}));
  } else {
    const uint32_t clusters = (dataSize + clusterSize_ - 1) / clusterSize_;
    const uint32_t lcn = NewClusters(clusters);
    Append(image, NonResident(AT_DATA, "", {{lcn, clusters}}, dataSize, clusterSize_));
    SetRecordFlags(image.data(), record::kFlagInUse);
  }
  WriteRecord(n, image);
}

std::vector<uint8_t> FsckVolume::BuildIndexBlock(uint32_t vcn, uint32_t parent,
                                                 const std::vector<IndexName>& names,
                                                 bool firstHasChild, uint32_t childVcn) const {
  std::vector<uint8_t> block(blockSize_);
  BuildEmptyBlock(block.data(), blockSize_, bytesPerSector_, vcn);
  uint32_t pos = BlockEntriesStart(block.data());
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i].first;
    const uint32_t length = NamedEntrySize(static_cast<uint32_t>(name.size()));
    Require(pos + length + 2 * ie::kEndEntrySize <= blockSize_, "index block full");
    uint8_t* e = block.data() + pos;
    PutLE64(e + ie::kReference, names[i].second);
    PutLE16(e + ie::kLength, static_cast<uint16_t>(length));
    e[ie::kFlags] = 0;  // over the end entry of the empty block
    EncodeFileName(e + ie::kKey, parent, name.data(), static_cast<uint32_t>(name.size()));
    if (i == 0 && firstHasChild) {
      e[ie::kFlags] = ie::kHasSubNode;
      SetEntrySubNode(e, childVcn);
    }
    pos += length;
  }
  WriteEndEntry(block.data() + pos, false, 0);
  SetBlockBytesInUse(block.data(), pos + 2 * ie::kEndEntrySize - indx::kNodeHeader);
  FixupBeforeWrite(block.data(), blockSize_);
  return block;
}

void FsckVolume::WriteDirectory(uint32_t n, uint32_t parent, const std::string& name,
                                const std::vector<IndexName>& names) {
  std::vector<uint8_t> image(recordSize_);
  BuildEmptyRecord(image.data(), recordSize_, bytesPerSector_);
  SetRecordFlags(image.data(), record::kFlagDirectory);
  Append(image, Resident(AT_STANDARD_INFORMATION, "", StandardInformation()));
  Append(image, Resident(AT_FILE_NAME, "", FileNameValue(parent, name)));
  Append(image, Resident(AT_SECURITY_DESCRIPTOR, "", {}));
  Append(image,
         Resident(AT_OSK_FILEDES, "", DescriptorValue(kDescNewDirectory, kDirectorySizeField)));
  std::vector<uint8_t> root(ie::kNewRootSize);
  BuildEmptyRoot(root.data());
  if (names.empty()) {
    Append(image, Resident(AT_INDEX_ROOT, "$I30", root));
    Append(image, Resident(AT_INDEX_ALLOCATION, "$I30", {}));
    Append(image, Resident(AT_BITMAP, "$I30", {}));
    WriteRecord(n, image);
    return;
  }
  const uint32_t blockClusters = blockSize_ / clusterSize_;
  const uint32_t lcn = NewClusters(kIndexBlocks * blockClusters);
  const bool twoLevel = names.size() > 2;
  const size_t split = twoLevel ? names.size() / 2 : 0;
  const std::vector<IndexName> low(names.begin(), names.begin() + split);
  const std::vector<IndexName> high(names.begin() + split, names.end());
  WriteClusters(lcn, BuildIndexBlock(0, n, high, twoLevel, blockClusters));
  for (uint32_t b = 1; b < kIndexBlocks; ++b) {
    WriteClusters(
        lcn + b * blockClusters,
        BuildIndexBlock(b * blockClusters, n, b == 1 ? low : std::vector<IndexName>{}, false, 0));
  }
  WriteEndEntry(root.data() + ie::kRootFirstEntry, true, 0);
  Append(image, Resident(AT_INDEX_ROOT, "$I30", root));
  Append(image, NonResident(AT_INDEX_ALLOCATION, "$I30", {{lcn, kIndexBlocks * blockClusters}},
                            kIndexBlocks * blockSize_, clusterSize_));
  Append(image, Resident(AT_BITMAP, "$I30", {static_cast<uint8_t>(twoLevel ? 0x03 : 0x01)}));
  SetRecordFlags(image.data(), record::kFlagDirectory | record::kFlagInUse);
  WriteRecord(n, image);
}

std::vector<ClusterExtent> FsckVolume::Extents(uint32_t n, uint32_t type) const {
  std::vector<uint8_t> image = ReadRecord(n);
  const uint8_t* a = FindAttributeInRecord(image.data(), recordSize_, type);
  Require(a != nullptr && AttrIsNonResident(a), "no such non-resident attribute");
  return DecodeExtents(a);
}

uint64_t FsckVolume::IndexBlockOffset(uint32_t n, uint32_t block) const {
  return MapOffset(Extents(n, AT_INDEX_ALLOCATION), static_cast<uint64_t>(block) * blockSize_,
                   clusterSize_);
}

void FsckVolume::SetRuns(uint32_t n, uint32_t type, const std::vector<ClusterExtent>& runs) {
  std::vector<uint8_t> old = ReadRecord(n);
  const uint8_t* a = FindAttributeInRecord(old.data(), recordSize_, type);
  Require(a != nullptr && AttrIsNonResident(a), "no such non-resident attribute");
  std::string name;
  for (uint32_t i = 0; i < AttrNameLength(a); ++i) {
    name.push_back(static_cast<char>(a[AttrNameOffset(a) + 2 * i]));
  }
  ReplaceAttribute(n, type, NonResident(type, name, runs, AttrDataSize(a), clusterSize_));
}

void FsckVolume::ReplaceAttribute(uint32_t n, uint32_t type, const std::vector<uint8_t>& attribute) {
  std::vector<uint8_t> old = ReadRecord(n);
  std::vector<uint8_t> rebuilt(recordSize_);
  BuildEmptyRecord(rebuilt.data(), recordSize_, bytesPerSector_);
  SetRecordFlags(rebuilt.data(), RecordFlags(old.data()));
  SetRecordBaseReference(rebuilt.data(), RecordBaseRecord(old.data()));
  bool replaced = false;
  AttributeWalk walk(old.data(), recordSize_);
  while (const uint8_t* a = walk.Next()) {
    if (AttrType(a) == type && !replaced) {
      Append(rebuilt, attribute);
      replaced = true;
    } else {
      Append(rebuilt, std::vector<uint8_t>(a, a + AttrLength(a)));
    }
  }
  WriteRecord(n, rebuilt);
}

uint32_t FsckVolume::MoveToExtension(uint32_t n, uint32_t type) {
  const uint32_t e = NewRecord();
  std::vector<uint8_t> old = ReadRecord(n);
  std::vector<uint8_t> base(recordSize_), extension(recordSize_);
  BuildEmptyRecord(base.data(), recordSize_, bytesPerSector_);
  BuildEmptyRecord(extension.data(), recordSize_, bytesPerSector_);
  SetRecordFlags(base.data(), RecordFlags(old.data()));
  SetRecordFlags(extension.data(),
                 static_cast<uint16_t>(RecordFlags(old.data()) | record::kFlagInUse));
  SetRecordBaseReference(extension.data(), n);
  std::vector<uint8_t> list;
  auto listEntry = [&list](uint32_t attributeType, uint32_t holder) {
    AttributeListEntry entry;
    entry.type = attributeType;
    entry.record = holder;
    list.resize(list.size() + kAttributeListEntrySize);
    EncodeAttributeListEntry(list.data() + list.size() - kAttributeListEntrySize, entry);
  };
  AttributeWalk walk(old.data(), recordSize_);
  while (const uint8_t* a = walk.Next()) {
    const std::vector<uint8_t> copy(a, a + AttrLength(a));
    if (AttrType(a) == type) {
      Append(extension, copy);
    } else {
      Append(base, copy);
      listEntry(AttrType(a), n);
    }
  }
  listEntry(type, e);
  Append(base, Resident(AT_ATTRIBUTE_LIST, "", list));
  WriteRecord(e, extension);
  WriteRecord(n, base);
  return e;
}

std::vector<uint8_t> FsckVolume::ReadIndexBlock(uint32_t n, uint32_t block) const {
  const uint64_t at = IndexBlockOffset(n, block);
  std::vector<uint8_t> image(bytes_.begin() + at, bytes_.begin() + at + blockSize_);
  Require(FixupAfterRead(image.data(), blockSize_) == 0, "index block fails its fix-ups");
  return image;
}

void FsckVolume::WriteIndexBlock(uint32_t n, uint32_t block, const std::vector<uint8_t>& image) {
  std::vector<uint8_t> disk = image;
  Require(FixupBeforeWrite(disk.data(), blockSize_) == 0, "index block fix-ups do not fit");
  std::copy(disk.begin(), disk.end(), bytes_.begin() + IndexBlockOffset(n, block));
}

bool FsckResult::Has(const std::string& text) const {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

FsckResult RunFsck(const std::string& image, const std::string& options) {
  // Under the sanitizers a finding must not pass for exit code 1 (problems
  // found), so they are told to exit with a code of their own.
  const std::string errors = image + ".stderr";
  const std::string command =
      "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}exitcode=86 "
      "UBSAN_OPTIONS=${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}exitcode=86 "
      "timeout 60 '" +
      FsckPath() + "' " + options + " '" + image + "' 2>'" + errors + "'";
  FsckResult result;
  FILE* pipe = popen(command.c_str(), "r");
  Require(pipe != nullptr, "cannot run vrax-fsck");
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  const int status = pclose(pipe);
  if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  const std::vector<uint8_t> err = LoadImage(errors);
  result.errors.assign(err.begin(), err.end());
  std::remove(errors.c_str());
  size_t start = 0;
  while (start < result.output.size()) {
    const size_t end = result.output.find('\n', start);
    const size_t stop = end == std::string::npos ? result.output.size() : end;
    result.lines.push_back(result.output.substr(start, stop - start));
    start = stop + 1;
  }
  return result;
}

void Format(const std::string& path, const std::string& options) {
  const std::string command = "'" + MkfsPath() + "' " + options + " '" + path + "' >/dev/null 2>&1";
  Require(std::system(command.c_str()) == 0, "vrax-mkfs failed");
}

}  // namespace vrax::fsck_test
