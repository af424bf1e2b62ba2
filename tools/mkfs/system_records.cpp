#include "system_records.h"

#include <string>

#include "node_records.h"
#include "record_builder.h"
#include "volume/format/attribute.h"
#include "volume/format/record.h"
#include "volume_bitmaps.h"

namespace vrax::mkfs {

namespace {

std::string SystemName(uint32_t n) {
  switch (n) {
    case record::kMft:
      return "$Records";
    case record::kRoot:
      return ".";
    case record::kClusterBitmap:
      return "$ClusterMap";
    case kBootRecord:
      return "$BootArea";
    default:
      return "$Reserved" + std::to_string(n);
  }
}

// A system record with the node attributes alone; `dataSize` goes into its
// descriptor.
RecordBuilder PlainRecord(const VolumeLayout& l, uint32_t n, const Stamp& when,
                          uint32_t dataSize = 0) {
  RecordBuilder record(l.recordSize, l.bytesPerSector);
  AddNodeAttributes(record, record::kRoot, SystemName(n),
                    NewNodeDescriptor(kSystemDescriptorBits, dataSize, when));
  return record;
}

// A system record whose unnamed AT_DATA is the `dataSize` bytes held in `run`.
RecordBuilder DataRecord(const VolumeLayout& l, uint32_t n, const Stamp& when, ClusterRun run,
                         uint32_t dataSize) {
  RecordBuilder record = PlainRecord(l, n, when, dataSize);
  record.AddNonResident(AT_DATA, "", WholeValue({run}, dataSize, l.clusterSize));
  record.SetFlags(record::kFlagInUse);  // as on a record holding a non-resident value
  return record;
}

RecordBuilder MftRecord(const VolumeLayout& l, const Stamp& when) {
  RecordBuilder record =
      DataRecord(l, record::kMft, when, {l.mftLcn, l.mftClusters}, l.mftRecords * l.recordSize);
  record.AddResident(AT_BITMAP, "", BuildRecordBitmap(l.mftRecords));
  return record;
}

RecordBuilder SystemRecord(const VolumeLayout& l, uint32_t n, const Stamp& when) {
  switch (n) {
    case record::kMft:
      return MftRecord(l, when);
    case record::kRoot:
      return NewDirectoryRecord(l.recordSize, l.bytesPerSector, record::kRoot, ".", when);
    case record::kClusterBitmap:
      return DataRecord(l, n, when, {l.bitmapLcn, l.bitmapClusters}, l.bitmapBytes);
    case kBootRecord:
      return DataRecord(l, n, when, {kBootLcn, 1}, l.clusterSize);
    default:
      return PlainRecord(l, n, when);
  }
}

}  // namespace

std::vector<std::vector<uint8_t>> BuildSystemRecords(const VolumeLayout& layout,
                                                     const Stamp& when) {
  std::vector<std::vector<uint8_t>> records;
  for (uint32_t n = 0; n < record::kSystemRecords; ++n) {
    records.push_back(SystemRecord(layout, n, when).image());
  }
  return records;
}

}  // namespace vrax::mkfs
