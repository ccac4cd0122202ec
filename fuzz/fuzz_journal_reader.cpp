// Reads any bytes as a run journal; the frames it keeps, written again, must read back the same.
// The frame size expected is the one the header names, so that every size is exercised.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "files/run_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  uint32_t expected = 2048;
  if (size >= 16) {
    expected = 0;
    for (int i = 0; i < 4; ++i) expected |= static_cast<uint32_t>(data[12 + i]) << (8 * i);
  }
  const fc::JournalContents read = fc::ParseJournal(input, expected);
  const fc::JournalContents* const contents = &read;
  if (contents->frame_count() > fc::kFrameCount) __builtin_trap();
  if (contents->frame_count() == 0) return 0;
  const std::size_t frame_bytes = contents->frame_bytes;
  if (contents->frames.size() != static_cast<std::size_t>(contents->frame_count()) * frame_bytes) {
    __builtin_trap();
  }
  // The records as written again are the bytes read; the header's reserved bytes are not
  // looked at, so its fields are compared through a second reading instead.
  // Written again in the input's own version, with the precise readings it holds.
  const std::string header = fc::JournalHeaderBytes(contents->started, contents->settings,
                                                    contents->frame_bytes, contents->version);
  std::string again = header;
  for (int frame = 0; frame < contents->frame_count(); ++frame) {
    const auto f = static_cast<std::size_t>(frame);
    again += fc::JournalRecordBytes(
        frame, contents->start_times[f],
        reinterpret_cast<const uint8_t*>(contents->frames.data()) + f * frame_bytes,
        contents->frame_bytes,
        f < contents->precise.size() ? contents->precise[f] : fc::PreciseReading{},
        contents->version);
  }
  // With no record passed over, the records kept are the input's first ones, byte for byte.
  if (contents->skipped == 0 &&
      input.substr(header.size(), again.size() - header.size()) != again.substr(header.size())) {
    __builtin_trap();
  }
  const fc::JournalContents reread = fc::ParseJournal(again, contents->frame_bytes);
  if (reread.condition != fc::JournalCondition::Whole ||
      reread.frame_count() != contents->frame_count() ||
      fc::JournalHeaderBytes(reread.started, reread.settings, reread.frame_bytes,
                             reread.version) != header) {
    __builtin_trap();
  }
  return 0;
}
