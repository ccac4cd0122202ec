#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace fc {

enum class AudioBackend { Automatic, Pulse, Alsa };

// Forces a backend for the window and the batch program ("alsa" or "pulse").
inline constexpr const char* kAudioVariable = "FREQUENCY_COUNTER_AUDIO";

// "alsa" and "pulse"; nothing for any other text.
std::optional<AudioBackend> ParseAudioBackend(std::string_view text);

// "PulseAudio", "ALSA" (and "automatic").
std::string AudioBackendName(AudioBackend backend);

// The backend FREQUENCY_COUNTER_AUDIO forces: Automatic when it is unset or empty. Any other
// value is reported on `err` and ignored.
AudioBackend AudioBackendFromEnvironment(std::ostream& err);

// A forced backend stays; otherwise PulseAudio when a server answers (PipeWire's included),
// ALSA when none does.
AudioBackend ChooseAudioBackend(AudioBackend asked, const std::function<bool()>& server_reachable);

}  // namespace fc
