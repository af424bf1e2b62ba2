// Editing attributes inside one record image: opening and closing gaps,
// adding and removing whole attributes. Every edit checks the record's room
// first and changes nothing when it does not fit.
#pragma once

#include <cstdint>

namespace vrax {

// Free room of a record: bytes allocated minus bytes in use.
uint32_t RecordFreeRoom(const uint8_t* image);

// Moves everything from `at` up to the end of the bytes in use by `delta`
// bytes (a gap opens for delta > 0, closes for delta < 0) and adjusts bytes
// in use. Opened bytes are zeroed. False when the record has no room.
bool ShiftRecordTail(uint8_t* image, uint32_t recordSize, uint32_t at, int64_t delta);

// Removes the attribute at `a` (length bytes and the attribute count).
void RemoveAttributeBytes(uint8_t* image, uint32_t recordSize, uint8_t* a);

// Inserts `length` bytes of attribute before the end marker. False when the
// record has no room or no end marker.
bool InsertAttributeBytes(uint8_t* image, uint32_t recordSize, const uint8_t* attribute,
                          uint32_t length);

// Appends an empty resident attribute of `type` named `name` (8-bit
// characters, may be null) to one record image. 0x6820 when the type is
// present, 0x6821 without end marker, 0x6822 without room.
int32_t AddAttribute(uint8_t* image, uint32_t recordSize, uint32_t type, const char* name);

}  // namespace vrax
