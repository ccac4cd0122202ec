#include "capture/alsa/alsa_wave_input.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "capture/buffer_filler.h"
#include "capture/native_samples.h"

namespace fc {

namespace {

constexpr const char* kDefaultPcm = "default";

// The rates tried, most common first. ALSA's own resampling is switched off, so a device is
// only ever recorded at a rate it really runs at.
constexpr unsigned kRates[] = {48000, 44100, 96000, 88200,  32000, 22050,
                               16000, 11025, 8000,  192000, 176400};

// Overruns in a row with no sample read between them: the device does not recover.
constexpr int kOverrunsInARowLimit = 3;

struct PcmClose {
  void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmPtr = std::unique_ptr<snd_pcm_t, PcmClose>;

struct HwParamsFree {
  void operator()(snd_pcm_hw_params_t* params) const { snd_pcm_hw_params_free(params); }
};
struct SwParamsFree {
  void operator()(snd_pcm_sw_params_t* params) const { snd_pcm_sw_params_free(params); }
};

// A hint's value, owned.
std::string HintValue(void* hint, const char* id) {
  char* value = snd_device_name_get_hint(hint, id);
  if (value == nullptr) return {};
  std::string text(value);
  std::free(value);
  return text;
}

// A description of several lines ("card, device\nuse") on one line.
std::string OneLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
    text.replace(at, 1, ", ");
  }
  return text;
}

// The sound servers' own plugins. ALSA's pulse plugin waits on its server without a time-out,
// so a server that does not answer holds it (and the program) for ever; JACK's writes its
// failures straight to standard error, past ALSA's error handler.
bool IsServerPlugin(const char* type) {
  return std::strcmp(type, "pulse") == 0 || std::strcmp(type, "jack") == 0;
}

// Plugins stacked deeper than this are not followed (a loop in the configuration ends here).
constexpr int kPluginDepthLimit = 8;

bool ReachesServerPlugin(snd_config_t* node, int depth);

// Whether the PCM of that name (with arguments, "name:a,b") is a server's plugin or stands on one.
bool NamedPcmReachesServerPlugin(const char* name, int depth) {
  snd_config_t* definition = nullptr;
  if (depth > kPluginDepthLimit ||
      snd_config_search_definition(snd_config, "pcm", name, &definition) < 0) {
    return false;
  }
  const bool reaches = ReachesServerPlugin(definition, depth);
  snd_config_delete(definition);
  return reaches;
}

// A PCM definition (or the name of one): its type, then the PCMs it stands on (slave.pcm,
// capture.pcm of asym, slaves.*.pcm of multi).
bool ReachesServerPlugin(snd_config_t* node, int depth) {
  if (depth > kPluginDepthLimit) return false;
  const char* text = nullptr;
  if (snd_config_get_type(node) == SND_CONFIG_TYPE_STRING) {
    return snd_config_get_string(node, &text) == 0 && NamedPcmReachesServerPlugin(text, depth + 1);
  }
  if (snd_config_get_type(node) != SND_CONFIG_TYPE_COMPOUND) return false;
  snd_config_t* found = nullptr;
  if (snd_config_search(node, "type", &found) == 0 && snd_config_get_string(found, &text) == 0 &&
      IsServerPlugin(text)) {
    return true;
  }
  for (const char* below : {"slave.pcm", "capture.pcm"}) {
    if (snd_config_search(node, below, &found) == 0 && ReachesServerPlugin(found, depth + 1)) {
      return true;
    }
  }
  snd_config_t* slaves = nullptr;
  if (snd_config_search(node, "slaves", &slaves) == 0 &&
      snd_config_get_type(slaves) == SND_CONFIG_TYPE_COMPOUND) {
    snd_config_iterator_t at;
    snd_config_iterator_t next;
    snd_config_for_each(at, next, slaves) {
      if (snd_config_search(snd_config_iterator_entry(at), "pcm", &found) == 0 &&
          ReachesServerPlugin(found, depth + 1)) {
        return true;
      }
    }
  }
  return false;
}

bool UsesServerPlugin(const std::string& name) {
  return snd_config_update() >= 0 && NamedPcmReachesServerPlugin(name.c_str(), 0);
}

// Standard error goes to /dev/null while this lives, for a library that writes there itself.
class QuietStandardError {
 public:
  QuietStandardError() : saved_(::dup(STDERR_FILENO)) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
  }
  ~QuietStandardError() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
  QuietStandardError(const QuietStandardError&) = delete;
  QuietStandardError& operator=(const QuietStandardError&) = delete;

