// The single repairs, each made through the engine on the volume mounted
// as drive "/1", each printing one line when it changed something. Every
// repair writes in the engine's crash-safe order, so a repair that is cut
// short leaves leaks at worst, which the next run repairs.
#pragma once

#include <cstdint>
#include <string>

#include "findings.h"
#include "report.h"
#include "volume/toolkit/toolkit.h"

namespace vrax::fsck {

class Repairer {
 public:
  // `root` is a Toolkit opened on the root directory of drive "/1".
  Repairer(Toolkit* root, Report& report) : root_(root), report_(report) {}

  // Repairs what `findings` name about records, names and values.
  void Records(const Findings& findings);
  // Repairs the cluster bitmap (only meaningful once the records are right).
  void Clusters(const Findings& findings);

  uint32_t made() const { return made_; }

 private:
  void RemoveEntry(const BadEntry& entry);
  void MarkRecord(uint32_t n);
  void RebuildIndexBitmap(uint32_t directory);
  void SetDescriptorSize(uint32_t n, uint32_t size);
  void ShedSlack(uint32_t n, uint32_t type);
  void Orphans(const Findings& findings);
  bool Reconnect(const OrphanRecord& orphan, const Findings& findings);
  bool LinkIn(uint32_t directory, const std::string& name, uint32_t record);
  uint32_t LostAndFound();
  void Done(const std::string& line);

  Toolkit* root_;
  Report& report_;
  uint32_t made_ = 0;
};

}  // namespace vrax::fsck
