#include "fsck.h"

#include "cluster_check.h"
#include "context.h"
#include "exit_codes.h"
#include "geometry.h"
#include "image_reader.h"
#include "mft.h"
#include "mft_check.h"
#include "record_check.h"
#include "report.h"
#include "tree_check.h"

namespace vrax::fsck {

int CheckVolume(const std::string& path, bool verbose, std::FILE* out, std::FILE* err) {
  ImageReader image;
  std::string error;
  if (!image.Open(path, error)) {
    std::fprintf(err, "vrax-fsck: cannot open %s: %s\n", path.c_str(), error.c_str());
    return kExitUnreadable;
  }
  Report report(out);
  Geometry geometry;
  if (!ReadGeometry(image, report, geometry)) return kExitUnreadable;
  Mft mft(image, geometry);
  if (!mft.Open(report)) return kExitUnreadable;

  Context context(image, geometry, mft, report);
  ExamineRecordsInUse(context);
  CheckTree(context);
  CheckChains(context);
  CheckReachability(context);
  CheckClusterBitmap(context);

  if (verbose) report.PrintSummary();
  return report.problems() == 0 ? kExitClean : kExitProblems;
}

}  // namespace vrax::fsck
