// The cost of the run journal: one frame appended and flushed to disk (fdatasync) per frame,
// for a full run of 1001 frames, in a directory on the disk the program directory lies on.
//
//   journal-bench DIRECTORY
// Goal: under 1 ms per frame on average. Both the time the capture waits (wall clock, mostly
// the disk's flush) and the processor time are shown: a virtual disk may take several ms to
// flush whatever the program does.

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "analysis/measurement_state.h"
#include "files/run_journal.h"

namespace {

double ProcessorMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: journal-bench DIRECTORY\n");
    return 2;
  }
  const std::filesystem::path path = std::filesystem::path(argv[1]) / fc::kRunJournalFileName;
  fc::RunJournal journal(path);
  const auto taken = journal.TakeFile(true);
  if (!taken || taken.value() != fc::RunJournal::Take::Taken) {
    std::fprintf(stderr, "journal-bench: %s\n",
                 taken ? "the journal is not a regular file, or another window holds it."
                       : taken.error().c_str());
    return 1;
  }
  fc::MeasurementState state;
  fc::UpdateConsecutive(state);
  if (const auto begun = journal.Begin(0, fc::SettingsOf(state), 2 * fc::kCaptureBufferSize);
      !begun) {
    std::fprintf(stderr, "journal-bench: %s\n", begun.error().c_str());
    return 1;
  }
  std::vector<double> ms;
  double processor_ms = 0;
  for (int frame = 0; frame < fc::kFrameCount; ++frame) {
    uint8_t* row = state.Row(frame);
    for (int b = 0; b < 2 * fc::kCaptureBufferSize; ++b)
      row[b] = static_cast<uint8_t>(b * 7 + frame);
    const auto start = std::chrono::steady_clock::now();
    const double processor_start = ProcessorMs();
    if (const auto appended = journal.Append(frame, 4.0f * static_cast<float>(frame), row);
        !appended) {
      std::fprintf(stderr, "journal-bench: %s\n", appended.error().c_str());
      return 1;
    }
    processor_ms += ProcessorMs() - processor_start;
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  if (const auto removed = journal.Remove(); !removed) {
    std::fprintf(stderr, "journal-bench: %s\n", removed.error().c_str());
  }
  double sum = 0;
  for (double m : ms) sum += m;
  const double mean = sum / static_cast<double>(ms.size());
  std::sort(ms.begin(), ms.end());
  const double processor_mean = processor_ms / static_cast<double>(ms.size());
  std::printf("journal, %zu frames appended and flushed (goal: under 1 ms per frame)\n", ms.size());
  std::printf("  wait per frame: mean %.3f ms, median %.3f ms, 99th %.3f ms, max %.3f ms%s\n", mean,
              ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back(),
              mean < 1.0 ? "" : "  ABOVE GOAL (the disk's flush)");
  std::printf("  processor time per frame: %.3f ms%s\n", processor_mean,
              processor_mean < 1.0 ? "" : "  ABOVE GOAL");
  return 0;
}
