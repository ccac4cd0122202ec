#include "capture/backends/sound_input.h"

#include "capture/alsa/alsa_wave_input.h"
#include "capture/pulse/pulse_wave_input.h"

namespace fc {

bool SoundServerReachable() { return PulseWaveInput().ServerReachable(); }

std::unique_ptr<WaveInput> MakeWaveInput(AudioBackend backend) {
  if (backend == AudioBackend::Alsa) return std::make_unique<AlsaWaveInput>();
  return std::make_unique<PulseWaveInput>();
}

AudioBackend ResolveAudioBackend(AudioBackend asked, std::ostream& err) {
  if (asked == AudioBackend::Automatic) asked = AudioBackendFromEnvironment(err);
  return ChooseAudioBackend(asked, SoundServerReachable);
}

}  // namespace fc
