// Checking what a file or directory record says about itself: its
// descriptor, its file name and, for a file, its data.
#pragma once

#include <cstdint>
#include <string>

#include "attribute_value.h"
#include "context.h"

namespace vrax::fsck {

// How a directory lists a record: the record's AT_FILE_NAME must give this
// parent and (when `checkName` is set) this name.
struct Listing {
  uint32_t parent = 0;
  std::string name;
  bool checkName = true;
};

struct NodeFacts {
  bool directory = false;  // the record header's directory flag
  bool hasData = false;
  uint32_t dataSize = 0;  // the AT_DATA value length, for files
};

// Checks base record n, whose chain is given. `listing` is null for the
// system records that no directory lists (their name is theirs to choose).
// A listing that disagrees with the record's own file name makes the entry
// one for the repair to take away: the record's name decides.
NodeFacts CheckNode(Context& context, uint32_t n, const Chain& chain, const Listing* listing);

// The parent and name a record's AT_FILE_NAME gives; false when it has none
// or it is malformed.
bool ReadOwnName(const Context& context, const Chain& chain, uint32_t& parent, std::string& name);

}  // namespace vrax::fsck
