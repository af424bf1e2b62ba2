// Examining single records: reading, fix-ups, structure and run lists, and
// the clusters the record's runs hold.
#pragma once

#include <cstdint>

#include "context.h"

namespace vrax::fsck {

// Examines record n (below the records held) once; later calls give the
// state found the first time. What is wrong is kept in the state, not yet
// reported: a record nothing reaches is a leak, whatever it holds.
const RecordState& ExamineRecord(Context& context, uint32_t n);

// Examines every record the MFT bitmap marks in use.
void ExamineRecordsInUse(Context& context);

// Reports what is wrong with record n as problems, once (for records that
// are reached).
void ReportRecordProblems(Context& context, uint32_t n);

// Once reachability is known: the clusters of the reached records are
// claimed first (a cluster two of them hold is a problem), then those of
// the records in use that nothing reaches, apart.
void ClaimClusters(Context& context);

}  // namespace vrax::fsck
