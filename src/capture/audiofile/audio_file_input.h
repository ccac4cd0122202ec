#pragma once

#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/buffer_filler.h"
#include "capture/file_input.h"

namespace fc {

// An audio file of any format libsndfile reads, replayed as one input device: samples at the
// file's own rate, in any integer or float width, go through the same BufferFiller as a card's.
// One open handle at a time.
class AudioFileInput final : public FileInput {
 public:
  AudioFileInput(std::filesystem::path path, AudioFileOptions options);
  ~AudioFileInput() override;
  AudioFileInput(const AudioFileInput&) = delete;
  AudioFileInput& operator=(const AudioFileInput&) = delete;

  // The lowest rate accepted: eight samples to every point of the 256 Hz recording.
  static constexpr int kLowestRate = 2048;

  std::vector<WaveInDevice> Devices() override;
  WaveInHandle Open(int device_id, const WaveFormat& format) override;
  void Start(WaveInHandle) override {}
  void PrepareHeader(WaveInHandle, WaveHeader&) override {}
  // Fills the buffer from the file before it returns, unless the file ends first.
  void AddBuffer(WaveInHandle handle, WaveHeader& header) override;
  void UnprepareHeader(WaveInHandle handle, WaveHeader& header) override;
  void Reset(WaveInHandle handle) override;
  void Close(WaveInHandle handle) override;
  bool Lost(WaveInHandle handle) override { return handle != kHandle || !file_; }
  void RestorePulses(bool on) override { restore_pulses_ = on; }

  std::string OpenError() const override { return open_error_; }
  Position Where(WaveInHandle handle) const override;

 private:
  static constexpr WaveInHandle kHandle = 1;
  struct Closer {
    void operator()(SNDFILE* file) const { sf_close(file); }
  };

  std::optional<std::string> OpenFile(const WaveFormat& format);
  // Reads up to a chunk into the floats pushed; 0 at the end of the file or on a failure.
  size_t ReadChunk();

  std::filesystem::path path_;
  AudioFileOptions options_;
  bool restore_pulses_ = false;
  std::string open_error_;

  // The descriptor outlives the SNDFILE read from it (declared first, destroyed last).
  struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { Reset(); }
    void Reset(int next = -1);
  };
  Descriptor fd_;
  std::unique_ptr<SNDFILE, Closer> file_;
  SF_INFO info_{};
  // Float formats are read as floats, integer ones exactly as shorts or ints.
  enum class Reading { Shorts, Ints, Floats };
  Reading reading_ = Reading::Ints;
  int first_ = 0;  // the file's channels that become the first and the second
  int second_ = 0;
  std::optional<BufferFiller> filler_;
  std::vector<short> shorts_;
  std::vector<int> ints_;
  std::vector<float> floats_;
  std::vector<float> pair_;
  uint64_t frames_read_ = 0;
  uint64_t frames_total_ = 0;
  uint64_t buffers_done_ = 0;
  uint64_t buffer_points_ = 0;
  uint64_t output_rate_ = 1;
  bool at_end_ = false;
  bool cut_short_ = false;  // the samples end before the header says
  std::string failure_;     // a read that failed
};

}  // namespace fc
