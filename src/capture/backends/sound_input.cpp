#include "capture/backends/sound_input.h"

#include "capture/alsa/alsa_wave_input.h"
#include "capture/pulse/pulse_wave_input.h"

namespace fc {

bool SoundServerReachable() { return PulseWaveInput().ServerReachable(); }

std::unique_ptr<WaveInput> MakeWaveInput(AudioBackend backend) {
  if (backend == AudioBackend::Alsa) return std::make_unique<AlsaWaveInput>();
  return std::make_unique<PulseWaveInput>();
}

}  // namespace fc
