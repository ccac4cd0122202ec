#include "capture/audiofile/audio_file_input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <utility>

#include "files/atomic_file.h"

namespace fc {

namespace {

constexpr size_t kChunkFrames = 4096;
constexpr float kIntScale = 1.0f / 2147483648.0f;  // libsndfile's ints are left-justified

bool FloatFormat(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
      return true;
    default:
      return false;
  }
}

bool AtMost16Bits(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
      return true;
    default:
      return false;
  }
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// Waits until a FIFO has something to read, or has been written and closed again.
bool AwaitFifo(int fd, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fds{fd, POLLIN, 0};
    const int ready = ::poll(&fds, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

}  // namespace

void AudioFileInput::Descriptor::Reset(int next) {
  if (fd >= 0) ::close(fd);
  fd = next;
}

AudioFileInput::AudioFileInput(std::filesystem::path path, AudioFileOptions options)
    : path_(std::move(path)), options_(options) {}

AudioFileInput::~AudioFileInput() = default;

std::vector<WaveInDevice> AudioFileInput::Devices() { return {{path_.filename().string(), true}}; }

WaveInHandle AudioFileInput::Open(int device_id, const WaveFormat& format) {
  open_error_.clear();
  if (file_ || device_id != 0 || !RecordableFormat(format)) {
    open_error_ = "The audio file \"" + path_.string() + "\" cannot be replayed in this format.";
    return 0;
  }
  if (auto error = OpenFile(format)) {
    file_.reset();
    fd_.Reset();
    open_error_ = std::move(*error);
    return 0;
  }
  return kHandle;
}

std::optional<std::string> AudioFileInput::OpenFile(const WaveFormat& format) {
  const std::string name = "\"" + path_.string() + "\"";
  file_.reset();
  fd_.Reset(::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  const int fd = fd_.fd;
  if (fd < 0) return "The audio file " + name + " could not be opened: " + ErrorText(errno) + ".";
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    return name + " is a directory, not an audio file.";
  }
  if (S_ISFIFO(st.st_mode) && !AwaitFifo(fd, options_.fifo_wait_seconds)) {
    return "The FIFO " + name + " delivered nothing within " +
           std::to_string(std::lround(options_.fifo_wait_seconds)) +
           " seconds; start the program that writes to it first.";
  }
  // From here on reads wait for a FIFO's writer, as for a slow disk.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  info_ = SF_INFO{};
  file_.reset(sf_open_fd(fd, SFM_READ, &info_, SF_FALSE));
  if (!file_) {
    return name + " is not an audio file that can be read (" + sf_strerror(nullptr) +
           "); give a WAV, FLAC, Ogg, AIFF or CAF file.";
  }
  const bool length_known = info_.frames != SF_COUNT_MAX;
  // libsndfile shortens the length of a file cut inside its samples to what is there, and says
  // so only in its log.
  std::string log(4096, '\0');
  sf_command(file_.get(), SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  const size_t data_line = log.find("\ndata");
  cut_short_ = data_line != std::string::npos &&
               log.find("should be", data_line) < log.find('\n', data_line + 1);
  if (info_.frames == 0) return "The audio file " + name + " holds no samples.";
  if (options_.channel < 1 || options_.channel > info_.channels) {
    return "The audio file " + name + " has " + std::to_string(info_.channels) + " channel" +
           (info_.channels == 1 ? "" : "s") + "; there is no channel " +
           std::to_string(options_.channel) + ".";
  }
  if (info_.samplerate < kLowestRate) {
    return "The audio file " + name + " is recorded at " + std::to_string(info_.samplerate) +
           " Hz; replaying needs at least " + std::to_string(kLowestRate) + " Hz.";
  }
  first_ = options_.channel - 1;
  second_ = options_.channel < info_.channels ? options_.channel : first_;
  const size_t samples = kChunkFrames * static_cast<size_t>(info_.channels);
  if (FloatFormat(info_.format)) {
    reading_ = Reading::Floats;
    floats_.resize(samples);
  } else if (AtMost16Bits(info_.format)) {
    reading_ = Reading::Shorts;
    shorts_.resize(samples);
  } else {
    reading_ = Reading::Ints;
    ints_.resize(samples);
  }
  pair_.resize(kChunkFrames * 2);

  const auto start =
      static_cast<sf_count_t>(std::llround(options_.start_seconds * info_.samplerate));
  if (start > 0) {
    if (length_known && start >= info_.frames) {
      return "The audio file " + name + " lasts " +
             Seconds(static_cast<double>(info_.frames) / info_.samplerate) +
             " seconds; the replay cannot start at " + Seconds(options_.start_seconds) + ".";
    }
    if (sf_seek(file_.get(), start, SEEK_SET) < 0) {
      // Not seekable (a pipe): read up to the start.
      sf_count_t skipped = 0;
      std::vector<float> skip(samples);
      while (skipped < start) {
        const sf_count_t want = std::min<sf_count_t>(start - skipped, kChunkFrames);
        const sf_count_t got = sf_readf_float(file_.get(), skip.data(), want);
        if (got <= 0) break;
        skipped += got;
      }
      if (skipped < start) {
        return "The audio file " + name + " ends before " + Seconds(options_.start_seconds) +
               " seconds; the replay cannot start there.";
      }
    }
  }
  frames_total_ = length_known ? static_cast<uint64_t>(info_.frames - start) : 0;
  frames_read_ = 0;
  buffers_done_ = 0;
  at_end_ = false;
  failure_.clear();
  // What one chunk can give beyond a completed buffer, with a margin.
  const size_t carry =
      kChunkFrames * format.samples_per_sec / static_cast<size_t>(info_.samplerate) + 2;
  output_rate_ = format.samples_per_sec;
  filler_.emplace(static_cast<uint32_t>(info_.samplerate), format.samples_per_sec, format.channels,
                  carry, restore_pulses_);
  filler_->TimeEdges(options_.time_edges);
  return std::nullopt;
}

size_t AudioFileInput::ReadChunk() {
  if (at_end_) return 0;
  sf_count_t got = 0;
  switch (reading_) {
    case Reading::Shorts:
      got = sf_readf_short(file_.get(), shorts_.data(), kChunkFrames);
      break;
    case Reading::Ints:
      got = sf_readf_int(file_.get(), ints_.data(), kChunkFrames);
      break;
    case Reading::Floats:
      got = sf_readf_float(file_.get(), floats_.data(), kChunkFrames);
      break;
  }
  if (got <= 0) {
    at_end_ = true;
    if (sf_error(file_.get()) != SF_ERR_NO_ERROR) failure_ = sf_strerror(file_.get());
    return 0;
  }
  const auto frames = static_cast<size_t>(got);
  const size_t channels = static_cast<size_t>(info_.channels);
  const size_t out_channels = static_cast<size_t>(filler_->Channels());
  const auto pick = [&](const auto* in, float scale) {
    const auto* first = in + first_;
    const auto* second = in + second_;
    float* out = pair_.data();
    if (out_channels == 2 && channels == 2 && first_ == 0 && second_ == 1) {
      // The common case as one plain conversion, which the compiler vectorises.
      for (size_t i = 0; i < 2 * frames; ++i) out[i] = static_cast<float>(in[i]) * scale;
    } else if (out_channels == 2) {
      for (size_t f = 0; f < frames; ++f) {
        out[2 * f] = static_cast<float>(first[f * channels]) * scale;
        out[2 * f + 1] = static_cast<float>(second[f * channels]) * scale;
      }
    } else {
      for (size_t f = 0; f < frames; ++f) out[f] = static_cast<float>(first[f * channels]) * scale;
    }
  };
  // Exact: the same floats as a card's 8- or 16-bit samples give, and up to 24 bits of wider
  // ones.
  switch (reading_) {
    case Reading::Shorts:
      pick(shorts_.data(), 1.0f / 32768.0f);
      break;
    case Reading::Ints:
      pick(ints_.data(), kIntScale);
      break;
    case Reading::Floats:
      pick(floats_.data(), 1.0f);
      break;
  }
  frames_read_ += frames;
  return frames;
}

void AudioFileInput::AddBuffer(WaveInHandle handle, WaveHeader& header) {
  if (handle != kHandle || !filler_) return;
  filler_->Queue(header);
  while (filler_->Queued()) {
    const size_t frames = ReadChunk();
    if (frames == 0) return;
    filler_->Push(pair_.data(), frames);
  }
  ++buffers_done_;
  buffer_points_ = header.buffer_length / static_cast<uint32_t>(filler_->Channels());
}

void AudioFileInput::UnprepareHeader(WaveInHandle handle, WaveHeader& header) {
  if (handle == kHandle && filler_) filler_->Release(&header);
}

void AudioFileInput::Reset(WaveInHandle handle) {
  if (handle == kHandle && filler_) filler_->Release(nullptr);
}

void AudioFileInput::Close(WaveInHandle handle) {
  if (handle != kHandle) return;
  filler_.reset();
  file_.reset();
  fd_.Reset();
}

FileInput::Position AudioFileInput::Where(WaveInHandle handle) const {
  Position position;
  if (handle != kHandle || !file_) return position;
  position.frames_read = frames_read_;
  position.frames_total = frames_total_;
  // The input the complete buffers took: every point is rate / output rate samples.
  const uint64_t used =
      buffers_done_ * buffer_points_ * static_cast<uint64_t>(info_.samplerate) / output_rate_;
  if (frames_read_ > used) {
    position.seconds_left_over = static_cast<double>(frames_read_ - used) / info_.samplerate;
  }
  const std::string name = "\"" + path_.string() + "\"";
  if (!failure_.empty()) {
    position.ended_early = true;
    position.ended_early_why = "Reading the audio file " + name + " failed after " +
                               Seconds(static_cast<double>(frames_read_) / info_.samplerate) +
                               " seconds (" + failure_ + "); the complete frames before were kept.";
  } else if (at_end_ && cut_short_) {
    position.ended_early = true;
    position.ended_early_why = "The audio file " + name + " ended after " +
                               Seconds(static_cast<double>(frames_read_) / info_.samplerate) +
                               " seconds, before the length its header announces; the complete "
                               "frames before were kept.";
  } else if (at_end_ && frames_total_ > 0 && frames_read_ < frames_total_) {
    position.ended_early = true;
    position.ended_early_why =
        "The audio file " + name + " ended after " +
        Seconds(static_cast<double>(frames_read_) / info_.samplerate) + " of the " +
        Seconds(static_cast<double>(frames_total_) / info_.samplerate) +
        " seconds its header announces; the complete frames before were kept.";
  }
  return position;
}

}  // namespace fc