 private:
  int saved_;
};

// snd_pcm_open for capture, without blocking; a server plugin's chatter is kept off the terminal.
int OpenCapturePcm(snd_pcm_t** pcm, const std::string& name) {
  std::optional<QuietStandardError> quiet;
  if (UsesServerPlugin(name)) quiet.emplace();
  return snd_pcm_open(pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
}

struct PcmEntry {
  std::string name;
  std::string description;
};

bool CanOpenForCapture(const std::string& name) {
  snd_pcm_t* pcm = nullptr;
  if (OpenCapturePcm(&pcm, name) < 0) return false;
  snd_pcm_close(pcm);
  return true;
}

struct CaptureListing {
  std::vector<PcmEntry> pcms;
  bool server_plugins_left_out = false;
};

// With `server_plugins` off, the PCMs that are or stand on a server's plugin are neither opened
// nor listed.
CaptureListing CapturePcms(bool server_plugins) {
  CaptureListing listing;
  std::vector<PcmEntry>& pcms = listing.pcms;
  const auto left_out = [&](const std::string& name) {
    if (server_plugins || !UsesServerPlugin(name)) return false;
    listing.server_plugins_left_out = true;
    return true;
  };
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) == 0 && hints != nullptr) {
    for (void** hint = hints; *hint != nullptr; ++hint) {
      const std::string name = HintValue(*hint, "NAME");
      const std::string io = HintValue(*hint, "IOID");  // empty: both directions
      // The null device only ever records silence.
      if (name.empty() || name == "null" || (!io.empty() && io != "Input") || left_out(name)) {
        continue;
      }
      // The hints also name plugins with nothing behind them (a missing card, a sound server
      // that is not running): only what opens for capture is listed.
      if (name != kDefaultPcm && !CanOpenForCapture(name)) continue;
      const std::string description = OneLine(HintValue(*hint, "DESC"));
      pcms.push_back({name, description.empty() ? name : description});
    }
    snd_device_name_free_hint(hints);
  }
  const auto is_default = [](const PcmEntry& pcm) { return pcm.name == kDefaultPcm; };
  const auto found = std::find_if(pcms.begin(), pcms.end(), is_default);
  if (left_out(kDefaultPcm) || !CanOpenForCapture(kDefaultPcm)) {
    if (found != pcms.end()) pcms.erase(found);
  } else if (found != pcms.end()) {
    std::rotate(pcms.begin(), found, found + 1);
  } else {
    pcms.insert(pcms.begin(), {kDefaultPcm, "Default"});
  }
  return listing;
}

// ALSA writes its own errors to standard error (a card that is missing, a plugin that cannot
// reach its server); the program says what went wrong in its own words instead.
extern "C" void IgnoreAlsaError(const char* /*file*/, int /*line*/, const char* /*function*/,
                                int /*error*/, const char* /*format*/, ...) {}

}  // namespace

// One open PCM with its reader thread. The caller's thread uses the PCM only before the thread
// starts and after it has ended; in between, everything the two share is guarded by mutex_.
class AlsaWaveInput::Session {
 public:
  explicit Session(const Options& options) : options_(options) {}

