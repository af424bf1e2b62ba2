#include "node_check.h"

#include "volume/format/attribute.h"
#include "volume/format/descriptor.h"
#include "volume/format/file_name.h"
#include "volume/format/record.h"

namespace vrax::fsck {

namespace {

// A file name value longer than this holds more than the longest name a
// value can; only this much of it is read.
constexpr uint32_t kMaxFileNameValue = FileNameValueSize(kMaxStoredNameLength);

class NodeChecker {
 public:
  NodeChecker(Context& context, uint32_t n, const Chain& chain)
      : context_(context), n_(n), chain_(chain) {}

  NodeFacts Run(const Listing* listing);

 private:
  void CheckDescriptor();
  void CheckData();
  void CheckFileName(const Listing& listing);
  void Problem(const std::string& text) {
    context_.report.Problem(Format("record %u: %s", n_, text.c_str()));
  }

  Context& context_;
  uint32_t n_;
  const Chain& chain_;
  NodeFacts facts_;
  bool haveDescriptor_ = false;
  uint8_t descriptor_[kDescriptorSize] = {};
};

NodeFacts NodeChecker::Run(const Listing* listing) {
  facts_.directory = (chain_.front().parsed.flags & record::kFlagDirectory) != 0;
  CheckDescriptor();
  if (!facts_.directory) CheckData();
  if (listing != nullptr) CheckFileName(*listing);
  return facts_;
}

void NodeChecker::CheckDescriptor() {
  const AttributeValue value = FindValue(chain_, AT_OSK_FILEDES);
  if (!value.present) {
    // Volumes made by other writers carry system records without one; the
    // engine reads a missing descriptor as "no restrictions".
    context_.report.Note(Format("record %u: no file descriptor", n_));
    return;
  }
  if (value.length != kDescriptorSize) {
    Problem(Format("file descriptor is %u bytes, not %u", value.length, kDescriptorSize));
    return;
  }
  if (!ReadValue(context_.image, context_.geometry, value, 0, descriptor_, kDescriptorSize)) {
    Problem("file descriptor cannot be read");
    return;
  }
  haveDescriptor_ = true;
  const bool directoryBit = (descriptor_[0] & kDescDirectory) != 0;
  if (facts_.directory && !directoryBit) {
    Problem("directory flag 0x0002 is set but descriptor bit 0x80 is clear");
  } else if (!facts_.directory && directoryBit) {
    Problem("descriptor bit 0x80 is set but the directory flag 0x0002 is clear");
  }
}

// A file's size lives twice: in the descriptor and as the data's length.
void NodeChecker::CheckData() {
  const AttributeValue data = FindValue(chain_, AT_DATA);
  if (!data.present) {
    // The system records without contents carry no data attribute.
    if (n_ >= record::kSystemRecords) Problem("file has no data attribute");
    return;
  }
  facts_.hasData = true;
  facts_.dataSize = data.length;
  // The engine keeps the size field of the files it writes; the system
  // records' values (the MFT above all, which grows) change without it.
  if (n_ < record::kSystemRecords) return;
  if (haveDescriptor_ && DescriptorSize(descriptor_) != data.length) {
    Problem(Format("descriptor size %u differs from the data size %u", DescriptorSize(descriptor_),
                   data.length));
    context_.findings.descriptorSizes[n_] = data.length;
  }
}

void NodeChecker::CheckFileName(const Listing& listing) {
  if (!FindValue(chain_, AT_FILE_NAME).present) {
    Problem("no file name");
    return;
  }
  uint32_t parent = 0;
  std::string name;
  if (!ReadOwnName(context_, chain_, parent, name)) {
    Problem("file name value is malformed");
    return;
  }
  bool foreign = false;
  if (parent != listing.parent) {
    Problem(Format("file name gives parent %u, but directory %u lists it", parent, listing.parent));
    foreign = true;
  }
  if (listing.checkName && name != listing.name) {
    Problem(Format("file name %s differs from its index entry %s", QuoteName(name).c_str(),
                   QuoteName(listing.name).c_str()));
    foreign = true;
  }
  if (foreign && listing.checkName) {
    context_.findings.badEntries.push_back(BadEntry{listing.parent, listing.name, n_});
  }
}

}  // namespace

bool ReadOwnName(const Context& context, const Chain& chain, uint32_t& parent, std::string& name) {
  const AttributeValue value = FindValue(chain, AT_FILE_NAME);
  if (!value.present) return false;
  std::vector<uint8_t> bytes(std::min(value.length, kMaxFileNameValue));
  if (!ReadValue(context.image, context.geometry, value, 0, bytes.data(), bytes.size()) ||
      !DecodeFileName(bytes.data(), static_cast<uint32_t>(bytes.size()), name)) {
    return false;
  }
  parent = FileNameParent(bytes.data());
  return true;
}

NodeFacts CheckNode(Context& context, uint32_t n, const Chain& chain, const Listing* listing) {
  NodeChecker checker(context, n, chain);
  return checker.Run(listing);
}

}  // namespace vrax::fsck
