#include "capture/pulse/pulse_wave_input.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "capture/buffer_filler.h"

namespace fc {

namespace {

struct LoopFree {
  void operator()(pa_threaded_mainloop* loop) const { pa_threaded_mainloop_free(loop); }
};
struct ContextUnref {
  void operator()(pa_context* context) const { pa_context_unref(context); }
};
struct StreamUnref {
  void operator()(pa_stream* stream) const { pa_stream_unref(stream); }
};
struct OperationUnref {
  void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};
using OperationPtr = std::unique_ptr<pa_operation, OperationUnref>;

struct SourceEntry {
  std::string name;
  std::string description;
  uint32_t rate = 0;
};

bool Failed(pa_context_state_t state) {
  return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED;
}
bool Failed(pa_stream_state_t state) {
  return state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED;
}

}  // namespace

// One connection to the server with its own libpulse thread, and at most one record stream.
// Everything the libpulse thread touches is guarded by the threaded mainloop's lock.
class PulseWaveInput::Session {
 public:
  Session(const Options& options, std::chrono::steady_clock::time_point deadline)
      : options_(options), deadline_(deadline) {}

  ~Session() {
    // With the thread stopped no callback can run any more; then the objects go.
    if (loop_) pa_threaded_mainloop_stop(loop_.get());
    if (stream_) {
      pa_stream_set_state_callback(stream_.get(), nullptr, nullptr);
      pa_stream_set_read_callback(stream_.get(), nullptr, nullptr);
      pa_stream_disconnect(stream_.get());
      stream_.reset();
    }
    if (context_) {
      pa_context_set_state_callback(context_.get(), nullptr, nullptr);
      pa_context_disconnect(context_.get());
      context_.reset();
    }
    loop_.reset();
  }

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Whether a wait for the server ran out of time (rather than the server refusing).
  bool Late() const { return late_; }

