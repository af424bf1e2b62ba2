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
    EXPECT_EQ(s.find('\n'), s.size() - 1) << "a single line for " << n;
    EXPECT_EQ(s.find('\r'), std::string::npos) << n;
    EXPECT_TRUE(s[0] >= 'A' && s[0] <= 'Z') << n;
  }
  EXPECT_STREQ(SystemErrorText(2), "The system cannot find the file specified.\n");
  EXPECT_STREQ(SystemErrorText(1117),
               "The request could not be performed because of an I/O device error.\n");
}

// Numbers without text make callers fall back to "ERROR #%d\n".
TEST(SystemErrorText, HasNoTextForSuccessNegativesAndTheCoresOwnNumbers) {
  for (int32_t n : {0, -1, INT32_MIN, 7, 0x34FF}) EXPECT_EQ(SystemErrorText(n), nullptr) << n;
}

}  // namespace
}  // namespace vrax
