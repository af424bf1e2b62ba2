// Update sequence protection of records and index blocks: every 512-byte
// stretch end carries the update sequence number on disk and its own bytes
// in the array, whatever the sector size.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/error_codes.h"
#include "volume/format/bytes.h"
#include "volume/format/fixup.h"
#include "volume/format/index_node.h"
#include "volume/format/record.h"

namespace vrax {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kUsn = 0x1234;

Bytes ProtectedRecord() {
  Bytes image(1024);
  BuildEmptyRecord(image.data(), 1024, 512, kUsn);
  PutLE16(image.data() + 510, 0xBBAA);
  PutLE16(image.data() + 1022, 0xDDCC);
  return image;
}

// Writing saves each stretch end in the array and stamps the USN there
// (never incremented); reading restores the image written, the array
// keeping the saved words; a torn stretch is refused and left unchanged.
// Sectors larger than the image leave nothing protected.
TEST(Fixup, WriteStampsTheUsnReadRestoresTheImageAndCatchesTears) {
  const struct {
    const char* what;
    uint32_t size, sectorSize, stretches;
  } layouts[] = {
      {"record", 1024, 512, 2}, {"index block", 4096, 512, 8}, {"record in a 4K sector", 1024, 4096, 0}};
  for (const auto& l : layouts) {
    SCOPED_TRACE(l.what);
    Bytes original(l.size);
    uint32_t usa = 0;
    if (l.size == 4096) {
      BuildEmptyBlock(original.data(), l.size, l.sectorSize, 0);
      usa = indx::kUsa;
    } else {
      BuildEmptyRecord(original.data(), l.size, l.sectorSize, kUsn);
      usa = record::kHeaderSize;
    }
    EXPECT_EQ(GetLE16(original.data() + 0x06), l.stretches + 1);
    for (uint32_t i = 1; i <= l.size / 512; ++i) {
      PutLE16(original.data() + 512 * i - 2, static_cast<uint16_t>(0x100 + i));
    }
    const uint16_t usn = GetLE16(original.data() + usa);
    Bytes image = original;
    ASSERT_EQ(FixupBeforeWrite(image.data(), l.size), kOk);
    Bytes expected = original;
    for (uint32_t i = 1; i <= l.stretches; ++i) {
      EXPECT_EQ(GetLE16(image.data() + 512 * i - 2), usn) << "stretch " << i;
      PutLE16(expected.data() + usa + 2 * i, static_cast<uint16_t>(0x100 + i));
    }
    EXPECT_EQ(GetLE16(image.data() + usa), usn);
    const Bytes written = image;
    if (l.stretches == 0) {
      EXPECT_EQ(written, original);
    }
    ASSERT_EQ(FixupAfterRead(image.data(), l.size), kOk);
    EXPECT_EQ(image, expected);
    for (uint32_t i = 1; i <= l.stretches; ++i) {
      image = written;
      image[512 * i - 1] ^= 0x01;
      const Bytes torn = image;
      EXPECT_EQ(FixupAfterRead(image.data(), l.size), kErrBadStructure) << "stretch " << i;
      EXPECT_EQ(image, torn) << "stretch " << i;
    }
  }
}

// A count of 0 protects nothing; an array outside the image or a count
// covering stretches beyond it is refused without change.
TEST(Fixup, ArrayFieldsAreChecked) {
  const std::pair<uint32_t, uint16_t> cases[] = {
      {0x06, 0},     // count 0
      {0x04, 1020},  // 3 entries need 6 bytes from 1020
      {0x06, 4},     // a third stretch would end at 1534
  };
  for (const auto& [field, value] : cases) {
    Bytes image = ProtectedRecord();
    PutLE16(image.data() + field, value);
    const Bytes original = image;
    const int32_t expected = value == 0 ? kOk : kErrBadStructure;
    EXPECT_EQ(FixupBeforeWrite(image.data(), 1024), expected) << value;
    EXPECT_EQ(FixupAfterRead(image.data(), 1024), expected) << value;
    EXPECT_EQ(image, original) << value;
  }
  Bytes tiny(6, 0);
  EXPECT_EQ(FixupAfterRead(tiny.data(), 6), kErrBadStructure);
}

}  // namespace
}  // namespace vrax
