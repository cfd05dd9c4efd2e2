#include "core/platform/cp950.h"

#include <gtest/gtest.h>

#include <string>

namespace bms {
namespace {

TEST(Cp950, ConvertsBothWays) {
  struct Case {
    const char* utf8;
    const char* cp950;
  };
  const Case cases[] = {
      {"", ""},
      {"Pack 25.0\xC2\xB0"
       "C\r\n",
       "Pack 25.0\xA2\x58"
       "C\r\n"},                                         // degree sign: A2 58
      {"\xE6\xB8\xAC\xE8\xA9\xA6", "\xB4\xFA\xB8\xD5"},  // the Chinese text for "test"
      {"\xE2\x82\xAC", "\xA3\xE1"},                      // euro sign: a code page 950 addition
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToCp950(c.utf8), c.cp950);
    EXPECT_EQ(Cp950ToUtf8(c.cp950), c.utf8);
  }
}

TEST(Cp950, ReplacesWhatHasNoCodeAndKeepsTheRest) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case to_cp950[] = {
      {"a\xF0\x9F\x98\x80"
       "b",
       "a?b"},  // an emoji has no code
      {"a\xFF"
       "b",
       "a?b"},                                // no UTF-8 at all
      {"\xE6\xB8\xAC\xE6\xB8", "\xB4\xFA?"},  // cut short in the middle of a character
      {"\xD7\x90\xD7\x91", "??"},             // Hebrew: two characters, two marks
  };
  for (const Case& c : to_cp950) EXPECT_EQ(Utf8ToCp950(c.in), c.out);

  const Case to_utf8[] = {
      {"A\x81", "A?"},                    // lone lead byte at the end
      {"\xA1 B", "? B"},                  // a lead byte without its second byte
      {"\xB4\xFA\xB8", "\xE6\xB8\xAC?"},  // cut after a lead byte
  };
  for (const Case& c : to_utf8) EXPECT_EQ(Cp950ToUtf8(c.in), c.out);
}

TEST(Cp950, LongTextRoundTrips) {
  std::string utf8;
  for (int i = 0; i < 5000; ++i) utf8 += "\xE6\xB8\xAC\xE8\xA9\xA6 x\xC2\xB0";
  const std::string cp950 = Utf8ToCp950(utf8);
  EXPECT_EQ(cp950.size(), 5000u * 8u);
  EXPECT_EQ(Cp950ToUtf8(cp950), utf8);
}

}  // namespace
}  // namespace bms
