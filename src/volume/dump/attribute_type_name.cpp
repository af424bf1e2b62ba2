#include "volume/dump/dump.h"
#include "volume/format/attribute.h"

namespace vrax {

const char* AttributeTypeName(uint32_t type) {
  switch (type) {
    case AT_STANDARD_INFORMATION: return "AT_STANDARD_INFORMATION";
    case AT_ATTRIBUTE_LIST: return "AT_ATTRIBUTE_LIST";
    case AT_FILE_NAME: return "AT_FILE_NAME";
    case AT_VOLUME_VERSION: return "AT_VOLUME_VERSION";
    case AT_SECURITY_DESCRIPTOR: return "AT_SECURITY_DESCRIPTOR";
    case AT_VOLUME_NAME: return "AT_VOLUME_NAME";
    case AT_VOLUME_INFORMATION: return "AT_VOLUME_INFORMATION";
    case AT_DATA: return "AT_DATA";
    case AT_INDEX_ROOT: return "AT_INDEX_ROOT";
    case AT_INDEX_ALLOCATION: return "AT_INDEX_ALLOCATION";
    case AT_BITMAP: return "AT_BITMAP";
    case AT_SYMBOLIC_LINK: return "AT_SYMBOLIC_LINK";
    case AT_EA_INFORMATION: return "AT_EA_INFORMATION";
    case AT_EA: return "AT_EA";
    case AT_OSK_FILEDES: return "AT_OSK_FILEDES";
    default: return "UNKNOWN_ATTRIBUTE";
  }
}

}  // namespace vrax
