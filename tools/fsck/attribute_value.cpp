#include "attribute_value.h"

#include <algorithm>
#include <cstring>

namespace vrax::fsck {

namespace {

struct Instance {
  const ParsedAttribute* attribute;
  uint32_t record;
};

std::vector<Instance> Instances(const Chain& chain, uint32_t type) {
  std::vector<Instance> found;
  for (const ChainRecord& r : chain) {
    for (const ParsedAttribute& a : r.parsed.attributes) {
      if (a.type == type) found.push_back(Instance{&a, r.number});
    }
  }
  return found;
}

std::vector<Instance> NonResidentByVcn(const Chain& chain, uint32_t type) {
  std::vector<Instance> found;
  for (const Instance& i : Instances(chain, type)) {
    if (i.attribute->nonResident) found.push_back(i);
  }
  std::stable_sort(found.begin(), found.end(), [](const Instance& a, const Instance& b) {
    return a.attribute->firstVcn < b.attribute->firstVcn;
  });
  return found;
}

// The run that holds `vcn`, or null.
const Run* RunHolding(const std::vector<Run>& runs, uint64_t vcn) {
  auto it = std::upper_bound(runs.begin(), runs.end(), vcn,
                             [](uint64_t v, const Run& r) { return v < r.vcn; });
  if (it == runs.begin()) return nullptr;
  --it;
  return vcn < static_cast<uint64_t>(it->vcn) + it->length ? &*it : nullptr;
}

bool ReadResident(const AttributeValue& value, uint64_t offset, uint8_t* out, size_t n) {
  if (offset > value.resident.size() || n > value.resident.size() - offset) return false;
  if (n != 0) std::memcpy(out, value.resident.data() + offset, n);
  return true;
}

}  // namespace

AttributeValue FindValue(const Chain& chain, uint32_t type) {
  AttributeValue value;
  for (const ChainRecord& r : chain) {
    for (const ParsedAttribute& a : r.parsed.attributes) {
      if (a.type != type) continue;
      value.present = true;
      value.nonResident = a.nonResident;
      if (!a.nonResident) {
        value.length = a.valueLength;
        value.resident.assign(r.image.begin() + a.valueOffset,
                              r.image.begin() + a.valueOffset + a.valueLength);
        return value;
      }
      value.length = a.initializedSize;
      for (const Instance& i : NonResidentByVcn(chain, type)) {
        value.runs.insert(value.runs.end(), i.attribute->runs.begin(), i.attribute->runs.end());
      }
      std::stable_sort(value.runs.begin(), value.runs.end(),
                       [](const Run& x, const Run& y) { return x.vcn < y.vcn; });
      return value;
    }
  }
  return value;
}

ValueLayout CheckValueLayout(const Chain& chain, uint32_t type, uint32_t clusterSize,
                             uint32_t base) {
  ValueLayout layout;
  std::vector<std::string>& problems = layout.problems;
  const std::vector<Instance> instances = NonResidentByVcn(chain, type);
  if (instances.empty()) return layout;
  const std::string where = Format("record %u: %s", base, AttributeLabel(type).c_str());
  uint64_t expected = 0;
  for (const Instance& i : instances) {
    if (i.attribute->firstVcn != expected) {
      problems.push_back(Format("%s instance in record %u starts at VCN %u, not at VCN %llu",
                                where.c_str(), i.record, i.attribute->firstVcn,
                                static_cast<unsigned long long>(expected)));
    }
    expected = i.attribute->firstVcn + i.attribute->runClusters;
  }
  uint64_t clusters = 0;
  for (const Instance& i : instances) clusters += i.attribute->runClusters;
  // The first instance in chain order carries the sizes.
  const ParsedAttribute* sizes = nullptr;
  for (const Instance& i : Instances(chain, type)) {
    if (i.attribute->nonResident) {
      sizes = i.attribute;
      break;
    }
  }
  const uint64_t held = clusters * clusterSize;
  if (sizes->allocatedSize != held) {
    const std::string line = Format("%s allocated size %u but its runs hold %llu clusters (%llu bytes)",
                                    where.c_str(), sizes->allocatedSize,
                                    static_cast<unsigned long long>(clusters),
                                    static_cast<unsigned long long>(held));
    const bool slack = sizes->allocatedSize < held && sizes->allocatedSize % clusterSize == 0;
    (slack ? layout.leaks : problems).push_back(line);
    layout.slack = slack;
  }
  if (sizes->dataSize > sizes->allocatedSize && sizes->allocatedSize < held) {
    problems.push_back(Format("%s data size %u exceeds its allocated size %u", where.c_str(),
                              sizes->dataSize, sizes->allocatedSize));
  }
  if (sizes->dataSize > held) {
    problems.push_back(Format("%s data size %u exceeds the %llu bytes its runs hold", where.c_str(),
                              sizes->dataSize, static_cast<unsigned long long>(held)));
  }
  if (sizes->initializedSize != sizes->dataSize) {
    problems.push_back(Format("%s initialized size %u differs from its data size %u", where.c_str(),
                              sizes->initializedSize, sizes->dataSize));
  }
  return layout;
}

bool ReadValue(const ImageReader& image, const Geometry& g, const AttributeValue& value,
               uint64_t offset, uint8_t* out, size_t n) {
  if (!value.nonResident) return ReadResident(value, offset, out, n);
  if (offset > value.length || n > value.length - offset) return false;
  size_t done = 0;
  while (done < n) {
    const uint64_t at = offset + done;
    const uint64_t vcn = at / g.clusterSize;
    const Run* run = RunHolding(value.runs, vcn);
    if (run == nullptr) return false;
    const uint64_t within = at % g.clusterSize;
    const uint64_t clustersLeft = static_cast<uint64_t>(run->vcn) + run->length - vcn;
    const uint64_t contiguous = clustersLeft * g.clusterSize - within;
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(contiguous, n - done));
    const uint64_t disk =
        (static_cast<uint64_t>(run->lcn) + (vcn - run->vcn)) * g.clusterSize + within;
    if (!image.Read(disk, out + done, piece)) return false;
    done += piece;
  }
  return true;
}

}  // namespace vrax::fsck