  ~Session() {
    if (reader_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
      }
      wanted_.notify_one();
      Wake();
      reader_.join();
    }
    if (wake_fd_ >= 0) ::close(wake_fd_);
  }

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Open(const std::string& name, const WaveFormat& format, bool restore_pulses,
            std::shared_ptr<RecordingSink> keep) {
    snd_pcm_t* pcm = nullptr;
    if (OpenCapturePcm(&pcm, name) < 0) return false;
    pcm_.reset(pcm);
    if (!Configure(format, restore_pulses)) return false;
    if (keep) {
      filler_->KeepInto(std::move(keep), sample_format_ == NativeSampleFormat::Signed16
                                             ? SampleWidth::Signed16
                                             : SampleWidth::Unsigned8);
    }
    // A device that cannot run is found out here rather than in the middle of a run.
    if (snd_pcm_start(pcm_.get()) < 0) return false;
    snd_pcm_drop(pcm_.get());
    if (snd_pcm_prepare(pcm_.get()) < 0) return false;
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return wake_fd_ >= 0;
  }

  void Begin() {
    if (reader_.joinable() || Lost()) return;
    if (snd_pcm_start(pcm_.get()) < 0) return Fail();
    reader_ = std::thread([this] { Run(); });
  }

  void Queue(WaveHeader& header) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      filler_->Queue(header);
    }
    wanted_.notify_one();
  }

  void Release(const WaveHeader* only) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      filler_->Release(only);
      if (only != nullptr || !reader_.joinable()) return;
      discard_ = true;
    }
    wanted_.notify_one();
    Wake();
  }

  bool Lost() const { return lost_.load(std::memory_order_acquire); }

  uint64_t SamplesLost() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<uint64_t>(
        std::llround(static_cast<double>(frames_lost_) * output_rate_ / rate_));
  }

 private:
  // Hardware and software parameters: 16 or 8 bits, the requested channel count or the other
  // of 1 and 2, the first common rate the device runs at that is not below the requested one.
  bool Configure(const WaveFormat& format, bool restore_pulses) {
    snd_pcm_t* pcm = pcm_.get();
    snd_pcm_hw_params_t* raw_hw = nullptr;
    if (snd_pcm_hw_params_malloc(&raw_hw) < 0) return false;
    const std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree> hw(raw_hw);
    if (snd_pcm_hw_params_any(pcm, hw.get()) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw.get(), SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_rate_resample(pcm, hw.get(), 0) < 0) {
      return false;
    }
    if (snd_pcm_hw_params_set_format(pcm, hw.get(), SND_PCM_FORMAT_S16) == 0) {
      sample_format_ = NativeSampleFormat::Signed16;
    } else if (snd_pcm_hw_params_set_format(pcm, hw.get(), SND_PCM_FORMAT_U8) == 0) {
      sample_format_ = NativeSampleFormat::Unsigned8;
    } else {
      return false;
    }
    const unsigned other = format.channels == 1 ? 2u : 1u;
    if (snd_pcm_hw_params_set_channels(pcm, hw.get(), format.channels) == 0) {
      channels_ = format.channels;
    } else if (snd_pcm_hw_params_set_channels(pcm, hw.get(), other) == 0) {
      channels_ = static_cast<int>(other);
    } else {
      return false;
    }
    rate_ = 0;
    for (unsigned rate : kRates) {
      if (rate >= format.samples_per_sec &&
          snd_pcm_hw_params_set_rate(pcm, hw.get(), rate, 0) == 0) {
        rate_ = rate;
        break;
      }
    }
    if (rate_ == 0) return false;
    unsigned buffer_us = static_cast<unsigned>(options_.buffer.count());
    unsigned period_us = static_cast<unsigned>(options_.period.count());
    int dir = 0;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw.get(), &buffer_us, &dir);
    dir = 0;
    snd_pcm_hw_params_set_period_time_near(pcm, hw.get(), &period_us, &dir);
    if (snd_pcm_hw_params(pcm, hw.get()) < 0) return false;
    snd_pcm_uframes_t period = 0;
    snd_pcm_uframes_t buffer = 0;
    if (snd_pcm_hw_params_get_period_size(hw.get(), &period, &dir) < 0 ||
        snd_pcm_hw_params_get_buffer_size(hw.get(), &buffer) < 0 || period == 0) {
      return false;
    }
    period_frames_ = period;
    buffer_frames_ = buffer;

    snd_pcm_sw_params_t* raw_sw = nullptr;
    if (snd_pcm_sw_params_malloc(&raw_sw) < 0) return false;
    const std::unique_ptr<snd_pcm_sw_params_t, SwParamsFree> sw(raw_sw);
    if (snd_pcm_sw_params_current(pcm, sw.get()) < 0 ||
        snd_pcm_sw_params_set_avail_min(pcm, sw.get(), period) < 0 ||
        snd_pcm_sw_params(pcm, sw.get()) < 0) {
      return false;
    }

    output_rate_ = format.samples_per_sec;
    // What one read can give beyond a completed buffer, with a margin.
    const size_t carry_frames =
        static_cast<size_t>(static_cast<uint64_t>(period) * format.samples_per_sec / rate_) + 2;
    filler_.emplace(rate_, format.samples_per_sec, format.channels, carry_frames, restore_pulses);
    return true;
  }

  void Wake() {
    const uint64_t one = 1;
    if (wake_fd_ < 0) return;
    [[maybe_unused]] const auto written = ::write(wake_fd_, &one, sizeof one);
  }

  // Clears the wake-up once the poll has seen it.
  void DrainWake() {
    uint64_t value = 0;
    [[maybe_unused]] const auto got = ::read(wake_fd_, &value, sizeof value);
  }

  void Fail() { lost_.store(true, std::memory_order_release); }

  // The reader thread: reads a period at a time while a buffer is queued, sleeps in poll()
  // while the device has nothing yet and on the condition variable while nothing is queued.
  void Run() {
    // The requested channel count; fixed since Configure, before this thread began.
    const int out_channels = filler_->Channels();
    const size_t frame_bytes =
        static_cast<size_t>(channels_) * static_cast<size_t>(BytesPerSample(sample_format_));
    std::vector<uint8_t> native(period_frames_ * frame_bytes);
    std::vector<float> samples(period_frames_ * static_cast<size_t>(out_channels));
    int overruns_in_a_row = 0;
    auto last_read = std::chrono::steady_clock::now();
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wanted_.wait(lock, [this] { return stopping_ || discard_ || filler_->Queued(); });
        if (stopping_) return;
        if (discard_) {
          discard_ = false;
          lock.unlock();
          if (!Restart()) return Fail();
          last_read = std::chrono::steady_clock::now();
          continue;
        }
      }
      // What is there, up to a period: a device may wake the poll with less than a period in
      // hand, and asking for a whole one would then fail at once, again and again.
      snd_pcm_sframes_t read = snd_pcm_avail_update(pcm_.get());
      if (read > 0) {
        const auto wanted = std::min(static_cast<snd_pcm_uframes_t>(read), period_frames_);
        read = snd_pcm_readi(pcm_.get(), native.data(), wanted);
      }
      if (read > 0) {
        overruns_in_a_row = 0;
        last_read = std::chrono::steady_clock::now();
        const auto frames = static_cast<size_t>(read);
        ToFloatFrames(native.data(), sample_format_, channels_, frames, out_channels,
                      samples.data());
        std::lock_guard<std::mutex> lock(mutex_);
        if (!discard_) filler_->Push(samples.data(), frames);
      } else if (read == 0 || read == -EAGAIN) {
        if (!AwaitInput()) return Fail();
      } else if (read == -EPIPE || read == -ESTRPIPE) {
        // An overrun (or a suspended machine): the input since is lost; count it and go on.
        if (++overruns_in_a_row > kOverrunsInARowLimit) return Fail();
        const uint64_t lost = FramesLostSince(last_read);
        if (!Restart()) return Fail();
        last_read = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(mutex_);
        frames_lost_ += lost;
      } else {
        return Fail();  // -ENODEV when unplugged, or another failure
      }
    }
  }

  // Sleeps until the device has input, the caller wakes the thread, or the device fails.
  bool AwaitInput() {
    const int count = snd_pcm_poll_descriptors_count(pcm_.get());
    if (count <= 0) return false;
    std::vector<pollfd> fds(static_cast<size_t>(count) + 1);
    if (snd_pcm_poll_descriptors(pcm_.get(), fds.data(), static_cast<unsigned>(count)) != count) {
      return false;
    }
    fds.back() = {wake_fd_, POLLIN, 0};
    if (::poll(fds.data(), fds.size(), -1) < 0) return errno == EINTR;
    if (fds.back().revents != 0) {
      DrainWake();
      return true;
    }
    unsigned short revents = 0;
    if (snd_pcm_poll_descriptors_revents(pcm_.get(), fds.data(), static_cast<unsigned>(count),
                                         &revents) < 0) {
      return false;
    }
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      // An overrun or a suspension is for the next read to report; anything else is the end.
      const snd_pcm_state_t state = snd_pcm_state(pcm_.get());
      return state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SUSPENDED;
    }
    if ((revents & POLLIN) == 0) {
      // Some plugins (ALSA's pulse plugin) leave their descriptor readable while they have
      // nothing to give; polling it again at once would spin. Half a period's nap instead, which
      // the caller can still cut short.
      pollfd wake{wake_fd_, POLLIN, 0};
      const int nap_ms =
          std::max(1, static_cast<int>(period_frames_ * 1000 / 2 / std::max(rate_, 1u)));
      if (::poll(&wake, 1, nap_ms) > 0) DrainWake();
    }
    return true;
  }

  // Everything since the last read is gone in an overrun: the buffer's contents, which the
  // restart throws away, and what came while the device stood still. At least a buffer's worth.
  uint64_t FramesLostSince(std::chrono::steady_clock::time_point last_read) const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - last_read).count();
    return std::max<uint64_t>(buffer_frames_, static_cast<uint64_t>(std::llround(seconds * rate_)));
  }

  bool Restart() {
    snd_pcm_drop(pcm_.get());
    return snd_pcm_prepare(pcm_.get()) == 0 && snd_pcm_start(pcm_.get()) == 0;
  }

  const Options& options_;
  PcmPtr pcm_;
  int wake_fd_ = -1;
  std::thread reader_;
  std::atomic<bool> lost_{false};

  // Fixed once opened.
  NativeSampleFormat sample_format_ = NativeSampleFormat::Signed16;
  int channels_ = 0;  // the device's; the requested count is the filler's
  unsigned rate_ = 1;
  unsigned output_rate_ = 0;
  snd_pcm_uframes_t period_frames_ = 0;
  snd_pcm_uframes_t buffer_frames_ = 0;

  // Shared with the reader thread.
  std::mutex mutex_;
  std::condition_variable wanted_;
  std::optional<BufferFiller> filler_;
  bool stopping_ = false;
  bool discard_ = false;      // drop what the device holds and start afresh
  uint64_t frames_lost_ = 0;  // at the device's rate
};

