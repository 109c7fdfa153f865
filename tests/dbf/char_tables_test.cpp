// Code page 437 <-> UTF-8 and the engine's case tables.
#include <gtest/gtest.h>

#include "dbf/char_tables.h"

namespace qm::dbf {
namespace {

TEST(Cp437, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp437(Cp437ToUtf8(all)), all);
}

TEST(Cp437, LettersBothWays) {
  EXPECT_EQ(Cp437ToUtf8("M\x81ller \x82t\x82 \xE1 \x9C"), "Müller été ß £");
  EXPECT_EQ(Utf8ToCp437("Müller Ñandú ½"),
            "M\x81ller \xA5"
            "and\xA3 \xAB");
  EXPECT_EQ(Cp437ToUtf8("\xC9\xCD\xBB"), "╔═╗");
}

TEST(Cp437, UnmappableAndMalformedBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp437("5 €, 漢"), "5 ?, ?");
  EXPECT_EQ(Utf8ToCp437("a\xFF"
                        "b"),
            "a?b");
  EXPECT_EQ(Utf8ToCp437("a\xC3"), "a?");     // cut sequence
  EXPECT_EQ(Utf8ToCp437("\xC0\xAF"), "??");  // overlong
  EXPECT_EQ(Utf8ToCp437("😀"), "?");
}

TEST(CaseTables, UpperAndLowerOfCodePage437) {
  EXPECT_EQ(UpperCase437("snotes"), "SNOTES");
  EXPECT_EQ(UpperCase437(0x81), 0x9A);  // ü -> Ü
  EXPECT_EQ(UpperCase437(0x82), 'E');   // é -> E
  EXPECT_EQ(UpperCase437(0xA4), 0xA5);  // ñ -> Ñ
  EXPECT_EQ(UpperCase437(0xE1), 0xE1);
  EXPECT_EQ(LowerCase437('Q'), 'q');
  EXPECT_EQ(LowerCase437(0x8E), 0x84);  // Ä -> ä
  EXPECT_EQ(LowerCase437(0x9A), 0x81);
}

}  // namespace
}  // namespace qm::dbf
