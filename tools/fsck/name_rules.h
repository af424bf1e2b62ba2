// The rules every name the engine creates obeys: 1 to 28 characters, a
// first character outside "/\*&;->< #^", no "/" or NUL anywhere (a path
// could not name it), and neither "." nor ".." (those resolve to existing
// directories).
#pragma once

#include <string>

namespace vrax::fsck {

// Empty when `name` obeys the rules, else which rule it breaks.
std::string NameRuleBreach(const std::string& name);

}  // namespace vrax::fsck
