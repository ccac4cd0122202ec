#pragma once

#include <iosfwd>
#include <memory>

#include "capture/audio_backend.h"
#include "capture/wave_input.h"

namespace fc {

// True when a PulseAudio server (or PipeWire's) answers.
bool SoundServerReachable();

// The input of a chosen backend (Pulse or Alsa).
std::unique_ptr<WaveInput> MakeWaveInput(AudioBackend backend);

// The backend `asked` for, or else the one FREQUENCY_COUNTER_AUDIO forces, or else the automatic
// choice (see ChooseAudioBackend); problems with the variable go to `err`.
AudioBackend ResolveAudioBackend(AudioBackend asked, std::ostream& err);

}  // namespace fc
