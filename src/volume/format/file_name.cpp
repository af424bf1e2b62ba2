#include "volume/format/file_name.h"

#include <cstring>

#include "volume/format/bytes.h"

namespace vrax {

void EncodeFileName(uint8_t* out, uint32_t parent, const char* name, uint32_t n) {
  std::memset(out, 0, FileNameValueSize(n));
  PutLE32(out, parent);
  out[0x40] = static_cast<uint8_t>(n);
  out[0x41] = kFileNameSpace;
  for (uint32_t i = 0; i < n; ++i) out[kFileNameHeader + 2 * i] = static_cast<uint8_t>(name[i]);
}

uint32_t FileNameParent(const uint8_t* value) { return GetLE32(value); }

bool DecodeFileName(const uint8_t* value, uint32_t size, std::string& name) {
  if (size < kFileNameHeader) return false;
  const uint32_t n = value[0x40];
  if (!InBounds(kFileNameHeader, 2ull * n, size)) return false;
  name.clear();
  for (uint32_t i = 0; i < n; ++i) name.push_back(static_cast<char>(value[kFileNameHeader + 2 * i]));
  return true;
}

}  // namespace vrax
