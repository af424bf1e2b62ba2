// What a check found that a repair can act on. The checks fill it in as
// they report; the repair (repair.h) reads it and changes the volume.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vrax::fsck {

// Clusters [first, end).
struct ClusterRange {
  uint64_t first = 0;
  uint64_t end = 0;
};

// A record the MFT bitmap marks in use that nothing reaches.
struct OrphanRecord {
  uint32_t record = 0;
  // A sound, whole base record that shares no cluster with a reachable
  // record and names a parent: it can have a name again. It goes back under
  // its own name when its directory is there and the name free; elsewhere
  // (/lost+found) only when it holds data. Anything else is given back.
  bool reconnect = false;
  bool holdsData = false;  // a file with contents, or a directory with names
  bool directory = false;
  uint32_t parent = 0;  // from its file name, when it has one
  std::string name;
  std::vector<uint32_t> chain;  // the base record and its extension records
};

// A directory entry that must go: it names a free record, an extension
// record, a record beyond the MFT, or a record that is right under another
// name.
struct BadEntry {
  uint32_t directory = 0;
  std::string name;
  uint32_t record = 0;
};

struct Findings {
  std::vector<ClusterRange> leakedClusters;    // marked, used by no reachable record
  std::vector<ClusterRange> unmarkedClusters;  // used by one reachable record, not marked
  std::vector<OrphanRecord> orphans;
  // Records a name rightly reaches that the MFT bitmap marks free.
  std::set<uint32_t> unmarkedRecords;
  std::vector<BadEntry> badEntries;
  // Directories whose index bitmap does not match the blocks in use.
  std::set<uint32_t> indexBitmaps;
  // Files whose descriptor size differs from their data: record -> data size.
  std::map<uint32_t, uint32_t> descriptorSizes;
  // Values whose runs hold more clusters than their allocated size says:
  // base record -> attribute types.
  std::map<uint32_t, std::set<uint32_t>> slack;
  // Every directory the tree walk reached (where reconnected records may go).
  std::set<uint32_t> directories;

  // Whether anything above names a record, a name or a value to repair
  // (everything but the cluster bitmap, which is mended once they are done).
  bool RecordsToRepair() const {
    return !orphans.empty() || !unmarkedRecords.empty() || !badEntries.empty() ||
           !indexBitmaps.empty() || !descriptorSizes.empty() || !slack.empty();
  }
};

}  // namespace vrax::fsck
