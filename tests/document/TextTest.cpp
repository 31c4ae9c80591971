#include <gtest/gtest.h>

#include <string>

#include "document/Text.h"

using namespace ondrevo;

TEST(ForeignText, ControlBytesAreEscapedAndOneLineStaysOneLine) {
  EXPECT_EQ(ShowForeign("KSV 7342-80"), "KSV 7342-80");
  EXPECT_EQ(ShowForeign("a\nb\r\tc"), "a\\nb\\r\\tc");
  EXPECT_EQ(ShowForeign(std::string("\x1b[2J\x07\x7f\0z", 8)), "\\x1B[2J\\x07\\x7F\\x00z");
  EXPECT_EQ(ShowForeign("C:\\dir"), "C:\\\\dir");
  // Valid UTF-8 is kept; C1 controls (a terminal's 8-bit escape) and stray bytes are not.
  EXPECT_EQ(ShowForeign("Spannung \xc3\xa4 \xe2\x82\xac"), "Spannung \xc3\xa4 \xe2\x82\xac");
  EXPECT_EQ(ShowForeign("\xc2\x9b"
                        "31m"),
            "\\xC2\\x9B31m");
  EXPECT_EQ(ShowForeign("\x9b\xff\xc3"), "\\x9B\\xFF\\xC3");
  EXPECT_EQ(ShowForeign("\xed\xa0\x80"), "\\xED\\xA0\\x80");  // a surrogate is no character
  for (const std::string& s : {std::string("x\ny"), std::string(300, '\n')})
    EXPECT_EQ(ShowForeign(s).find_first_of("\r\n"), std::string::npos);
}

TEST(ForeignText, OnlyAShortPrefixIsShown) {
  const std::string huge(50u << 20, 'A');
  const std::string shown = ShowForeign(huge);
  EXPECT_EQ(shown, std::string(kForeignTextLimit, 'A') + "...");
  EXPECT_EQ(ShowForeign(std::string(kForeignTextLimit, 'B')), std::string(kForeignTextLimit, 'B'));
  EXPECT_EQ(ShowForeign("abcdef", 3), "abc...");
  // A cut never splits a character.
  EXPECT_EQ(ShowForeign("ab\xc3\xa4", 3), "ab...");
  // Escapes do not count against the limit of the original bytes shown.
  EXPECT_EQ(ShowForeign("\x01\x02", 2), "\\x01\\x02");
}

TEST(ForeignText, EscapingKeepsEveryByte) {
  const std::string all = [] {
    std::string s;
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
    return s + s;
  }();
  const std::string escaped = EscapeControls(all);
  for (char c : escaped) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << int(c);
  EXPECT_GT(escaped.size(), all.size());
  EXPECT_EQ(EscapeControls("plain text"), "plain text");
}

TEST(FillPlaceholders, EveryKeyInAnyOrderAndValuesAreNotReadAgain) {
  EXPECT_EQ(FillPlaceholders("{b} vor {a}, wieder {b}", {{"a", "1"}, {"b", "2"}}),
            "2 vor 1, wieder 2");
  // A value that looks like a key stays as it is, and a missing key leaves the text alone.
  EXPECT_EQ(FillPlaceholders("{a}{a}", {{"a", "{a}"}}), "{a}{a}");
  EXPECT_EQ(FillPlaceholders("no keys", {{"a", "x"}}), "no keys");
}
