#include "capture/device_list.h"

namespace fc {

int DeviceList::DeviceId(int position) const {
  if (position < 0 || position >= static_cast<int>(ids.size())) return -1;
  return ids[static_cast<std::size_t>(position)];
}

DeviceList CapableDevices(WaveInput& input) {
  DeviceList list;
  const std::vector<WaveInDevice> all = input.Devices();
  for (std::size_t id = 0; id < all.size(); ++id) {
    if (!all[id].can_record_8bit_stereo) continue;
    // The name shown ends at its first NUL, as a C string would.
    list.names.push_back(std::string(all[id].name.c_str()));
    list.ids.push_back(static_cast<int>(id));
  }
  if (!list.empty()) list.selected = 0;
  return list;
}

Message NoDevicesMessage() {
  return Message{"You have no audio input devices!", MessageButtons::Ok, MessageIcon::Critical,
                 "Ack!"};
}

Message NoSoundServerMessage() {
  return Message{
      "No sound server could be reached, so there are no audio inputs to record from. Start "
      "PulseAudio or PipeWire and try again.",
      MessageButtons::Ok, MessageIcon::Critical, "Ack!"};
}

void EndIfNoDevices(const DeviceList& list, const WaveInput& input, Host& host) {
  if (!list.empty()) return;
  host.dialogs().Show(input.ServerReached() ? NoDevicesMessage() : NoSoundServerMessage());
  host.EndProgram();
}

DeviceList InitDevices(WaveInput& input, Host& host) {
  DeviceList list = CapableDevices(input);
  EndIfNoDevices(list, input, host);
  return list;
}

}  // namespace fc
