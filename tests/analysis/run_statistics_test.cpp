#include "analysis/run_statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

namespace fc {
namespace {

// Against a two-pass computation over the same values: a long run of periods that differ by
// parts per million (where a plain sum of squares loses every digit), with gaps, so that the
// extremes, the step across a gap and the counts are checked too.
TEST(RunStatisticsTest, AgreesWithADirectComputation) {
  std::vector<std::optional<double>> values;
  for (int i = 0; i < 20000; ++i) {
    if (i % 97 == 5) {
      values.push_back(std::nullopt);
    } else {
      values.push_back(1000.3125 + 1e-6 * std::sin(i * 0.7) + (i == 12345 ? 9.5e-6 : 0.0));
    }
  }
  values[300] = 1000.3125 - 1e-6;
  values[301] = 1000.3125 + 8e-6;  // the largest step is into this frame
  values[302] = std::nullopt;      // and none across the gaps around the minimum
  values[303] = 1000.3125 - 9e-6;
  values[304] = std::nullopt;
  values[12344] = values[12346] = std::nullopt;  // the maximum stands alone

  RunStatistics stats;
  for (std::size_t i = 0; i < values.size(); ++i) stats.Add(static_cast<int64_t>(i), values[i]);

  long double sum = 0;
  int n = 0;
  for (const auto& v : values) {
    if (v) sum += *v, ++n;
  }
  const long double mean = sum / n;
  long double squares = 0;
  double step = 0;
  int64_t step_frame = -1;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!values[i]) continue;
    squares += (*values[i] - mean) * (*values[i] - mean);
    if (i > 0 && values[i - 1] && std::fabs(*values[i] - *values[i - 1]) > step) {
      step = std::fabs(*values[i] - *values[i - 1]);
      step_frame = static_cast<int64_t>(i);
    }
  }
  const double sd = static_cast<double>(std::sqrt(squares / (n - 1)));

  EXPECT_EQ(stats.frames(), 20000);
  EXPECT_EQ(stats.readings(), n);
  EXPECT_NEAR(stats.mean(), static_cast<double>(mean), 1e-12 * static_cast<double>(mean));
  EXPECT_NEAR(stats.StandardDeviation(), sd, 1e-12 * static_cast<double>(mean));
  EXPECT_NEAR(stats.StabilityPpm(), sd / static_cast<double>(mean) * 1e6, 1e-6);
  EXPECT_EQ(stats.min().frame, 303);
  EXPECT_EQ(stats.min().value, *values[303]);
  EXPECT_EQ(stats.max().frame, 12345);
  ASSERT_TRUE(stats.LargestStep());
  EXPECT_EQ(stats.LargestStep()->frame, step_frame);
  EXPECT_EQ(stats.LargestStep()->frame, 301);
  EXPECT_DOUBLE_EQ(stats.LargestStep()->value, step);

  RunStatistics one;
  one.Add(0, std::nullopt);
  one.Add(1, 2.0);
  EXPECT_EQ(one.StandardDeviation(), 0.0);
  EXPECT_FALSE(one.LargestStep());
  EXPECT_EQ(one.min().frame, 1);
}

}  // namespace
}  // namespace fc
