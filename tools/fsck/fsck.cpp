#include "fsck.h"

#include "cluster_check.h"
#include "context.h"
#include "exit_codes.h"
#include "geometry.h"
#include "image_reader.h"
#include "mft.h"
#include "mft_check.h"
#include "record_check.h"
#include "repair.h"
#include "report.h"
#include "tree_check.h"

namespace vrax::fsck {

CheckPass CheckOnce(const std::string& path, bool verbose, std::FILE* out, std::FILE* err) {
  CheckPass pass;
  ImageReader image;
  std::string error;
  if (!image.Open(path, error)) {
    if (err != nullptr) std::fprintf(err, "vrax-fsck: cannot open %s: %s\n", path.c_str(), error.c_str());
    return pass;
  }
  Report report(out, verbose);
  Geometry geometry;
  if (!ReadGeometry(image, report, geometry)) return pass;
  Mft mft(image, geometry);
  if (!mft.Open(report)) return pass;

  Context context(image, geometry, mft, report);
  ExamineRecordsInUse(context);
  CheckTree(context);
  CheckChains(context);
  ClaimClusters(context);
  CheckReachability(context);
  CheckClusterBitmap(context);

  if (verbose) report.PrintSummary();
  pass.readable = true;
  pass.problems = report.problems();
  pass.leaks = report.leaks();
  pass.findings = std::move(context.findings);
  pass.findings.directories.insert(context.directories.begin(), context.directories.end());
  return pass;
}

int CheckVolume(const std::string& path, const CheckOptions& options, std::FILE* out,
                std::FILE* err) {
  if (options.repair) return RepairVolume(path, options.verbose, out, err);
  const CheckPass pass = CheckOnce(path, options.verbose, out, err);
  if (!pass.readable) return kExitUnreadable;
  return pass.problems + pass.leaks == 0 ? kExitClean : kExitProblemsLeft;
}

}  // namespace vrax::fsck