AlsaWaveInput::AlsaWaveInput() : AlsaWaveInput(Options{}) {}

AlsaWaveInput::AlsaWaveInput(Options options) : options_(options) {
  snd_lib_error_set_handler(&IgnoreAlsaError);
}

AlsaWaveInput::~AlsaWaveInput() = default;

std::vector<WaveInDevice> AlsaWaveInput::Devices() {
  pcm_names_.clear();
  std::vector<WaveInDevice> devices;
  CaptureListing listing = CapturePcms(options_.server_plugins);
  server_reached_ = !listing.server_plugins_left_out || !listing.pcms.empty();
  for (PcmEntry& pcm : listing.pcms) {
    pcm_names_.push_back(std::move(pcm.name));
    // Format and channels are converted here, so any capture PCM can give 8-bit stereo.
    devices.push_back({std::move(pcm.description), true});
  }
  return devices;
}

WaveInHandle AlsaWaveInput::Open(int device_id, const WaveFormat& format) {
  if (!RecordableFormat(format)) return 0;
  if (pcm_names_.empty()) Devices();
  if (device_id < 0 || static_cast<size_t>(device_id) >= pcm_names_.size()) return 0;
  auto session = std::make_unique<Session>(options_);
  if (!session->Open(pcm_names_[static_cast<size_t>(device_id)], format, restore_pulses_, keep_)) {
    return 0;
  }
  return sessions_.Add(std::move(session));
}

void AlsaWaveInput::Start(WaveInHandle handle) {
  if (Session* session = sessions_.Find(handle)) session->Begin();
}

void AlsaWaveInput::PrepareHeader(WaveInHandle /*handle*/, WaveHeader& /*header*/) {}

void AlsaWaveInput::AddBuffer(WaveInHandle handle, WaveHeader& header) {
  if (Session* session = sessions_.Find(handle)) session->Queue(header);
}

void AlsaWaveInput::UnprepareHeader(WaveInHandle handle, WaveHeader& header) {
  if (Session* session = sessions_.Find(handle)) session->Release(&header);
}

void AlsaWaveInput::Reset(WaveInHandle handle) {
  if (Session* session = sessions_.Find(handle)) session->Release(nullptr);
}

void AlsaWaveInput::Close(WaveInHandle handle) { sessions_.Remove(handle); }

bool AlsaWaveInput::Lost(WaveInHandle handle) {
  const Session* session = sessions_.Find(handle);
  return session == nullptr || session->Lost();
}

uint64_t AlsaWaveInput::SamplesLost(WaveInHandle handle) {
  Session* session = sessions_.Find(handle);
  return session == nullptr ? 0 : session->SamplesLost();
}

}  // namespace fc
