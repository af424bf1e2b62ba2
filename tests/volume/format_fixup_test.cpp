// Update sequence protection of records and index blocks: every 512-byte
// stretch end carries the update sequence number on disk and its own bytes
// in the array, whatever the sector size.
#include <gtest/gtest.h>

#include <algorithm>
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

// A 1024-byte record for 512-byte sectors with recognisable bytes at both
// stretch ends.
Bytes ProtectedRecord() {
  Bytes image(1024);
  BuildEmptyRecord(image.data(), 1024, 512, kUsn);
  image[510] = 0xAA;
  image[511] = 0xBB;
  image[1022] = 0xCC;
  image[1023] = 0xDD;
  return image;
}

// Writing saves each stretch end in the array and stamps the USN there;
// reading restores the image written.
TEST(Fixup, WriteStampsTheUsnAndReadRestoresTheImage) {
  const Bytes original = ProtectedRecord();
  Bytes image = original;
  ASSERT_EQ(FixupBeforeWrite(image.data(), 1024), kOk);
  EXPECT_EQ(GetLE16(image.data() + 510), kUsn);
  EXPECT_EQ(GetLE16(image.data() + 1022), kUsn);
  EXPECT_EQ(GetLE16(image.data() + 0x2C), kUsn) << "the USN is never incremented";
  ASSERT_EQ(FixupAfterRead(image.data(), 1024), kOk);
  Bytes expected = original;  // the array keeps the saved words
  PutLE16(expected.data() + 0x2E, 0xBBAA);
  PutLE16(expected.data() + 0x30, 0xDDCC);
  EXPECT_EQ(image, expected);
}

TEST(Fixup, TornStretchesAreRejectedAndLeftUnchanged) {
  for (const uint32_t at : {510u, 1023u}) {
    Bytes image = ProtectedRecord();
    ASSERT_EQ(FixupBeforeWrite(image.data(), 1024), kOk);
    image[at] ^= 0x01;
    const Bytes before = image;
    EXPECT_EQ(FixupAfterRead(image.data(), 1024), kErrBadStructure) << at;
    EXPECT_EQ(image, before) << at;
  }
}

TEST(Fixup, SectorsLargerThanTheRecordLeaveNothingProtected) {
  Bytes image(1024);
  BuildEmptyRecord(image.data(), 1024, 4096, kUsn);
  EXPECT_EQ(GetLE16(image.data() + 0x06), 1);
  image[510] = 0x55;
  image[1022] = 0x66;
  const Bytes original = image;
  EXPECT_EQ(FixupBeforeWrite(image.data(), 1024), kOk);
  EXPECT_EQ(image, original);
  EXPECT_EQ(FixupAfterRead(image.data(), 1024), kOk);
  EXPECT_EQ(image, original);
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

TEST(Fixup, IndexBlockOf4096BytesProtectsEightStretches) {
  Bytes block(4096);
  BuildEmptyBlock(block.data(), 4096, 512, 0);
  ASSERT_EQ(GetLE16(block.data() + 0x06), 9);
  for (uint32_t i = 1; i <= 8; ++i) {
    PutLE16(block.data() + 512 * i - 2, static_cast<uint16_t>(0x100 + i));
  }
  const Bytes original = block;
  const uint16_t usn = GetLE16(block.data() + 0x28);

  ASSERT_EQ(FixupBeforeWrite(block.data(), 4096), kOk);
  for (uint32_t i = 1; i <= 8; ++i) {
    EXPECT_EQ(GetLE16(block.data() + 512 * i - 2), usn) << "stretch " << i;
    EXPECT_EQ(GetLE16(block.data() + 0x28 + 2 * i), 0x100 + i) << "entry " << i;
  }
  ASSERT_EQ(FixupAfterRead(block.data(), 4096), kOk);
  for (uint32_t i = 1; i <= 8; ++i) {
    EXPECT_EQ(GetLE16(block.data() + 512 * i - 2), 0x100 + i) << "stretch " << i;
  }
  EXPECT_TRUE(std::equal(block.begin() + 0x28 + 18, block.end(), original.begin() + 0x28 + 18));
  ASSERT_EQ(FixupBeforeWrite(block.data(), 4096), kOk);
  block[4094] ^= 0xFF;  // the eighth stretch torn
  EXPECT_EQ(FixupAfterRead(block.data(), 4096), kErrBadStructure);
}

}  // namespace
}  // namespace vrax
