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

TEST(Fixup, RecordOf1024BytesWith512ByteSectorsHasThreeEntries) {
  const Bytes image = ProtectedRecord();
  EXPECT_EQ(GetLE16(image.data() + 0x04), 0x2C);
  EXPECT_EQ(GetLE16(image.data() + 0x06), 3);
  EXPECT_EQ(GetLE16(image.data() + 0x2C), kUsn);
}

TEST(Fixup, BeforeWriteSavesStretchEndsAndStampsTheUsn) {
  Bytes image = ProtectedRecord();
  ASSERT_EQ(FixupBeforeWrite(image.data(), 1024), kOk);
  EXPECT_EQ(GetLE16(image.data() + 510), kUsn);
  EXPECT_EQ(GetLE16(image.data() + 1022), kUsn);
  EXPECT_EQ(GetLE16(image.data() + 0x2C), kUsn) << "the USN is never incremented";
  EXPECT_EQ(GetLE16(image.data() + 0x2E), 0xBBAA);
  EXPECT_EQ(GetLE16(image.data() + 0x30), 0xDDCC);
}

TEST(Fixup, AfterReadRestoresTheImageWritten) {
  const Bytes original = ProtectedRecord();
  Bytes image = original;
  ASSERT_EQ(FixupBeforeWrite(image.data(), 1024), kOk);
  ASSERT_EQ(FixupAfterRead(image.data(), 1024), kOk);
  // The array keeps the saved words; everything else is as before writing.
  Bytes expected = original;
  PutLE16(expected.data() + 0x2E, 0xBBAA);
  PutLE16(expected.data() + 0x30, 0xDDCC);
  EXPECT_EQ(image, expected);
}

TEST(Fixup, TornFirstStretchIsRejectedAndLeftUnchanged) {
  Bytes image = ProtectedRecord();
  ASSERT_EQ(FixupBeforeWrite(image.data(), 1024), kOk);
  image[510] ^= 0x01;
  const Bytes before = image;
  EXPECT_EQ(FixupAfterRead(image.data(), 1024), kErrBadStructure);
  EXPECT_EQ(image, before);
}

TEST(Fixup, TornLastStretchIsRejectedAndLeftUnchanged) {
  Bytes image = ProtectedRecord();
  ASSERT_EQ(FixupBeforeWrite(image.data(), 1024), kOk);
  image[1023] ^= 0x80;
  const Bytes before = image;
  EXPECT_EQ(FixupAfterRead(image.data(), 1024), kErrBadStructure);
  EXPECT_EQ(image, before);
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

TEST(Fixup, CountZeroMeansNoProtection) {
  Bytes image = ProtectedRecord();
  PutLE16(image.data() + 0x06, 0);
  const Bytes original = image;
  EXPECT_EQ(FixupBeforeWrite(image.data(), 1024), kOk);
  EXPECT_EQ(FixupAfterRead(image.data(), 1024), kOk);
  EXPECT_EQ(image, original);
}

TEST(Fixup, ArrayOutsideTheImageIsRejected) {
  Bytes image = ProtectedRecord();
  PutLE16(image.data() + 0x04, 1020);  // 3 entries need 6 bytes from 1020
  const Bytes original = image;
  EXPECT_EQ(FixupBeforeWrite(image.data(), 1024), kErrBadStructure);
  EXPECT_EQ(image, original);
  EXPECT_EQ(FixupAfterRead(image.data(), 1024), kErrBadStructure);
  EXPECT_EQ(image, original);
}

TEST(Fixup, CountCoveringStretchesBeyondTheImageIsRejected) {
  Bytes image = ProtectedRecord();
  PutLE16(image.data() + 0x06, 4);  // a third stretch would end at 1534
  const Bytes original = image;
  EXPECT_EQ(FixupBeforeWrite(image.data(), 1024), kErrBadStructure);
  EXPECT_EQ(FixupAfterRead(image.data(), 1024), kErrBadStructure);
  EXPECT_EQ(image, original);
}

TEST(Fixup, ImageTooShortForTheHeaderIsRejected) {
  Bytes image(6, 0);
  EXPECT_EQ(FixupAfterRead(image.data(), 6), kErrBadStructure);
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
}

TEST(Fixup, IndexBlockWithATornEighthStretchIsRejected) {
  Bytes block(4096);
  BuildEmptyBlock(block.data(), 4096, 512, 0);
  ASSERT_EQ(FixupBeforeWrite(block.data(), 4096), kOk);
  block[4094] ^= 0xFF;
  EXPECT_EQ(FixupAfterRead(block.data(), 4096), kErrBadStructure);
}

}  // namespace
}  // namespace vrax
