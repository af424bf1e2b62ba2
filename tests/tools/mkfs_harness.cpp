#include "mkfs_harness.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/temp_file.h"
#include "volume/format/attribute.h"
#include "volume/format/fixup.h"
#include "volume/format/runlist.h"

namespace vrax::mkfs_test {

using test::FileSize;
using test::MakeImage;
using test::PatternBytes;
using test::TempDir;

namespace {

std::string Quote(const std::string& s) {
  std::string quoted = "'";
  for (const char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::vector<uint8_t> ReadRange(const std::string& path, uint64_t offset, size_t length) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<uint8_t> bytes(length);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
  bytes.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return bytes;
}

std::vector<uint8_t> WholeFile(const std::string& path) {
  return ReadRange(path, 0, static_cast<size_t>(FileSize(path)));
}

ToolRun RunMkfs(const std::vector<std::string>& args, const std::string& scratch) {
  std::string command = Quote(VRAX_MKFS_PATH);
  for (const std::string& a : args) command += " " + Quote(a);
  const std::string out = scratch + "/mkfs.out", err = scratch + "/mkfs.err";
  command += " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
  const int status = std::system(command.c_str());
  ToolRun run;
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = Slurp(out);
  run.err = Slurp(err);
  return run;
}

FormattedImage::FormattedImage(const std::string& path) : path_(path) {
  const std::vector<uint8_t> sector = ReadRange(path, 0, 512);
  if (DecodeBootSector(sector.data(), static_cast<uint32_t>(sector.size()), boot_) != 0) {
    throw std::runtime_error(path + ": no volume");
  }
  clusterSize_ = boot_.bytesPerSector * boot_.sectorsPerCluster;
  recordSize_ = SizeFromCode(boot_.recordSizeCode, clusterSize_);
  clusterCount_ = boot_.totalSectors / boot_.sectorsPerCluster;
  mftRecord_ = ReadRange(path, static_cast<uint64_t>(boot_.mftLcn) * clusterSize_, recordSize_);
  if (mftRecord_.size() != recordSize_ || FixupAfterRead(mftRecord_.data(), recordSize_) != 0) {
    throw std::runtime_error(path + ": record 0 damaged");
  }
  records_ = Value(mftRecord_, AT_DATA);
  recordsHeld_ = static_cast<uint32_t>(records_.size() / recordSize_);
}

std::vector<Extent> FormattedImage::Runs(const uint8_t* a) {
  std::vector<Extent> runs;
  const uint32_t offset = AttrRunListOffset(a);
  uint32_t pos = 0, p = 0;
  DecodedRun run;
  while (DecodeRun(a + offset, AttrLength(a) - offset, pos, run) == RunStatus::kRun) {
    Extent e;
    e.length = run.length;
    if (!AdvanceRun(run, p, e.lcn)) break;
    runs.push_back(e);
  }
  return runs;
}

std::vector<uint8_t> FormattedImage::ReadRuns(const uint8_t* a, uint32_t bytes) const {
  std::vector<uint8_t> value;
  for (const Extent& e : Runs(a)) {
    const std::vector<uint8_t> run = ReadRange(path_, static_cast<uint64_t>(e.lcn) * clusterSize_,
                                               static_cast<size_t>(e.length) * clusterSize_);
    value.insert(value.end(), run.begin(), run.end());
  }
  value.resize(std::min<size_t>(value.size(), bytes));
  return value;
}

bool FormattedImage::Record(uint32_t n, std::vector<uint8_t>& image) const {
  const size_t at = static_cast<size_t>(n) * recordSize_;
  if (at + recordSize_ > records_.size()) return false;
  image.assign(records_.begin() + at, records_.begin() + at + recordSize_);
  return std::equal(image.begin(), image.begin() + 4, "FILE") &&
         FixupAfterRead(image.data(), recordSize_) == 0;
}

std::vector<uint8_t> FormattedImage::Value(std::vector<uint8_t>& record, uint32_t type) const {
  const uint8_t* a = FindAttributeInRecord(record.data(), recordSize_, type);
  if (a == nullptr) return {};
  if (AttrIsNonResident(a)) return ReadRuns(a, AttrInitializedSize(a));
  return std::vector<uint8_t>(AttrValue(a), AttrValue(a) + AttrValueLength(a));
}

std::vector<uint8_t*> Attributes(std::vector<uint8_t>& record) {
  std::vector<uint8_t*> all;
  AttributeWalk walk(record.data(), static_cast<uint32_t>(record.size()));
  while (uint8_t* a = walk.Next()) all.push_back(a);
  return all;
}

}  // namespace vrax::mkfs_test
