// Fuzz harness: check a damaged volume, repair it, and check it again. The
// checker and the repair read untrusted structures as the engine does:
// they must end with a finding or a refusal, never a crash or a hang, and a
// repair that reports success must leave a volume that checks clean.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fsck/fsck.h"
#include "fsck/repair.h"
#include "fuzz_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = vrax::fuzz::ServeImage(vrax::fuzz::Damaged(data, size));
  vrax::fsck::CheckOnce(path, false, nullptr, nullptr);
  if (vrax::fsck::RepairVolume(path, false, nullptr, nullptr) == 1) {
    const vrax::fsck::CheckPass after = vrax::fsck::CheckOnce(path, false, nullptr, nullptr);
    if (!after.readable || after.problems + after.leaks != 0) std::abort();
  }
  return 0;
}
