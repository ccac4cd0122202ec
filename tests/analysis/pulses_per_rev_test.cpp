#include "analysis/pulses_per_rev.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace fc {
namespace {

// Typed values with either separator, the bounds, and what is refused with the name of the
// option or box it came from; the RPM of a fractional ratio.
TEST(PulsesPerRevTest, TypedValuesAndTheirRpm) {
  struct Case {
    const char* text;
    std::optional<double> value;
  };
  const Case cases[] = {
      {"1", 1.0},       {"2.5", 2.5},          {"2,5", 2.5},     {" 0,001 ", 0.001},
      {"1000", 1000.0}, {"999.999", 999.999},  {"12.", std::nullopt}, {"0", std::nullopt},
      {"0.0004", std::nullopt}, {"1000.001", std::nullopt}, {"1e9", std::nullopt},
      {"-2", std::nullopt}, {"2,5,0", std::nullopt}, {"2.5x", std::nullopt},
      {"", std::nullopt}, {"1.2345", std::nullopt}, {",5", 0.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Result<double> read = ReadPulsesPerRev(c.text, "--pulses-per-rev");
    ASSERT_EQ(read.ok(), c.value.has_value());
    if (c.value) {
      EXPECT_EQ(read.value(), *c.value);
      EXPECT_EQ(ReadPulsesPerRev(FormatPulsesPerRev(read.value()), "x").value(), *c.value);
    } else {
      EXPECT_NE(read.error().find("--pulses-per-rev"), std::string::npos) << read.error();
    }
  }
  EXPECT_EQ(FormatPulsesPerRev(2.5), "2.5");
  EXPECT_EQ(FormatPulsesPerRev(4.0), "4");
  EXPECT_EQ(FormatPulsesPerRev(0.001), "0.001");

  // 2.5 pulses a turn at 0.1 s a pulse is 240 RPM; whole numbers would be 20 % off.
  EXPECT_DOUBLE_EQ(RpmOfPeriod(0.1, 2.5), 240.0);
  EXPECT_DOUBLE_EQ(RpmOfPeriod(0.1, 2.0), 300.0);
  EXPECT_DOUBLE_EQ(RpmOfPeriod(0.5, 0.001), 120000.0);
  EXPECT_EQ(RpmOfPeriod(0.0, 2.5), 0.0);
}

}  // namespace
}  // namespace fc
