// An ALSA capture PCM for the tests that fails on request: 16-bit stereo at 48 kHz of a constant
// level, delivered as fast as it is read, with an overrun after FC_FAULT_XRUN_AT frames (again
// after every restart when FC_FAULT_XRUN_AGAIN is set) and a disconnection after
// FC_FAULT_GONE_AT frames, as an unplugged card gives.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct FaultPcm {
  snd_pcm_ioplug_t io{};
  int fd = -1;
  uint64_t delivered = 0;
  uint64_t xrun_at = 0;  // 0: never
  bool xrun_again = false;
  uint64_t gone_at = 0;  // 0: never
};

uint64_t Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::strtoull(value, nullptr, 10) : 0;
}

FaultPcm* Of(snd_pcm_ioplug_t* io) { return static_cast<FaultPcm*>(io->private_data); }

int Start(snd_pcm_ioplug_t*) { return 0; }
int Stop(snd_pcm_ioplug_t*) { return 0; }

snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t* io) {
  FaultPcm* pcm = Of(io);
  if (pcm->gone_at != 0 && pcm->delivered >= pcm->gone_at) {
    // The state, not an error result (which the plugin layer takes for an overrun): reads then
    // fail with -ENODEV.
    snd_pcm_ioplug_set_state(io, SND_PCM_STATE_DISCONNECTED);
  }
  if (pcm->xrun_at != 0 && pcm->delivered >= pcm->xrun_at) {
    if (!pcm->xrun_again) pcm->xrun_at = 0;
    return -EPIPE;
  }
  // Always a period ahead of the reader.
  return static_cast<snd_pcm_sframes_t>((io->appl_ptr + io->period_size) % io->buffer_size);
}

snd_pcm_sframes_t Transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                           snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  auto* base = static_cast<char*>(areas[0].addr) + (areas[0].first + areas[0].step * offset) / 8;
  auto* samples = reinterpret_cast<int16_t*>(base);
  for (snd_pcm_uframes_t i = 0; i < size * io->channels; ++i) samples[i] = 16384;
  Of(io)->delivered += size;
  return static_cast<snd_pcm_sframes_t>(size);
}

int Close(snd_pcm_ioplug_t* io) {
  FaultPcm* pcm = Of(io);
  if (pcm->fd >= 0) close(pcm->fd);
  delete pcm;
  return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
  snd_pcm_ioplug_callback_t callbacks{};
  callbacks.start = Start;
  callbacks.stop = Stop;
  callbacks.pointer = Pointer;
  callbacks.transfer = Transfer;
  callbacks.close = Close;
  return callbacks;
}();

}  // namespace

extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(fcfault) {
  (void)root;
  (void)conf;
  if (stream != SND_PCM_STREAM_CAPTURE) return -EINVAL;
  auto* pcm = new FaultPcm;
  pcm->xrun_at = Variable("FC_FAULT_XRUN_AT");
  pcm->xrun_again = Variable("FC_FAULT_XRUN_AGAIN") != 0;
  pcm->gone_at = Variable("FC_FAULT_GONE_AT");
  // Always readable: the reads are not paced.
  pcm->fd = eventfd(1, EFD_CLOEXEC);
  pcm->io.version = SND_PCM_IOPLUG_VERSION;
  pcm->io.name = "fault test PCM";
  pcm->io.poll_fd = pcm->fd;
  pcm->io.poll_events = POLLIN;
  pcm->io.callback = &kCallbacks;
  pcm->io.private_data = pcm;
  int err = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
  if (err < 0) {
    close(pcm->fd);
    delete pcm;
    return err;
  }
  const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  const unsigned int formats[] = {SND_PCM_FORMAT_S16};
  if ((err = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_ACCESS, 1, access)) < 0 ||
      (err = snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_CHANNELS, 2, 2)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_RATE, 48000, 48000)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64,
                                             1 << 20)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0) {
    snd_pcm_ioplug_delete(&pcm->io);
    return err;
  }
  *pcmp = pcm->io.pcm;
  return 0;
}

extern "C" {
SND_PCM_PLUGIN_SYMBOL(fcfault);
}
