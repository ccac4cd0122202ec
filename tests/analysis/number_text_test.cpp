#include "analysis/number_text.h"

#include <gtest/gtest.h>

#include <cmath>

namespace fc {
namespace {

TEST(FormatInteger, BlankInPlaceOfSign) {
  EXPECT_EQ(FormatInteger(12), " 12");
  EXPECT_EQ(FormatInteger(0), " 0");
  EXPECT_EQ(FormatInteger(-5), "-5");
  EXPECT_EQ(FormatPrintNumber(255), " 255 ");
  EXPECT_EQ(FormatPrintNumber(-3), "-3 ");
}

TEST(FormatPattern, LeadingZerosLeftOutAndLongIntegerPartsInFull) {
  EXPECT_EQ(FormatPattern(0.390625, kPeriodPattern), ".3906");
  EXPECT_EQ(FormatPattern(1.5, kPeriodPattern), "1.5000");
  EXPECT_EQ(FormatPattern(0.0, kPeriodPattern), ".0000");
  EXPECT_EQ(FormatPattern(123456.5, kPeriodPattern), "123456.5000");
  EXPECT_EQ(FormatPattern(2.9126213592233, kMismatchPattern), "2.913");
  EXPECT_EQ(FormatPattern(0.0, kMismatchPattern), ".000");
  EXPECT_EQ(FormatPattern(0.375, kAveragePattern), ".3750");
  EXPECT_EQ(FormatPattern(12.5, kAveragePattern), "12.5000");
  EXPECT_EQ(FormatPattern(800.375, kResultTimePattern), "800.3750");
  EXPECT_EQ(FormatPattern(153.6, kRpmPattern), "153.6");
  EXPECT_EQ(FormatPattern(0.0, kRpmPattern), ".0");
  EXPECT_EQ(FormatPattern(99999.96, kRpmPattern), "100000.0");
}

TEST(FormatPattern, TiesRoundAwayFromZeroOnTheExactValue) {
  EXPECT_EQ(FormatPattern(0.15625, kPeriodPattern), ".1563");
  EXPECT_EQ(FormatPattern(-0.15625, kPeriodPattern), "-.1563");
  EXPECT_EQ(FormatPattern(0.0625, "##.000"), ".063");
  EXPECT_EQ(FormatPattern(2.5, "#####"), "3");
  EXPECT_EQ(FormatPattern(9.99995, kPeriodPattern), "10.0000");  // binary value lies above the tie
  // 1.0005 lies a little below its tie in binary.
  EXPECT_EQ(FormatPattern(1.0005, "#.000"), "1.000");
  EXPECT_EQ(FormatPattern(0.99999, kAveragePattern), "1.0000");
}

TEST(FormatPattern, ExtremeMagnitudes) {
  EXPECT_EQ(FormatPattern(1e20, kRpmPattern), "100000000000000000000.0");
  EXPECT_EQ(FormatPattern(5e-324, kAveragePattern), ".0000");
  EXPECT_EQ(FormatPattern(0.99995, kAveragePattern), "1.0000");  // just above its tie in binary
  EXPECT_EQ(FormatPattern(0.00005, kAveragePattern), ".0001");    // just above its tie
  EXPECT_EQ(FormatPattern(0.00015, kAveragePattern), ".0001");    // just below its tie
  EXPECT_EQ(FormatPattern(4503599627370495.5, "#.0"), "4503599627370495.5");
  EXPECT_EQ(FormatPattern(2.5, "#.0000000000000000000000"), "2.5000000000000000000000");
  EXPECT_EQ(FormatPattern(0.15625, "#.0000000000000000000000"), ".1562500000000000000000");
}

TEST(FormatPattern, NegativeValuesAndNegativeZero) {
  EXPECT_EQ(FormatPattern(-1.25, kAveragePattern), "-1.2500");
  EXPECT_EQ(FormatPattern(-0.00004, kAveragePattern), ".0000");
  EXPECT_EQ(FormatPattern(-0.0, kAveragePattern), ".0000");
  EXPECT_EQ(FormatPattern(-0.00005, kAveragePattern), "-.0001");
}

TEST(ReadLeadingNumber, LongestLeadingDecimalNumber) {
  EXPECT_EQ(ReadLeadingNumber("45abc"), 45.0);
  EXPECT_EQ(ReadLeadingNumber("4 5"), 45.0);
  EXPECT_EQ(ReadLeadingNumber(" \t4\n5 "), 45.0);
  EXPECT_EQ(ReadLeadingNumber("abc"), 0.0);
  EXPECT_EQ(ReadLeadingNumber(""), 0.0);
  EXPECT_EQ(ReadLeadingNumber("-5"), -5.0);
  EXPECT_EQ(ReadLeadingNumber("+7x"), 7.0);
  EXPECT_EQ(ReadLeadingNumber("- 5"), -5.0);
  EXPECT_EQ(ReadLeadingNumber("29.5"), 29.5);
  EXPECT_EQ(ReadLeadingNumber(".5"), 0.5);
  EXPECT_EQ(ReadLeadingNumber("5."), 5.0);
  EXPECT_EQ(ReadLeadingNumber("."), 0.0);
  EXPECT_EQ(ReadLeadingNumber("-"), 0.0);
  EXPECT_EQ(ReadLeadingNumber("1e3"), 1000.0);
  EXPECT_EQ(ReadLeadingNumber("1.5E-1z"), 0.15);
  EXPECT_EQ(ReadLeadingNumber("2e"), 2.0);
  EXPECT_EQ(ReadLeadingNumber("2e+"), 2.0);
  EXPECT_EQ(ReadLeadingNumber("3\r4"), 3.0);  // a carriage return is not skipped
  EXPECT_EQ(ReadLeadingNumber("1,5"), 1.0);
  EXPECT_TRUE(std::isinf(ReadLeadingNumber("1e999")));
  EXPECT_EQ(ReadLeadingNumber("99999999999999999999"), 1e20);
}

TEST(RoundHalfEven, TiesGoToTheEvenNumber) {
  EXPECT_EQ(RoundHalfEven(2.5), 2.0);
  EXPECT_EQ(RoundHalfEven(3.5), 4.0);
  EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
  EXPECT_EQ(RoundHalfEven(44.5), 44.0);
  EXPECT_EQ(RoundHalfEven(45.5), 46.0);
  EXPECT_EQ(RoundHalfEven(2.4999), 2.0);
  EXPECT_EQ(ReadWholeNumber("12.5"), 12.0);
  EXPECT_EQ(ReadWholeNumber("13.5"), 14.0);
}

}  // namespace
}  // namespace fc
