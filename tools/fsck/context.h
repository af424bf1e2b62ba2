// What the checks share while they walk one volume.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cluster_claims.h"
#include "findings.h"
#include "geometry.h"
#include "image_reader.h"
#include "mft.h"
#include "report.h"

namespace vrax::fsck {

// Clusters one attribute of a record holds.
struct HeldRun {
  uint32_t lcn = 0;
  uint32_t length = 0;
  uint32_t type = 0;
};

// What the examination of one record found.
struct RecordState {
  enum Status : uint8_t {
    kUnexamined,
    kUnreadable,  // not read, no magic or failed fix-ups: nothing of it is used
    kDamaged,     // read and decoded, with problems; its sound attributes are used
    kSound,
  };
  Status status = kUnexamined;
  uint16_t flags = 0;
  uint32_t base = 0;
  // What is wrong with it, as whole lines; reported as problems once the
  // record is reached, folded into its leak when nothing reaches it.
  std::vector<std::string> problems;
  bool problemsReported = false;
  std::vector<HeldRun> runs;

  bool Usable() const { return status == kDamaged || status == kSound; }
};

struct Context {
  Context(const ImageReader& i, const Geometry& g, const Mft& m, Report& r)
      : image(i), geometry(g), mft(m), report(r), records(m.records()), reached(m.records(), 0) {}

  const ImageReader& image;
  const Geometry& geometry;
  const Mft& mft;
  Report& report;
  std::vector<RecordState> records;  // one per record held
  std::vector<uint8_t> reached;      // 1 when the record is a system record, reachable
                                     // from the root, or an extension of such a record
  std::vector<uint32_t> directories; // the directories reached, in walk order
  ClusterClaims claims;              // clusters of reached records
  ClusterClaims orphanClaims;        // clusters of records in use that nothing reaches
  Findings findings;
  // Record 6's bitmap value, once a check has needed it.
  bool clusterBitmapLoaded = false;
  AttributeValue clusterBitmap;
};

}  // namespace vrax::fsck
