#include "index_check.h"

#include <algorithm>
#include <memory>

#include "name_rules.h"
#include "platform/error_codes.h"
#include "volume/format/attribute.h"
#include "volume/format/fixup.h"
#include "volume/format/index_node.h"
#include "volume/index/index.h"

namespace vrax::fsck {

namespace {

constexpr size_t kFirstFew = 8;

// One node on the walk's stack: its bytes, the walk over its entries and
// the entry whose sub-tree is being walked (emitted once that is done).
struct Node {
  Node(std::vector<uint8_t> data, uint32_t start, uint32_t end, std::string nodeLabel)
      : bytes(std::move(data)),
        walk(bytes.data(), start, end),
        label(std::move(nodeLabel)),
        nextOffset(start) {}

  std::vector<uint8_t> bytes;
  IndexEntryWalk walk;
  std::string label;  // "index root" or "index block VCN v"
  uint8_t* pending = nullptr;
  uint32_t nextOffset;  // where the entry after the last one given starts
};

std::string EntryName(const uint8_t* e) {
  std::string name;
  for (uint32_t i = 0; i < EntryNameLength(e); ++i) name.push_back(EntryNameChar(e, i));
  return name;
}

class IndexWalker {
 public:
  IndexWalker(Context& context, uint32_t directory, const Chain& chain)
      : context_(context),
        g_(context.geometry),
        directory_(directory),
        chain_(chain),
        where_(Format("directory %u", directory)) {}

  std::vector<IndexedName> Run();

 private:
  bool PushRoot();
  void SetUpBlocks();
  void ReadBlockBitmap();
  void Step();
  void Emit(Node& node, uint8_t* e);
  void CheckOrder(const uint8_t* e, const std::string& name);
  std::unique_ptr<Node> OpenChild(const Node& parent, const uint8_t* e);
  std::unique_ptr<Node> ReadBlock(uint32_t vcn, uint32_t block);
  void ReportUnreachedBlocks();
  bool BitSet(uint32_t block) const {
    return block / 8 < bitmap_.size() && (bitmap_[block / 8] >> (block % 8) & 1) != 0;
  }
  void Problem(const std::string& text) { context_.report.Problem(where_ + ": " + text); }
  void NeedsBitmap() { context_.findings.indexBitmaps.insert(directory_); }

