#pragma once

#include <string>
#include <vector>

#include "analysis/message.h"
#include "capture/host.h"
#include "capture/wave_input.h"

namespace fc {

// The entries of DevicesBox: the devices that can record 8-bit stereo, listed at positions
// 0, 1, 2 ... in identifier order, with the identifier of each entry.
struct DeviceList {
  std::vector<std::string> names;
  std::vector<int> ids;
  int selected = -1;  // 0 once there is an entry

  bool empty() const { return names.empty(); }
  // The identifier to open for a list position; -1 (the system's default device) for a
  // position that holds no entry, e.g. no selection.
  int DeviceId(int position) const;
};

// The capable devices, without any message.
DeviceList CapableDevices(WaveInput& input);

// "You have no audio input devices!" (critical icon, OK, title "Ack!").
Message NoDevicesMessage();

// The same for an input that found no sound server to list the devices of.
Message NoSoundServerMessage();

// Lists the capable devices and selects position 0. Without one, shows NoDevicesMessage (or
// NoSoundServerMessage when there was no server to ask), calls host.EndProgram() and returns
// an empty list.
DeviceList InitDevices(WaveInput& input, Host& host);

// The end of InitDevices for a list already made: the message and the end when it is empty.
void EndIfNoDevices(const DeviceList& list, const WaveInput& input, Host& host);

}  // namespace fc
