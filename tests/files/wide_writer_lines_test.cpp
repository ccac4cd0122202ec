#include "files/wide_writer_lines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "files/raw_data_file.h"
#include "support/fakes.h"

namespace fc {
namespace {

struct Reading {
  RawReadOutcome outcome;
  std::string log;
  std::string rows;
};

Reading ReadWith(bool wide, const std::string& file) {
  UseWideWriterLines(wide);
  MeasurementState state;
  state.BufferSize = 64;
  testing::FakeDisplay display;
  Reading reading{ReadRawDataText(state, display, file, "Raw.txt"), display.log, {}};
  for (int frame = 0; frame < 3; ++frame)
    reading.rows.append(reinterpret_cast<const char*>(state.Row(frame)), 128);
  UseWideWriterLines(true);
  return reading;
}

// The wide path takes whole blocks of the writer's lines; any other line, wherever it stands in
// a block, must come out exactly as the portable path reads it: the same samples, or the same
// refusal naming the same line.
TEST(WideWriterLinesTest, GivesWhatThePortablePathGives) {
  if (!WideWriterLinesAvailable())
    GTEST_SKIP() << "this processor has no 512-bit byte instructions";
  const std::string others[] = {" 007 \r\n", " 0 \r\n",    " 255 \r\n",
                                " 256 \r\n", " 299 \r\n",  " 300 \r\n",
                                " 999 \r\n", " 1234 \r\n", "  79 \r\n",
                                " 79  \r\n", " 79\r\n",    "79 \r\n",
                                " 79 \n",    " 79 \r\r\n", " 7 9 \r\n",
                                " \r\n",     "  \r\n",     std::string("\0 79 \r\n", 7),
                                " 7a \r\n",  " 79 \r",     " 1,2 \r\n",
                                "\r\n",      "x7 \r\n",    " 7x\r\n",
                                "\t7\t\r\n", " 7 x\n"};
  // Runs of the writer's lines alone, values of one, two and three digits in a random mix, so
  // that blocks start and end at every kind of line.
  uint32_t random = 12345;
  const auto next_value = [&random] {
    random = random * 1664525 + 1013904223;
    const uint32_t r = random >> 8;
    return r % 3 == 0 ? r % 10 : r % 256;
  };
  for (int run = 0; run < 40; ++run) {
    std::string file = " 2 \r\n";
    for (int i = 0; i < 3 * 128; ++i) file += " " + std::to_string(next_value()) + " \r\n";
    const Reading wide = ReadWith(true, file);
    const Reading portable = ReadWith(false, file);
    ASSERT_EQ(wide.outcome.status, RawReadStatus::Done);
    EXPECT_EQ(wide.rows, portable.rows) << "run " << run;
  }

  std::string background;
  for (int i = 0; i < 3 * 128; ++i) background += " " + std::to_string((i * 37) % 256) + " \r\n";
  for (const auto& other : others) {
    for (std::size_t at = 0; at < 80; ++at) {
      // Lines of 5, 6 and 7 bytes move the odd line through every place in a block.
      std::string file = " 2 \r\n";
      for (std::size_t filler = 0; filler < at; ++filler)
        file += filler % 3 == 0 ? " 8 \r\n" : " 18 \r\n";
      file += other + background;
      SCOPED_TRACE(::testing::PrintToString(other) + " after " + std::to_string(at) + " lines");
      const Reading wide = ReadWith(true, file);
      const Reading portable = ReadWith(false, file);
      EXPECT_EQ(wide.outcome.status, portable.outcome.status);
      EXPECT_EQ(wide.outcome.message, portable.outcome.message);
      EXPECT_EQ(wide.log, portable.log);
      EXPECT_EQ(wide.rows, portable.rows);
    }
  }
}

}  // namespace
}  // namespace fc
