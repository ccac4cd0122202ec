#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "analysis/result.h"
#include "capture/recording_sink.h"

namespace fc {

// Keeps a run's samples in an audio file: FLAC, or WAV when the name ends in .wav. 8- and
// 16-bit inputs are kept in their own width; an input that delivers floats (a sound server) is
// kept in 24 bits in FLAC, which holds no floats, and as floats in WAV. The input's thread only
// queues the samples; a thread of its own encodes and writes them and flushes the file to disk
// every second, so that a killed run leaves a file that reads back up to its last second. A
// failure (a full disk) ends the keeping and is told once; the run goes on.
class AudioRecording final : public KeptRecording {
 public:
  // Checks that `path` can be written before the run; the file is made at Begin.
  static Result<std::shared_ptr<AudioRecording>> Create(const std::filesystem::path& path);
  ~AudioRecording() override;
  AudioRecording(const AudioRecording&) = delete;
  AudioRecording& operator=(const AudioRecording&) = delete;

  void Begin(uint32_t rate, int channels, SampleWidth width) override;
  void Write(const float* samples, size_t frame_count) override;
  void WriteSilence(size_t frame_count) override;
  // Each 1001st frame completed ends a part: the samples after it go to the next part's file.
  void FrameCompleted() override;
  void KeepInParts() override;

  // Waits until what has been queued so far is written to the file (the keeping then holds no
  // more than the samples after it), or the keeping has failed or finished.
  void Flush();
  // Writes what is queued and closes the file, which then holds its length. Called at the end
  // of the run; later samples are dropped.
  void Finish() override;
  // The sentence of a failure, the first time it is asked after one; nothing otherwise.
  std::optional<std::string> TakeFailure() override;
  const std::filesystem::path& path() const { return path_; }
  // The file the samples go to now (the last part's, once the run is in parts).
  std::filesystem::path CurrentPath() const;

 private:
  explicit AudioRecording(std::filesystem::path path);
  void Run();
  void Fail(std::string why);  // with mutex_ held

  struct Piece {
    std::vector<float> samples;  // empty: silence
    size_t frames = 0;
    bool part_ends = false;  // no samples: the part is complete here
  };

  std::filesystem::path path_;
  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable written_;  // told when the writer has nothing queued in hand
  bool writing_ = false;             // the writer holds pieces taken from the queue
  std::deque<Piece> queue_;
  size_t queued_frames_ = 0;
  bool begun_ = false;
  uint32_t rate_ = 0;
  int channels_ = 0;
  SampleWidth width_ = SampleWidth::Signed16;
  bool in_parts_ = false;
  int frames_in_part_ = 0;
  int64_t part_ = 1;  // written by the writer's thread, with mutex_ held
  bool finishing_ = false;
  bool failed_ = false;
  std::optional<std::string> failure_;
};

}  // namespace fc
