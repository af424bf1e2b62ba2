// The system records 0 to 10 of a fresh volume.
//
//   record  name           content behind the node attributes
//   0       $Records       AT_DATA (non-resident): all records of the MFT;
//                          AT_BITMAP (resident): one bit per record held,
//                          records 0 to 10 marked in use
//   1-4     $Reserved1-4   nothing (kept for later system use)
//   5       .              the root directory: its parent is itself, the
//                          empty "$I30" index of a new directory
//   6       $ClusterMap    AT_DATA (non-resident): the cluster bitmap
//   7       $BootArea      AT_DATA (non-resident): the boot cluster, so
//                          that every used cluster belongs to a record
//   8-10    $Reserved8-10  nothing
//
// Every system record is a child of the root and, like every file, carries
// the node attributes of node_records.h. Its descriptor allows reading only
// (0x09), so the file interface never writes into the volume's own
// structures; its size field is the size of the record's AT_DATA when the
// volume is formatted (0 without one). The engine keeps that field only
// through file writes, so once the MFT grows, record 0's field stays at the
// formatted size. These records are not listed in the root's index, and the
// engine refuses to rename or remove records 0 to 10.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry.h"
#include "volume/format/descriptor.h"  // Stamp

namespace vrax::mkfs {

constexpr uint32_t kBootRecord = 7;
constexpr uint8_t kSystemDescriptorBits = 0x09;  // owner read, public read

// Record n's in-memory image (no fix-ups applied) for n = 0 to 10.
std::vector<std::vector<uint8_t>> BuildSystemRecords(const VolumeLayout& layout, const Stamp& when);

}  // namespace vrax::mkfs
