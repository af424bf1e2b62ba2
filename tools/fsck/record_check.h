// Examining single records: reading, fix-ups, structure and run lists, and
// claiming the clusters the record's runs hold.
#pragma once

#include <cstdint>

#include "context.h"

namespace vrax::fsck {

// Examines record n (below the records held) once; later calls give the
// state found the first time. Problems are reported as "record n: ...".
const RecordState& ExamineRecord(Context& context, uint32_t n);

// Examines every record the MFT bitmap marks in use.
void ExamineRecordsInUse(Context& context);

}  // namespace vrax::fsck
