// The drive table: the one mounted drive, looked up by name.
#pragma once

#include <cstdint>

namespace vrax {

struct BlockDevice;

// Returns the current drive when its name equals `name` without regard to
// letter case; otherwise prints "Drive %s not found\n", sets error to 2 and
// returns null.
BlockDevice* VRAX_FindDrive(const char* name, int32_t& error);

// Installs (or with null removes) the current drive. Used by mount/unmount
// and by tests that build a drive directly.
void SetCurrentDrive(BlockDevice* device);
BlockDevice* CurrentDrive();

// Removes `device` if it is the current drive; any other drive stays.
// DeleteDevice calls it so the table never holds a freed device.
void ForgetDrive(BlockDevice* device);

}  // namespace vrax