  bool Connect() {
    loop_.reset(pa_threaded_mainloop_new());
    if (!loop_) return false;
    context_.reset(
        pa_context_new(pa_threaded_mainloop_get_api(loop_.get()), options_.client_name.c_str()));
    if (!context_) return false;
    pa_context_set_state_callback(context_.get(), &Session::OnContextState, this);
    if (pa_threaded_mainloop_start(loop_.get()) < 0) return false;
    Lock lock(*this);
    const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
    if (pa_context_connect(context_.get(), server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      return false;
    }
    return WaitUntil([this] {
             const pa_context_state_t state = pa_context_get_state(context_.get());
             return state == PA_CONTEXT_READY || Failed(state);
           }) &&
           pa_context_get_state(context_.get()) == PA_CONTEXT_READY;
  }

  // Every source in the server's index order.
  std::optional<std::vector<SourceEntry>> Sources() {
    Lock lock(*this);
    Listing listing{this, {}, false};
    OperationPtr op(pa_context_get_source_info_list(context_.get(), &Session::OnSource, &listing));
    if (!op) return std::nullopt;
    if (!WaitUntil([&] { return listing.done || Lost(); }) || !listing.done) {
      pa_operation_cancel(op.get());
      return std::nullopt;
    }
    return std::move(listing.sources);
  }

  std::optional<SourceEntry> Source(const std::string& name) {
    Lock lock(*this);
    Listing listing{this, {}, false};
    OperationPtr op(pa_context_get_source_info_by_name(context_.get(), name.c_str(),
                                                       &Session::OnSource, &listing));
    if (!op) return std::nullopt;
    if (!WaitUntil([&] { return listing.done || Lost(); }) || !listing.done) {
      pa_operation_cancel(op.get());
      return std::nullopt;
    }
    if (listing.sources.size() != 1) return std::nullopt;
    return listing.sources.front();
  }

  // Connects a record stream to the source at its own rate and waits for its first data, so
  // that a source (or server) that takes a while to get going does not eat into the first frame.
  // Until Start, what arrives is dropped.
  bool OpenStream(const SourceEntry& source, const WaveFormat& format, bool restore_pulses,
                  const std::shared_ptr<RecordingSink>& keep) {
    if (source.rate < format.samples_per_sec) return false;
    const int channels = format.channels;
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, source.rate, static_cast<uint8_t>(channels)};
    pa_channel_map map;
    if (channels == 1) {
      pa_channel_map_init_mono(&map);
    } else {
      pa_channel_map_init_stereo(&map);
    }
    frame_bytes_ = pa_frame_size(&spec);
    // Room for what follows a completed buffer until the caller queues the next one: 1/8 s
    // (its wait step and the analysis of the frame) and two deliveries.
    const double fragment_seconds = std::chrono::duration<double>(options_.fragment).count();
    const auto carry_frames =
        static_cast<size_t>((0.125 + 2.0 * fragment_seconds) * format.samples_per_sec) + 1;
    filler_.emplace(source.rate, format.samples_per_sec, channels, carry_frames, restore_pulses);
    if (keep) filler_->KeepInto(keep, SampleWidth::Float32);  // the server delivers floats

    Lock lock(*this);
    stream_.reset(pa_stream_new(context_.get(), "frequency counter input", &spec, &map));
    if (!stream_) return false;
    pa_stream_set_state_callback(stream_.get(), &Session::OnStreamState, this);
    pa_stream_set_read_callback(stream_.get(), &Session::OnRead, this);
    pa_buffer_attr attr;
    attr.maxlength = std::numeric_limits<uint32_t>::max();
    attr.tlength = std::numeric_limits<uint32_t>::max();
    attr.prebuf = std::numeric_limits<uint32_t>::max();
    attr.minreq = std::numeric_limits<uint32_t>::max();
    attr.fragsize = static_cast<uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(options_.fragment.count()), &spec));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_.get(), source.name.c_str(), &attr, flags) < 0) {
      return false;
    }
    const bool ready = WaitUntil([this] {
                         const pa_stream_state_t state = pa_stream_get_state(stream_.get());
                         return state == PA_STREAM_READY || Failed(state) || Lost();
                       }) &&
                       pa_stream_get_state(stream_.get()) == PA_STREAM_READY && !Lost();
    if (!ready) return false;
    // A source that stays silent is not a failure here; the capture's time-out deals with it.
    WaitUntil([this] { return delivering_ || Lost(); }, options_.first_data_timeout);
    late_ = false;
    return !Lost();
  }

  void Begin() {
    Lock lock(*this);
    started_ = true;
  }

  void Queue(WaveHeader& header) {
    Lock lock(*this);
    filler_->Queue(header);
  }

  void Release(const WaveHeader* only) {
    Lock lock(*this);
    filler_->Release(only);
  }

  bool Lost() const { return lost_.load(std::memory_order_acquire); }

 private:
  class Lock {
   public:
    explicit Lock(Session& session) : loop_(session.loop_.get()) {
      pa_threaded_mainloop_lock(loop_);
    }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  struct Listing {
    Session* session;
    std::vector<SourceEntry> sources;
    bool done;
  };

  // Waits (lock held) until `ready` holds, at most `limit` and never past the deadline of the
  // whole call; false when the time-out came first.
  template <typename Ready>
  bool WaitUntil(Ready ready) {
    return WaitUntil(ready, options_.timeout);
  }
  template <typename Ready>
  bool WaitUntil(Ready ready, std::chrono::milliseconds limit) {
    using std::chrono::microseconds;
    const auto left =
        std::chrono::duration_cast<microseconds>(deadline_ - std::chrono::steady_clock::now());
    const microseconds wait = std::clamp(left, microseconds(0), microseconds(limit));
    bool timed_out = false;
    std::pair<Session*, bool*> target{this, &timed_out};
    pa_time_event* timer = pa_context_rttime_new(
        context_.get(), pa_rtclock_now() + static_cast<pa_usec_t>(wait.count()),
        &Session::OnTimeout, &target);
    while (!ready() && !timed_out) pa_threaded_mainloop_wait(loop_.get());
    if (timer != nullptr) pa_threaded_mainloop_get_api(loop_.get())->time_free(timer);
    if (ready()) return true;
    late_ = true;
    return false;
  }

  void Record(const void* data, size_t bytes) {
    const size_t frames = bytes / frame_bytes_;
    if (data == nullptr) {
      filler_->PushSilence(frames);  // a hole in the recording
    } else {
      filler_->Push(static_cast<const float*>(data), frames);
    }
  }

  static void OnContextState(pa_context* context, void* userdata) {
    auto* self = static_cast<Session*>(userdata);
    if (Failed(pa_context_get_state(context))) self->lost_.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(self->loop_.get(), 0);
  }

  static void OnStreamState(pa_stream* stream, void* userdata) {
    auto* self = static_cast<Session*>(userdata);
    if (Failed(pa_stream_get_state(stream))) self->lost_.store(true, std::memory_order_release);
    pa_threaded_mainloop_signal(self->loop_.get(), 0);
  }

  static void OnRead(pa_stream* stream, size_t /*bytes*/, void* userdata) {
    auto* self = static_cast<Session*>(userdata);
    if (!self->delivering_) {
      self->delivering_ = true;
      pa_threaded_mainloop_signal(self->loop_.get(), 0);
    }
    while (pa_stream_readable_size(stream) > 0) {
      const void* data = nullptr;
      size_t bytes = 0;
      if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
      if (self->started_) self->Record(data, bytes);  // before Start, input is dropped
      pa_stream_drop(stream);
    }
  }

  static void OnSource(pa_context* /*context*/, const pa_source_info* info, int eol,
                       void* userdata) {
    auto* listing = static_cast<Listing*>(userdata);
    if (eol != 0) {
      listing->done = true;
    } else if (info != nullptr) {
      SourceEntry entry;
      entry.name = info->name != nullptr ? info->name : "";
      entry.description = info->description != nullptr ? info->description : entry.name;
      entry.rate = info->sample_spec.rate;
      listing->sources.push_back(std::move(entry));
    }
    pa_threaded_mainloop_signal(listing->session->loop_.get(), 0);
  }

  static void OnTimeout(pa_mainloop_api* /*api*/, pa_time_event* /*event*/,
                        const struct timeval* /*tv*/, void* userdata) {
    auto* target = static_cast<std::pair<Session*, bool*>*>(userdata);
    *target->second = true;
    pa_threaded_mainloop_signal(target->first->loop_.get(), 0);
  }

  const Options& options_;
  const std::chrono::steady_clock::time_point deadline_;
  bool late_ = false;
  std::unique_ptr<pa_threaded_mainloop, LoopFree> loop_;
  std::unique_ptr<pa_context, ContextUnref> context_;
  std::unique_ptr<pa_stream, StreamUnref> stream_;
  std::atomic<bool> lost_{false};

  // Recording state, used by the libpulse thread under the lock.
  std::optional<BufferFiller> filler_;
  size_t frame_bytes_ = 1;
  bool delivering_ = false;  // the first data has arrived
  bool started_ = false;     // Start has been called
};

