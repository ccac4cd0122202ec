#pragma once

#include <memory>

#include "capture/audio_backend.h"
#include "capture/wave_input.h"

namespace fc {

// True when a PulseAudio server (or PipeWire's) answers.
bool SoundServerReachable();

// The input of a chosen backend (Pulse or Alsa).
std::unique_ptr<WaveInput> MakeWaveInput(AudioBackend backend);

}  // namespace fc
