#include "record_check.h"

#include <vector>

#include "record_parse.h"

namespace vrax::fsck {

namespace {

std::string UnreadableText(ReadStatus status) {
  switch (status) {
    case ReadStatus::kUnreadable:
      return "cannot be read";
    case ReadStatus::kBadMagic:
      return "no FILE magic";
    case ReadStatus::kBadFixup:
      return "update sequence check fails";
    case ReadStatus::kOk:
      break;
  }
  return "";
}

void KeepRuns(RecordState& state, const ParsedRecord& parsed) {
  for (const ParsedAttribute& a : parsed.attributes) {
    for (const Run& run : a.runs) state.runs.push_back(HeldRun{run.lcn, run.length, a.type});
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
    state.problems.push_back(Format("record %u: %s", n, UnreadableText(status).c_str()));
    return state;
  }
  const ParsedRecord parsed = ParseRecord(image.data(), context.geometry);
  state.flags = parsed.flags;
  state.base = parsed.base;
  state.status = parsed.problems.empty() ? RecordState::kSound : RecordState::kDamaged;
  for (const std::string& problem : parsed.problems) {
    state.problems.push_back(Format("record %u: %s", n, problem.c_str()));
  }
  KeepRuns(state, parsed);
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

void ReportRecordProblems(Context& context, uint32_t n) {
  RecordState& state = context.records[n];
  if (state.problemsReported) return;
  state.problemsReported = true;
  for (const std::string& line : state.problems) context.report.Problem(line);
}

void ClaimClusters(Context& context) {
  for (uint32_t n = 0; n < context.mft.records(); ++n) {
    if (context.reached[n] == 0) continue;
    for (const HeldRun& r : context.records[n].runs) {
      context.claims.Claim(r.lcn, r.length, n, r.type, &context.report);
    }
  }
  for (uint32_t n = 0; n < context.mft.records(); ++n) {
    if (context.reached[n] != 0 || !context.mft.InUse(n)) continue;
    for (const HeldRun& r : context.records[n].runs) {
      context.orphanClaims.Claim(r.lcn, r.length, n, r.type, nullptr);
    }
  }
}

}  // namespace vrax::fsck
