#include "cluster_check.h"

#include <algorithm>
#include <string>
#include <vector>

#include "chain.h"
#include "volume/format/attribute.h"
#include "volume/format/record.h"

namespace vrax::fsck {

namespace {

constexpr size_t kFirstFew = 8;
constexpr uint32_t kWindowBytes = 1u << 20;

// The bitmap value read through a window of one MiB, so that bitmaps of any
// size are walked in bounded memory. Bits are asked for in ascending order.
class BitmapWindow {
 public:
  BitmapWindow(const Context& context, const AttributeValue& value)
      : context_(context), value_(value) {}

  // False when the bytes holding bit k cannot be read.
  bool Get(uint64_t k, uint8_t& byte) {
    const uint64_t at = k / 8;
    if (at < start_ || at >= start_ + bytes_.size()) {
      if (!Load(at)) return false;
    }
    byte = bytes_[at - start_];
    return true;
  }

 private:
  bool Load(uint64_t at) {
    start_ = at;
    bytes_.assign(std::min<uint64_t>(kWindowBytes, value_.length - at), 0);
    return ReadValue(context_.image, context_.geometry, value_, at, bytes_.data(), bytes_.size());
  }

  const Context& context_;
  const AttributeValue& value_;
  uint64_t start_ = 0;
  std::vector<uint8_t> bytes_;
};

// Counts the bits of a range that differ from what they should be, keeping
// the first few cluster numbers and, for the repair, every stretch.
struct Mismatch {
  uint64_t count = 0;
  std::vector<uint64_t> first;
  std::vector<ClusterRange> ranges;

  void Add(uint64_t k) {
    if (count++ < kFirstFew) first.push_back(k);
    if (!ranges.empty() && ranges.back().end == k) {
      ranges.back().end = k + 1;
    } else {
      ranges.push_back(ClusterRange{k, k + 1});
    }
  }
  std::string FirstText() const {
    std::string text;
    for (const uint64_t k : first) {
      text += Format("%s%llu", text.empty() ? "" : ", ", static_cast<unsigned long long>(k));
    }
    return count > first.size() ? text + ", ..." : text;
  }
};

class BitmapComparer {
 public:
  BitmapComparer(Context& context, const AttributeValue& value)
      : context_(context),
        window_(context, value),
        bits_(static_cast<uint64_t>(value.length) * 8) {}

  void Run();

 private:
  bool Compare(uint64_t first, uint64_t end, bool used);
  void ReportMismatches() const;

  Context& context_;
  BitmapWindow window_;
  uint64_t bits_;
  Mismatch leaked_;    // marked, used by nothing
  Mismatch unmarked_;  // used, not marked
  Mismatch beyond_;    // past the last cluster, clear
  uint64_t free_ = 0;
  bool readable_ = true;
};

// Compares bits [first, end) with the expected value, a whole byte at a
// time where the range covers it.
bool BitmapComparer::Compare(uint64_t first, uint64_t end, bool used) {
  uint64_t k = first;
  while (k < end) {
    uint8_t byte = 0;
    if (!window_.Get(k, byte)) return false;
    const uint8_t expected = used ? 0xFF : 0x00;
    if (k % 8 == 0 && k + 8 <= end && byte == expected) {
      if (!used && k < context_.geometry.clusterCount) free_ += 8;
      k += 8;
      continue;
    }
    const bool set = (byte >> (k % 8) & 1) != 0;
    if (!set && k < context_.geometry.clusterCount) ++free_;
    if (set != used) {
      Mismatch& m = k >= context_.geometry.clusterCount ? beyond_ : (used ? unmarked_ : leaked_);
      // Where two records claim a cluster, the repair must not guess.
      if (&m != &unmarked_ || !context_.claims.Shared(k)) m.Add(k);
    }
    ++k;
  }
  return true;
}

void BitmapComparer::Run() {
  const uint64_t clusters = context_.geometry.clusterCount;
  const uint64_t compared = std::min(clusters, bits_);
  context_.claims.ForEachStretch(compared, [this](uint64_t first, uint64_t end, bool used) {
    if (readable_) readable_ = Compare(first, end, used);
  });
  if (readable_ && bits_ > clusters) readable_ = Compare(clusters, bits_, true);
  if (!readable_) {
    context_.report.Problem("cluster bitmap: cannot be read in full; clusters not compared");
    return;
  }
  context_.report.summary.freeClusters = free_;
  ReportMismatches();
}

void BitmapComparer::ReportMismatches() const {
  auto& report = context_.report;
  Findings& findings = context_.findings;
  if (leaked_.count != 0) {
    report.Leak(
        Format("cluster bitmap: %llu clusters marked in use but used by no record (first: %s)",
               static_cast<unsigned long long>(leaked_.count), leaked_.FirstText().c_str()));
    findings.leakedClusters = leaked_.ranges;
  }
  if (unmarked_.count != 0) {
    report.Problem(Format("cluster bitmap: %llu clusters used but not marked in use (first: %s)",
                          static_cast<unsigned long long>(unmarked_.count),
                          unmarked_.FirstText().c_str()));
    findings.unmarkedClusters = unmarked_.ranges;
  }
  if (beyond_.count != 0) {
    report.Problem(
        Format("cluster bitmap: %llu bits past the last cluster are clear (first: bit %s)",
               static_cast<unsigned long long>(beyond_.count), beyond_.FirstText().c_str()));
    findings.unmarkedClusters.insert(findings.unmarkedClusters.end(), beyond_.ranges.begin(),
                                     beyond_.ranges.end());
  }
}

}  // namespace

void CheckClusterBitmap(Context& context) {
  context.report.summary.clusterCount = context.geometry.clusterCount;
  context.claims.ClaimBoot(0);
  Chain chain;
  if (record::kClusterBitmap >= context.mft.records() ||
      !context.records[record::kClusterBitmap].Usable() ||
      !LoadChain(context.mft, context.geometry, record::kClusterBitmap, chain)) {
    context.report.Problem("cluster bitmap: record 6 cannot be used; clusters not compared");
    return;
  }
  const AttributeValue value = FindValue(chain, AT_DATA);
  if (!value.present) {
    context.report.Problem("cluster bitmap: record 6 has no data attribute; clusters not compared");
    return;
  }
  const uint64_t needed = (static_cast<uint64_t>(context.geometry.clusterCount) + 7) / 8;
  if (value.length < needed) {
    context.report.Problem(Format("cluster bitmap: %u bytes cannot hold the volume's %u clusters",
                                  value.length, context.geometry.clusterCount));
  }
  BitmapComparer comparer(context, value);
  comparer.Run();
}

}  // namespace vrax::fsck
