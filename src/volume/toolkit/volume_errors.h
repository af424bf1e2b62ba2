// The volume core's own consistency failures, beside the system error
// numbers of platform/error_codes.h.
#pragma once

#include <cstdint>

namespace vrax {

enum : int32_t {
  kErrBadDevice = -1,             // bad device name, attach failure, run too short
  kErrListNonResident = -2,       // an attribute list must be resident
  kErrNoTypeToOverflow = -5,      // overflow: no attribute or list entry of the type
  kErrOverflowWhileListing = -10, // overflow: record would overflow creating a list
  kErrOverflowMissingBase = -11,
  kErrOverflowMissingInstance = -12,
  kErrVcnNotMapped = 0x34FF,      // VCN not covered by the run list
  kErrResidentInRunLookup = 0x4301,
  kErrIndexRootNoSubNode = 0x4500,
  kErrEnumerateWantedZero = 0x6000,
  kErrEnumerateNoRoom = 0x6001,
  kErrResizeMissing = 0x6200,
  kErrSizeFirstMissing = 0x6300,
  kErrSizeLastMissing = 0x6301,
  kErrExtentTypeMissing = 0x6302,
  kErrExtentInstanceMissing = 0x6303,
  kErrExtentListNonResident = 0x6304,
  kErrRecordBitmapEmpty = 0x6400,
  kErrIndexBitmapEmpty = 0x6500,
  kErrAppendMissing = 0x6700,
  kErrAddTypePresent = 0x6820,
  kErrAddNoEndMarker = 0x6821,
  kErrAddNoRoom = 0x6822,
  kErrNoRoomNonResident = 0x6900,
  kErrTruncateFirstMissing = 0x6991,
  kErrTruncateLastMissing = 0x6992,
  kErrInsertEmptyName = 0x7000,
  kErrBlockAppendNoRoom = 0x7101,
  kErrBlockInsertNoRoom = 0x7102,
  kErrBeyondAllocation = 0x7200,  // record or index block beyond what is held
  kErrSplitNoRoom = 0x7301,
  kErrSizeMissing = 0x7501,
  kErrRemoveNoRoom = 0x8901,
};

}  // namespace vrax
