// The one rule for showing text from archives on a terminal.

#include <gtest/gtest.h>

#include "TerminalText.h"

TEST(VisibleText, EscapesControlsAndBrokenUtf8Only) {
  // Kept: ASCII, two- to four-byte characters, U+00A0 right above the C1 range.
  EXPECT_EQ(VisibleText("a b/\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), "a b/\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  EXPECT_EQ(VisibleText(std::string_view("\x00\x1b\x7f\xc2\x80\xc2\x9f", 7)), "\\x00\\x1b\\x7f\\u0080\\u009f");
  // Overlong, surrogate, beyond U+10FFFF, cut short, stray continuation byte.
  EXPECT_EQ(VisibleText("\xc0\x80|\xed\xa0\x80|\xf4\x90\x80\x80|\xe2\x82|\x80"),
            "\\xc0\\x80|\\xed\\xa0\\x80|\\xf4\\x90\\x80\\x80|\\xe2\\x82|\\x80");
  EXPECT_EQ(VisibleText("a\tb\nc\rd\\e\x01", TextLayout::Tsv), "a\\tb\\nc\\rd\\\\e\\x01");
  EXPECT_EQ(VisibleText("one\r\ntwo\nthree\rfour\\", TextLayout::LineBreaks), "one\ntwo\nthree\\x0dfour\\");
}
