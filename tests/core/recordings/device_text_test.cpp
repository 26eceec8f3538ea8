#include "recordings/device_text.h"

#include <gtest/gtest.h>

#include "platform/last_error.h"

namespace {

// What the user types is UTF-8; the recorder stores Latin-1, one byte a
// character, so a limit of four characters holds four bytes.
TEST(DeviceText, UserTextBecomesLatin1OrIsRefusedByName) {
  struct Case {
    const char* utf8;
    const char* latin1;  // nullptr: refused
    const char* named;   // what the refusal names
  } cases[] = {
      {"ABCD", "ABCD", nullptr},
      {"\xC3\x84"
       "BCD",
       "\xC4"
       "BCD",
       nullptr},                                  // ÄBCD: four characters, four bytes
      {"\xC3\xBF", "\xFF", nullptr},              // ÿ, the last Latin-1 character
      {"\xE2\x82\xAC", nullptr, "U+20AC"},        // €: no Latin-1 form
      {"A\xF0\x9F\x8E\xB5", nullptr, "U+1F3B5"},  // a four-byte character
      {"\xC4", nullptr, "not UTF-8"},             // Latin-1 typed as it is
      {"\xC0\x81", nullptr, "not UTF-8"},         // overlong
      {"\xED\xA0\x80", nullptr, "not UTF-8"},     // a surrogate
      {"\xE2\x82", nullptr, "not UTF-8"},         // cut short
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    const auto converted = lyr::Utf8ToLatin1(c.utf8);
    if (c.latin1 != nullptr) {
      ASSERT_TRUE(converted) << converted.error().context;
      EXPECT_EQ(converted.value(), c.latin1);
      EXPECT_EQ(lyr::Latin1ToUtf8(converted.value()), c.utf8);
    } else {
      ASSERT_FALSE(converted);
      EXPECT_EQ(converted.error().code, lyr::kErrorInvalidParameter);
      EXPECT_NE(converted.error().context.find(c.named), std::string::npos) << converted.error().context;
    }
  }
}

}  // namespace
