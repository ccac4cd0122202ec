#include "capture/audiofile/audio_recording.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <utility>

#include "analysis/measurement_state.h"
#include "files/atomic_file.h"

namespace fc {

namespace {

// What may wait for the writer before the keeping gives up: a disk that stalls this long
// would fill memory.
constexpr double kMostQueuedSeconds = 20.0;
constexpr auto kSyncInterval = std::chrono::seconds(1);

bool EndsInWav(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".wav";
}

int FileFormat(bool wav, SampleWidth width) {
  if (wav) {
    switch (width) {
      case SampleWidth::Unsigned8:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
      case SampleWidth::Signed16:
        return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
      case SampleWidth::Float32:
        return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    }
  }
  switch (width) {
    case SampleWidth::Unsigned8:
      return SF_FORMAT_FLAC | SF_FORMAT_PCM_S8;
    case SampleWidth::Signed16:
      return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case SampleWidth::Float32:
      break;
  }
  return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
}

// -1..1 to libsndfile's left-justified ints, the inverse of the reading: exact for samples that
// came from 8, 16 or 24 bits.
int ToInt(float sample) {
  const double scaled = std::nearbyint(static_cast<double>(sample) * 2147483648.0);
  return static_cast<int>(std::clamp(scaled, -2147483648.0, 2147483647.0));
}

}  // namespace

Result<std::shared_ptr<AudioRecording>> AudioRecording::Create(const std::filesystem::path& path) {
  if (auto problem = CheckWritable(path)) return Error{*problem};
  std::shared_ptr<AudioRecording> recording(new AudioRecording(path));
  recording->writer_ = std::thread([raw = recording.get()] { raw->Run(); });
  return recording;
}

AudioRecording::AudioRecording(std::filesystem::path path) : path_(std::move(path)) {}

AudioRecording::~AudioRecording() { Finish(); }

void AudioRecording::Begin(uint32_t rate, int channels, SampleWidth width) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (begun_ || finishing_) return;
    begun_ = true;
    rate_ = rate;
    channels_ = channels;
    width_ = width;
  }
  wake_.notify_one();
}

void AudioRecording::Write(const float* samples, size_t frame_count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!begun_ || finishing_ || failed_) return;
    if (static_cast<double>(queued_frames_) > kMostQueuedSeconds * rate_) {
      return Fail("Keeping the recording in \"" + CurrentPath().string() +
                  "\" stopped: the disk did not keep up. The run goes on.");
    }
    Piece piece;
    piece.samples.assign(samples, samples + frame_count * static_cast<size_t>(channels_));
    piece.frames = frame_count;
    queue_.push_back(std::move(piece));
    queued_frames_ += frame_count;
  }
  wake_.notify_one();
}

void AudioRecording::WriteSilence(size_t frame_count) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!begun_ || finishing_ || failed_) return;
    queue_.push_back(Piece{{}, frame_count});
    queued_frames_ += frame_count;
  }
  wake_.notify_one();
}

void AudioRecording::FrameCompleted() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!in_parts_ || !begun_ || finishing_ || failed_) return;
    if (++frames_in_part_ < kFrameCount) return;
    frames_in_part_ = 0;
    queue_.push_back(Piece{{}, 0, true});
  }
  wake_.notify_one();
}

void AudioRecording::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.notify_one();
  written_.wait(lock, [this] { return failed_ || finishing_ || (queue_.empty() && !writing_); });
}

void AudioRecording::KeepInParts() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!begun_) in_parts_ = true;
}

std::filesystem::path AudioRecording::CurrentPath() const {
  return in_parts_ ? NumberedPart(path_, part_) : path_;
}

void AudioRecording::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finishing_ = true;
  }
  wake_.notify_one();
  if (writer_.joinable()) writer_.join();
}

std::optional<std::string> AudioRecording::TakeFailure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(failure_, std::nullopt);
}

void AudioRecording::Fail(std::string why) {
  if (failed_) return;
  failed_ = true;
  written_.notify_all();
  failure_ = std::move(why);
  queue_.clear();
  queued_frames_ = 0;
}

