#include "capture/audio_backend.h"

#include <cstdlib>
#include <ostream>

namespace fc {

std::optional<AudioBackend> ParseAudioBackend(std::string_view text) {
  if (text == "alsa") return AudioBackend::Alsa;
  if (text == "pulse") return AudioBackend::Pulse;
  return std::nullopt;
}

std::string AudioBackendName(AudioBackend backend) {
  switch (backend) {
    case AudioBackend::Pulse:
      return "PulseAudio";
    case AudioBackend::Alsa:
      return "ALSA";
    case AudioBackend::Automatic:
      break;
  }
  return "automatic";
}

AudioBackend AudioBackendFromEnvironment(std::ostream& err) {
  const char* value = std::getenv(kAudioVariable);
  if (value == nullptr || *value == '\0') return AudioBackend::Automatic;
  if (const auto backend = ParseAudioBackend(value)) return *backend;
  err << kAudioVariable << "=" << value
      << " is neither alsa nor pulse and is ignored: the sound system is chosen as usual.\n";
  return AudioBackend::Automatic;
}

AudioBackend ChooseAudioBackend(AudioBackend asked, const std::function<bool()>& server_reachable) {
  if (asked != AudioBackend::Automatic) return asked;
  return server_reachable() ? AudioBackend::Pulse : AudioBackend::Alsa;
}

}  // namespace fc
