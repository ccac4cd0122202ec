#pragma once

#include <memory>

#include "capture/audio_backend.h"
#include "capture/wave_input.h"

namespace fc {

// True when a PulseAudio server (or PipeWire's) answers.
bool SoundServerReachable();

// The input of a chosen backend (Pulse or Alsa). `server_answered` false (ALSA standing in for
// a server that did not answer) leaves out ALSA's PCMs of the servers' plugins, which would
// wait on that server.
std::unique_ptr<WaveInput> MakeWaveInput(AudioBackend backend, bool server_answered);

// The automatic choice's check for a server, remembered for the input made after it.
class ServerCheck {
 public:
  // SoundServerReachable(), remembered.
  bool Reachable() { return answered_ = SoundServerReachable(); }
  // True until a check has found no server (a forced backend asks none).
  bool Answered() const { return answered_; }

 private:
  bool answered_ = true;
};

}  // namespace fc
