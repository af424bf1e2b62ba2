// Separator lines shared by the dumps. Private to src/volume/dump.
#pragma once

namespace vrax::dump {

// 47 dashes: frames the attribute-list dump.
inline constexpr char kDashLine[] = "-----------------------------------------------\n";
// 48 stars: frames the parts of the index block dump.
inline constexpr char kStarLine[] = "************************************************\n";
// 38 equals signs: closes the dump of one record's attributes.
inline constexpr char kClosingLine[] = "======================================\n";

}  // namespace vrax::dump
