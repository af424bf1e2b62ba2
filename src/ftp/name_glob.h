// The wildcards clients send in listings ("mget *", "mdelete *.tmp").
#pragma once

#include <string>

namespace vrax::ftp {

// True when `text` holds '*' or '?'.
bool HasWildcard(const std::string& text);

// '*' matches any run of characters (none included), '?' exactly one;
// every other character itself, ASCII letters in either case (volume names
// are the same whatever their letters' case).
bool GlobMatch(const std::string& pattern, const std::string& name);

}  // namespace vrax::ftp