PulseWaveInput::PulseWaveInput() : PulseWaveInput(Options{}) {}

PulseWaveInput::PulseWaveInput(Options options) : options_(std::move(options)) {}

PulseWaveInput::~PulseWaveInput() = default;

bool PulseWaveInput::ServerReachable() {
  Session session(options_, std::chrono::steady_clock::now() + options_.timeout);
  return session.Connect();
}

bool PulseWaveInput::ListSources(Deadline deadline, std::vector<WaveInDevice>* devices) {
  source_names_.clear();
  server_reached_ = false;
  Session session(options_, deadline);
  std::optional<std::vector<SourceEntry>> sources;
  if (session.Connect()) sources = session.Sources();
  if (!sources) return false;
  server_reached_ = true;
  for (const SourceEntry& source : *sources) {
    source_names_.push_back(source.name);
    // The server converts format, rate and channels for any source.
    if (devices != nullptr) devices->push_back({source.description, true});
  }
  return true;
}

std::vector<WaveInDevice> PulseWaveInput::Devices() {
  std::vector<WaveInDevice> devices;  // stays empty when the server could not be asked
  ListSources(std::chrono::steady_clock::now() + options_.timeout, &devices);
  return devices;
}

WaveInHandle PulseWaveInput::Open(int device_id, const WaveFormat& format) {
  if (!RecordableFormat(format)) return 0;
  const Deadline deadline = std::chrono::steady_clock::now() + options_.timeout;
  if (source_names_.empty() && !ListSources(deadline, nullptr)) return 0;
  if (device_id < 0 || static_cast<size_t>(device_id) >= source_names_.size()) return 0;
  auto session = std::make_unique<Session>(options_, deadline);
  const bool reached = session->Connect();
  std::optional<SourceEntry> source;
  if (reached) source = session->Source(source_names_[static_cast<size_t>(device_id)]);
  if (!source || !session->OpenStream(*source, format, restore_pulses_, keep_)) {
    // A server that refused the source still answered; one that was not reached, or fell
    // silent, is named as such.
    server_reached_ = reached && !session->Late();
    return 0;
  }
  return sessions_.Add(std::move(session));
}

void PulseWaveInput::Start(WaveInHandle handle) {
  if (Session* session = sessions_.Find(handle)) session->Begin();
}

void PulseWaveInput::PrepareHeader(WaveInHandle /*handle*/, WaveHeader& /*header*/) {}

void PulseWaveInput::AddBuffer(WaveInHandle handle, WaveHeader& header) {
  if (Session* session = sessions_.Find(handle)) session->Queue(header);
}

void PulseWaveInput::UnprepareHeader(WaveInHandle handle, WaveHeader& header) {
  if (Session* session = sessions_.Find(handle)) session->Release(&header);
}

void PulseWaveInput::Reset(WaveInHandle handle) {
  if (Session* session = sessions_.Find(handle)) session->Release(nullptr);
}

void PulseWaveInput::Close(WaveInHandle handle) { sessions_.Remove(handle); }

bool PulseWaveInput::Lost(WaveInHandle handle) {
  const Session* session = sessions_.Find(handle);
  return session == nullptr || session->Lost();
}

}  // namespace fc