  Context& context_;
  const Geometry& g_;
  uint32_t directory_;
  const Chain& chain_;
  std::string where_;
  AttributeValue allocation_;
  uint32_t blocks_ = 0;
  std::vector<uint8_t> bitmap_;
  std::vector<uint8_t> visited_;
  std::vector<std::unique_ptr<Node>> stack_;
  std::string previous_;
  bool havePrevious_ = false;
  std::vector<IndexedName> names_;
};

std::vector<IndexedName> IndexWalker::Run() {
  SetUpBlocks();
  if (!PushRoot()) return names_;
  while (!stack_.empty()) Step();
  ReportUnreachedBlocks();
  return names_;
}

void IndexWalker::SetUpBlocks() {
  allocation_ = FindValue(chain_, AT_INDEX_ALLOCATION);
  if (!allocation_.present) Problem("no index allocation");
  if (g_.indexBlocksUsable) {
    blocks_ = allocation_.length / g_.indexBlockSize;
    if (allocation_.length % g_.indexBlockSize != 0) {
      Problem(Format("index allocation of %u bytes is not a whole number of %u-byte blocks",
                     allocation_.length, g_.indexBlockSize));
    }
  }
  visited_.assign(blocks_, 0);
  ReadBlockBitmap();
}

void IndexWalker::ReadBlockBitmap() {
  const AttributeValue bitmap = FindValue(chain_, AT_BITMAP);
  if (!bitmap.present) {
    Problem("no index bitmap");
    return;
  }
  if (!g_.indexBlocksUsable) return;
  const uint32_t expected = (blocks_ + 7) / 8;
  // Bytes beyond those the blocks need are read too (a few), to tell a
  // bitmap grown ahead of its allocation (a leak) from one with stray bits.
  bitmap_.assign(std::min(bitmap.length, expected + 64), 0);
  if (!ReadValue(context_.image, g_, bitmap, 0, bitmap_.data(), bitmap_.size())) {
    Problem("index bitmap cannot be read");
    bitmap_.clear();
    return;
  }
  const std::string size = Format("index bitmap is %u bytes, expected %u for %u blocks",
                                  bitmap.length, expected, blocks_);
  if (bitmap.length < expected) {
    Problem(size);
    NeedsBitmap();
  } else if (bitmap.length > expected) {
    const bool stray = bitmap.length > bitmap_.size() ||
                       std::any_of(bitmap_.begin() + expected, bitmap_.end(),
                                   [](uint8_t byte) { return byte != 0; });
    if (stray) {
      Problem(size + ", with bits set past its blocks");
    } else {
      context_.report.Leak(where_ + ": " + size);
    }
    NeedsBitmap();
  }
  for (uint32_t k = blocks_; k < bitmap_.size() * 8u && k < expected * 8u; ++k) {
    if (BitSet(k)) {
      Problem(Format("index bitmap marks block %u, past the %u blocks", k, blocks_));
      NeedsBitmap();
      break;
    }
  }
}

bool IndexWalker::PushRoot() {
  const AttributeValue root = FindValue(chain_, AT_INDEX_ROOT);
  if (!root.present) {
    Problem("no index root");
    return false;
  }
  if (root.nonResident) {
    Problem("index root is non-resident");
    return false;
  }
  if (root.length < ie::kRootFirstEntry + ie::kMinEntry) {
    Problem(Format("index root value of %u bytes holds no entry", root.length));
    return false;
  }
  stack_.push_back(
      std::make_unique<Node>(root.resident, ie::kRootFirstEntry, root.length, "index root"));
  return true;
}

// One step of the in-order walk: emit the entry whose sub-tree is done, or
// take the next entry of the top node and descend into its sub-node first.
void IndexWalker::Step() {
  Node& top = *stack_.back();
  if (top.pending != nullptr) {
    uint8_t* e = top.pending;
    top.pending = nullptr;
    Emit(top, e);
    if (EntryIsLast(e)) stack_.pop_back();
    return;
  }
  uint8_t* e = top.walk.Next();
  if (e == nullptr) {
    if (top.walk.malformed()) {
      Problem(Format("%s: entries malformed at offset %u", top.label.c_str(), top.nextOffset));
    }
    stack_.pop_back();
    return;
  }
  top.nextOffset = top.walk.offset() + EntryLength(e);
  top.pending = e;
  if (EntryHasSubNode(e)) {
    std::unique_ptr<Node> child = OpenChild(top, e);
    if (child) stack_.push_back(std::move(child));
  }
}

void IndexWalker::Emit(Node& node, uint8_t* e) {
  if (EntryIsKeyless(e)) {
    if (!EntryIsLast(e)) {
      Problem(Format("%s: keyless entry at offset %u before the end of the node",
                     node.label.c_str(), static_cast<uint32_t>(e - node.bytes.data())));
    }
    return;
  }
  const std::string name = EntryName(e);
  const std::string entry = "entry " + QuoteName(name);
  const uint32_t parent = GetLE32(e + ie::kKey);
  if (parent != directory_) Problem(Format("%s names parent %u", entry.c_str(), parent));
  const std::string breach = NameRuleBreach(name);
  if (!breach.empty()) Problem(entry + " breaks the name rules: " + breach);
  CheckOrder(e, name);
  names_.push_back(IndexedName{name, EntryRecord(e)});
}

// Names must ascend strictly in the engine's collation.
void IndexWalker::CheckOrder(const uint8_t* e, const std::string& name) {
  if (havePrevious_) {
    const auto n = static_cast<uint32_t>(previous_.size());
    if (NamesEqual(e, previous_.data(), n)) {
      Problem(
          Format("entry %s duplicates %s", QuoteName(name).c_str(), QuoteName(previous_).c_str()));
    } else if (CollateNames(e, previous_.data(), n) != 1) {
      Problem(Format("entry %s is out of order after %s", QuoteName(name).c_str(),
                     QuoteName(previous_).c_str()));
    }
  }
  previous_ = name;
  havePrevious_ = true;
}

std::unique_ptr<Node> IndexWalker::OpenChild(const Node& parent, const uint8_t* e) {
  if (!g_.indexBlocksUsable) return nullptr;
  const uint32_t vcn = EntrySubNode(e);
  const std::string link = Format("%s: sub-node VCN %u", parent.label.c_str(), vcn);
  if (vcn % g_.BlockClusters() != 0) {
    Problem(link + " is not at a block boundary");
    return nullptr;
  }
  const uint32_t block = vcn / g_.BlockClusters();
  if (block >= blocks_) {
    Problem(Format("%s lies beyond the index allocation (%u blocks)", link.c_str(), blocks_));
    return nullptr;
  }
  if (visited_[block] != 0) {
    Problem(link + " leads to a block already reached (a cycle or a shared block)");
    return nullptr;
  }
  visited_[block] = 1;
  return ReadBlock(vcn, block);
}

std::unique_ptr<Node> IndexWalker::ReadBlock(uint32_t vcn, uint32_t block) {
  const std::string label = Format("index block VCN %u", vcn);
  if (!BitSet(block)) {
    Problem(label + " is in use but its bitmap bit is clear");
    NeedsBitmap();
  }
  std::vector<uint8_t> bytes(g_.indexBlockSize);
  const uint32_t size = g_.indexBlockSize;
  if (!ReadValue(context_.image, g_, allocation_, g_.ClusterOffset(vcn), bytes.data(), size)) {
    Problem(label + " cannot be read");
    return nullptr;
  }
  if (!HasIndexMagic(bytes.data())) {
    Problem(label + " has no INDX magic");
    return nullptr;
  }
  if (FixupAfterRead(bytes.data(), size) != kOk) {
    Problem(label + " fails its update sequence check");
    return nullptr;
  }
  if (!BlockHeaderIsSound(bytes.data(), size)) {
    Problem(label + " has an unsound header");
    return nullptr;
  }
  if (BlockVcn(bytes.data()) != vcn) {
    Problem(Format("%s records VCN %u in its header", label.c_str(), BlockVcn(bytes.data())));
  }
  const uint32_t start = BlockEntriesStart(bytes.data());
  const uint32_t end = BlockEntriesEnd(bytes.data());
  return std::make_unique<Node>(std::move(bytes), start, end, label);
}

void IndexWalker::ReportUnreachedBlocks() {
  uint32_t count = 0;
  std::string first;
  for (uint32_t k = 0; k < blocks_; ++k) {
    if (!BitSet(k) || visited_[k] != 0) continue;
    if (count++ < kFirstFew) {
      first += Format("%s%u", first.empty() ? "" : ", ", k * g_.BlockClusters());
    }
  }
  if (count != 0) {
    context_.report.Leak(Format("%s: %u index blocks marked in use but not reachable (first VCNs: %s%s)",
                                where_.c_str(), count, first.c_str(), count > kFirstFew ? ", ..." : ""));
    NeedsBitmap();
  }
}

}  // namespace

std::vector<IndexedName> CheckDirectoryIndex(Context& context, uint32_t directory,
                                             const Chain& chain) {
  IndexWalker walker(context, directory, chain);
  return walker.Run();
}

}  // namespace vrax::fsck
