// UTF-8 <-> UTF-16: valid text round trips, invalid input refused or replaced part by part,
// limits in code units that never split a character.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/utf.h"

namespace plat = vts::plat;
using plat::InvalidUtf;

namespace {

TEST(Utf, ValidTextRoundTrips) {
  const std::u16string texts[] = {u"",
                                  u"abc",
                                  u"\u00e9t\u00e9",
                                  u"\u20ac 5",
                                  u"\U0001F3B5 note",
                                  std::u16string(1, u'\0') + u"x",
                                  u"\uFFFF\uE000"};
  for (const auto& text : texts) {
    const auto utf8 = plat::Utf16ToUtf8(text, InvalidUtf::kRefuse);
    ASSERT_TRUE(utf8);
    EXPECT_EQ(plat::Utf8ToUtf16(*utf8, InvalidUtf::kRefuse), text);
    EXPECT_EQ(plat::Utf16ToUtf8(text), *utf8);
  }
  EXPECT_EQ(plat::Utf16ToUtf8(u"\U0001F3B5"), "\xF0\x9F\x8E\xB5");
}

TEST(Utf, InvalidUtf8IsRefusedOrReplacedByMaximalPart) {
  struct Case {
    std::string bytes;
    std::u16string replaced;
  } cases[] = {
      {"bad\xFF\xFE.txt", u"bad\uFFFD\uFFFD.txt"},
      {"\xC3(", u"\uFFFD("},    // a lead byte without its continuation
      {"\xE2\x82", u"\uFFFD"},  // truncated at the end: one part
      {"\xE2\x82"
       "A",
       u"\uFFFDA"},                                       // truncated before ASCII
      {"\xC0\x80", u"\uFFFD\uFFFD"},                      // overlong NUL
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
      {"\x80x", u"\uFFFDx"},                              // a lone continuation byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(plat::Utf8ToUtf16(c.bytes, InvalidUtf::kRefuse), std::nullopt) << c.bytes;
    EXPECT_EQ(plat::Utf8ToUtf16(c.bytes, InvalidUtf::kReplace), c.replaced) << c.bytes;
    EXPECT_EQ(plat::Utf8ToUtf16(c.bytes), c.replaced) << c.bytes;
  }
}

TEST(Utf, LoneSurrogatesAreRefusedOrReplaced) {
  const std::u16string lead(1, char16_t(0xD800)), trail(1, char16_t(0xDC00));
  struct Case {
    std::u16string text;
    std::string replaced;
  } cases[] = {
      {u"a" + lead, "a\xEF\xBF\xBD"},
      {lead + u"b",
       "\xEF\xBF\xBD"
       "b"},
      {trail + lead, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {lead + lead + trail, "\xEF\xBF\xBD\xF0\x90\x80\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(plat::Utf16ToUtf8(c.text, InvalidUtf::kRefuse), std::nullopt);
    EXPECT_EQ(plat::Utf16ToUtf8(c.text, InvalidUtf::kReplace), c.replaced);
  }
}

TEST(Utf, LimitsStopBeforeACharacterThatWouldPassThem) {
  // UTF-16 units: the pair is dropped whole.
  EXPECT_EQ(plat::Utf8ToUtf16("ab\U0001F3B5", InvalidUtf::kReplace, 3), u"ab");
  EXPECT_EQ(plat::Utf8ToUtf16("ab\U0001F3B5", InvalidUtf::kReplace, 4), u"ab\U0001F3B5");
  EXPECT_EQ(plat::Utf8ToUtf16("abc", InvalidUtf::kRefuse, 0), u"");
  // UTF-8 bytes: a two-byte character does not fit in one byte.
  EXPECT_EQ(plat::Utf16ToUtf8(u"a\u00e9", InvalidUtf::kRefuse, 2), "a");
  EXPECT_EQ(plat::Utf16ToUtf8(u"a\u00e9", InvalidUtf::kRefuse, 3), "a\xC3\xA9");
}

}  // namespace
