#include "record_check.h"

#include <vector>

#include "record_parse.h"

namespace vrax::fsck {

namespace {

void ReportUnreadable(Context& context, uint32_t n, ReadStatus status) {
  switch (status) {
    case ReadStatus::kUnreadable:
      context.report.Problem(Format("record %u: cannot be read", n));
      break;
    case ReadStatus::kBadMagic:
      context.report.Problem(Format("record %u: no FILE magic", n));
      break;
    case ReadStatus::kBadFixup:
      context.report.Problem(Format("record %u: update sequence check fails", n));
      break;
    case ReadStatus::kOk:
      break;
  }
}

void ClaimRuns(Context& context, uint32_t n, const ParsedRecord& parsed) {
  for (const ParsedAttribute& a : parsed.attributes) {
    for (const Run& run : a.runs) {
      context.claims.Claim(run.lcn, run.length, n, a.type, context.report);
    }
  }
}

}  // namespace

const RecordState& ExamineRecord(Context& context, uint32_t n) {
  RecordState& state = context.records[n];
  if (state.status != RecordState::kUnexamined) return state;
  std::vector<uint8_t> image;
  const ReadStatus status = context.mft.ReadRecord(n, image);
  if (status != ReadStatus::kOk) {
    state.status = RecordState::kUnreadable;
    ReportUnreadable(context, n, status);
    return state;
  }
  const ParsedRecord parsed = ParseRecord(image.data(), context.geometry);
  state.flags = parsed.flags;
  state.base = parsed.base;
  state.status = parsed.problems.empty() ? RecordState::kSound : RecordState::kDamaged;
  for (const std::string& problem : parsed.problems) {
    context.report.Problem(Format("record %u: %s", n, problem.c_str()));
  }
  ClaimRuns(context, n, parsed);
  return state;
}

void ExamineRecordsInUse(Context& context) {
  for (uint32_t n = 0; n < context.mft.records(); ++n) {
    if (context.mft.InUse(n)) {
      ++context.report.summary.recordsInUse;
      ExamineRecord(context, n);
    }
  }
}

}  // namespace vrax::fsck