void AudioRecording::Run() {
  struct Closer {
    void operator()(SNDFILE* file) const { sf_close(file); }
  };
  std::unique_ptr<SNDFILE, Closer> file;
  bool floats = false;
  std::vector<int> ints;
  std::vector<float> silence;
  auto synced = std::chrono::steady_clock::now();
  // The first file is made at Begin, a later part's when its first samples come.
  bool made_first = false;
  const auto fail = [this](const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    Fail("Keeping the recording in \"" + CurrentPath().string() + "\" stopped: " + what +
         ". The run goes on.");
  };
  for (;;) {
    std::deque<Piece> pieces;
    bool finishing = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_for(lock, kSyncInterval, [&] {
        return finishing_ || (!failed_ && (!queue_.empty() || (begun_ && !made_first)));
      });
      if (failed_) {
        if (finishing_) break;
        continue;
      }
      pieces.swap(queue_);
      writing_ = true;
      queued_frames_ = 0;
      finishing = finishing_;
      while (made_first && !file && !pieces.empty() && pieces.front().part_ends) {
        pieces.pop_front();  // a part without samples has no file
        ++part_;
      }
      if (begun_ && !file && (!made_first || !pieces.empty())) {
        made_first = true;
        const std::filesystem::path path = CurrentPath();
        std::error_code ignored;
        if (in_parts_ && std::filesystem::exists(std::filesystem::symlink_status(path, ignored))) {
          Fail("Keeping the recording stopped: \"" + path.string() +
               "\" appeared during the run and was not overwritten. The run goes on.");
          continue;
        }
        SF_INFO info{};
        info.samplerate = static_cast<int>(rate_);
        info.channels = channels_;
        info.format = FileFormat(EndsInWav(path_), width_);
        floats = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT;
        lock.unlock();
        file.reset(sf_open(path.c_str(), SFM_WRITE, &info));
        if (!file) {
          fail(std::string("the file could not be made (") + sf_strerror(nullptr) + ")");
          continue;
        }
        // The fastest FLAC setting: the keeping is to cost next to nothing beside the run.
        double level = 0.0;
        sf_command(file.get(), SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
      }
    }
    bool part_ended = false;  // what followed the end of a part waits in the queue
    if (file) {
      const size_t channels = static_cast<size_t>(channels_);
      for (auto piece_at = pieces.begin(); piece_at != pieces.end(); ++piece_at) {
        const Piece& piece = *piece_at;
        if (piece.part_ends) {
          // The rest waits for the next part's file, made at the top of the loop.
          file.reset();
          std::lock_guard<std::mutex> lock(mutex_);
          ++part_;
          queue_.insert(queue_.begin(), std::next(piece_at), pieces.end());
          for (auto p = std::next(piece_at); p != pieces.end(); ++p) queued_frames_ += p->frames;
          part_ended = true;
          break;
        }
        const size_t count = piece.frames * channels;
        sf_count_t written = 0;
        if (floats) {
          const float* data = piece.samples.data();
          if (piece.samples.empty()) {
            silence.assign(count, 0.0f);
            data = silence.data();
          }
          written = sf_writef_float(file.get(), data, static_cast<sf_count_t>(piece.frames));
        } else {
          ints.resize(count);
          for (size_t i = 0; i < count; ++i) {
            ints[i] = piece.samples.empty() ? 0 : ToInt(piece.samples[i]);
          }
          written = sf_writef_int(file.get(), ints.data(), static_cast<sf_count_t>(piece.frames));
        }
        if (written != static_cast<sf_count_t>(piece.frames) ||
            sf_error(file.get()) != SF_ERR_NO_ERROR) {
          fail(std::string("writing failed (") + sf_strerror(file.get()) + ")");
          break;
        }
      }
      const auto now = std::chrono::steady_clock::now();
      if (file && now - synced >= kSyncInterval) {
        // The header's length for a WAV, then the disk: a power cut loses at most this second.
        sf_command(file.get(), SFC_UPDATE_HEADER_NOW, nullptr, 0);
        sf_write_sync(file.get());
        synced = now;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      writing_ = false;
    }
    written_.notify_all();
    if (finishing && !part_ended) break;
  }
  // sf_close writes the length into the header.
  file.reset();
}

}  // namespace fc
