#include "platform/error_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vrax {
namespace {

TEST(SystemErrorText, EveryNumberTheSystemReturnsHasOneLineOfText) {
  const int32_t numbers[] = {1,   2,   3,   5,   6,   8,   19,  21,   27,  32,  33,
                             39,  87,  112, 114, 145, 160, 161, 183,  223, 1117, 1462};
  for (int32_t n : numbers) {
    const char* text = SystemErrorText(n);
    ASSERT_NE(text, nullptr) << n;
    const std::string s(text);
    ASSERT_GE(s.size(), 2u) << n;
    EXPECT_EQ(s.back(), '\n') << n;
    EXPECT_EQ(s.find('\n'), s.size() - 1) << "a single line for " << n;
    EXPECT_EQ(s.find('\r'), std::string::npos) << n;
    EXPECT_TRUE(s[0] >= 'A' && s[0] <= 'Z') << n;
  }
}

TEST(SystemErrorText, UsesTheClassicWording) {
  EXPECT_STREQ(SystemErrorText(2), "The system cannot find the file specified.\n");
  EXPECT_STREQ(SystemErrorText(3), "The system cannot find the path specified.\n");
  EXPECT_STREQ(SystemErrorText(5), "Access is denied.\n");
  EXPECT_STREQ(SystemErrorText(8),
               "Not enough memory resources are available to process this command.\n");
  EXPECT_STREQ(SystemErrorText(27), "The drive cannot find the sector requested.\n");
  EXPECT_STREQ(SystemErrorText(32),
               "The process cannot access the file because it is being used by another "
               "process.\n");
  EXPECT_STREQ(SystemErrorText(39), "The disk is full.\n");
  EXPECT_STREQ(SystemErrorText(114), "The target internal file identifier is incorrect.\n");
  EXPECT_STREQ(SystemErrorText(145), "The directory is not empty.\n");
  EXPECT_STREQ(SystemErrorText(160), "One or more arguments are not correct.\n");
  EXPECT_STREQ(SystemErrorText(161), "The specified path is invalid.\n");
  EXPECT_STREQ(SystemErrorText(183), "Cannot create a file when that file already exists.\n");
  EXPECT_STREQ(SystemErrorText(1117),
               "The request could not be performed because of an I/O device error.\n");
  EXPECT_STREQ(SystemErrorText(1462), "Incorrect size argument.\n");
}

// Numbers without text make callers fall back to "ERROR #%d\n".
TEST(SystemErrorText, HasNoTextForSuccessNegativesAndTheCoresOwnNumbers) {
  EXPECT_EQ(SystemErrorText(0), nullptr);
  EXPECT_EQ(SystemErrorText(-1), nullptr);
  EXPECT_EQ(SystemErrorText(INT32_MIN), nullptr);
  EXPECT_EQ(SystemErrorText(7), nullptr);
  EXPECT_EQ(SystemErrorText(0x34FF), nullptr);
  EXPECT_EQ(SystemErrorText(0x3501), nullptr);
}

}  // namespace
}  // namespace vrax
