#include "capture/backends/sound_input.h"

#include "capture/alsa/alsa_wave_input.h"
#include "capture/pulse/pulse_wave_input.h"

namespace fc {

bool SoundServerReachable() { return PulseWaveInput().ServerReachable(); }

std::unique_ptr<WaveInput> MakeWaveInput(AudioBackend backend, bool server_answered) {
  if (backend == AudioBackend::Alsa) {
    AlsaWaveInput::Options options;
    options.server_plugins = server_answered;
    return std::make_unique<AlsaWaveInput>(options);
  }
  return std::make_unique<PulseWaveInput>();
}

}  // namespace fc
