#include "volume/format/runlist.h"

#include <algorithm>

namespace vrax {

RunStatus DecodeRun(const uint8_t* list, uint32_t size, uint32_t& pos, DecodedRun& run) {
  if (pos >= size) return RunStatus::kMalformed;
  const uint8_t header = list[pos];
  if (header == 0) return RunStatus::kEnd;
  const uint32_t lb = header & 0x0F;
  const uint32_t ob = header >> 4;
  if (lb == 0 || lb > 8 || ob == 0 || ob > 8) return RunStatus::kMalformed;
  if (static_cast<uint64_t>(pos) + 1 + lb + ob > size) return RunStatus::kMalformed;
  const uint8_t* p = list + pos + 1;
  uint64_t length = 0;
  for (uint32_t i = 0; i < lb; ++i) length |= static_cast<uint64_t>(p[i]) << (8 * i);
  uint64_t raw = 0;
  for (uint32_t i = 0; i < ob; ++i) raw |= static_cast<uint64_t>(p[lb + i]) << (8 * i);
  if (ob < 8 && (p[lb + ob - 1] & 0x80)) raw |= ~0ull << (8 * ob);  // sign-extend
  if (length == 0 || length > 0xFFFFFFFFull) return RunStatus::kMalformed;
  run.length = static_cast<uint32_t>(length);
  run.offset = static_cast<int64_t>(raw);
  run.lengthBytes = lb;
  run.offsetBytes = ob;
  pos += 1 + lb + ob;
  return RunStatus::kRun;
}

bool AdvanceRun(const DecodedRun& run, uint32_t& p, uint32_t& lcn) {
  if (run.offset > 0xFFFFFFFFll || run.offset < -0xFFFFFFFFll) return false;
  const int64_t first = static_cast<int64_t>(p) + run.offset;
  const int64_t last = first + run.length - 1;
  if (first < 0 || last > 0xFFFFFFFFll) return false;
  lcn = static_cast<uint32_t>(first);
  p = static_cast<uint32_t>(last);
  return true;
}

uint32_t RunFieldWidth(bool nonNegative, uint32_t v) {
  if (!nonNegative) {
    const uint32_t magnitude = ~v;  // the complement of a negative value
    uint32_t width = RunFieldWidth(true, magnitude);
    return width == 0 ? 1 : width;
  }
  uint32_t width = 0;
  uint32_t top = 0;
  for (uint32_t x = v; x != 0; x >>= 8) {
    top = x & 0xFF;
    ++width;
  }
  if (width > 0 && (top & 0x80) && width < 4) ++width;
  return width;
}

uint32_t OffsetFieldWidth(int64_t offset) {
  uint32_t width = 1;
  while (width < 8) {
    const int64_t low = -(int64_t{1} << (8 * width - 1));
    const int64_t high = (int64_t{1} << (8 * width - 1)) - 1;
    if (offset >= low && offset <= high) break;
    ++width;
  }
  return width;
}

void EncodeRun(uint8_t* at, uint32_t lengthBytes, uint32_t offsetBytes, uint32_t length,
               int64_t offset) {
  at[0] = static_cast<uint8_t>((offsetBytes << 4) | lengthBytes);
  for (uint32_t i = 0; i < lengthBytes; ++i) at[1 + i] = static_cast<uint8_t>(length >> (8 * i));
  const uint64_t raw = static_cast<uint64_t>(offset);
  for (uint32_t i = 0; i < offsetBytes; ++i) {
    at[1 + lengthBytes + i] = static_cast<uint8_t>(raw >> (8 * i));
  }
  at[1 + lengthBytes + offsetBytes] = 0;
}

bool RunListSummary(const uint8_t* list, uint32_t size, uint32_t& lastCluster,
                    uint32_t& lastRunLength, uint32_t& encodedBytes) {
  lastCluster = 0;
  lastRunLength = 0;
  uint32_t pos = 0;
  DecodedRun run;
  for (;;) {
    const RunStatus status = DecodeRun(list, size, pos, run);
    if (status == RunStatus::kEnd) break;
    if (status == RunStatus::kMalformed) return false;
    uint32_t lcn = 0;
    if (!AdvanceRun(run, lastCluster, lcn)) return false;
    lastRunLength = run.length;
  }
  encodedBytes = pos;
  return true;
}

std::vector<uint8_t> EncodeRunList(const std::vector<ClusterRun>& runs) {
  std::vector<uint8_t> list;
  uint32_t position = 0;  // last cluster of the previous run
  for (const ClusterRun& run : runs) {
    const int64_t offset = static_cast<int64_t>(run.lcn) - position;
    const uint32_t lengthBytes = std::max<uint32_t>(1, RunFieldWidth(true, run.length));
    const uint32_t offsetBytes = OffsetFieldWidth(offset);
    const size_t at = list.size();
    list.resize(at + 2 + lengthBytes + offsetBytes);  // EncodeRun adds a terminator
    EncodeRun(list.data() + at, lengthBytes, offsetBytes, run.length, offset);
    list.pop_back();
    position = run.lcn + run.length - 1;
  }
  return list;
}

bool DecodeRunList(const uint8_t* list, uint32_t size, std::vector<ClusterRun>& runs) {
  runs.clear();
  uint32_t pos = 0, p = 0;
  DecodedRun run;
  for (;;) {
    const RunStatus status = DecodeRun(list, size, pos, run);
    if (status == RunStatus::kEnd) return true;
    if (status == RunStatus::kMalformed) return false;
    uint32_t lcn = 0;
    if (!AdvanceRun(run, p, lcn)) return false;
    runs.push_back(ClusterRun{lcn, run.length});
  }
}

}  // namespace vrax
