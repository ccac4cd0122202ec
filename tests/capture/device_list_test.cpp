#include "capture/device_list.h"

#include <gtest/gtest.h>

#include "capture/capture.h"
#include "capture/fake_host.h"
#include "support/scripted_wave_input.h"

namespace fc::testing {
namespace {

class DeviceListTest : public ::testing::Test {
 protected:
  DeviceListTest() : input(clock), host(clock) {}
  FakeClock clock;
  ScriptedWaveInput input;
  FakeHost host;
};

TEST_F(DeviceListTest, CapableDevicesInIdentifierOrder) {
  input.devices = {{"Line In", true}};
  DeviceList one = InitDevices(input, host);
  EXPECT_EQ(one.names, std::vector<std::string>{"Line In"});
  EXPECT_EQ(one.selected, 0);

  input.devices = {{"Line In", true}, {std::string("Mic\0junk", 8), true}};
  DeviceList two = InitDevices(input, host);
  EXPECT_EQ(two.names, (std::vector<std::string>{"Line In", "Mic"}));
  EXPECT_EQ(two.ids, (std::vector<int>{0, 1}));
  EXPECT_EQ(two.selected, 0);
  EXPECT_FALSE(host.ended);
  EXPECT_TRUE(host.dialog.shown.empty());
}

TEST_F(DeviceListTest, NoCapableDeviceEndsTheProgram) {
  for (const auto& devices : {std::vector<WaveInDevice>{}, std::vector<WaveInDevice>{{"Modem", false}}}) {
    input.devices = devices;
    host.ended = false;
    host.dialog.shown.clear();
    EXPECT_TRUE(InitDevices(input, host).empty());
    EXPECT_TRUE(host.ended);
    EXPECT_EQ(host.dialog.shown, (std::vector<Message>{{"You have no audio input devices!",
                                                        MessageButtons::Ok, MessageIcon::Critical,
                                                        "Ack!"}}));
  }
}

TEST_F(DeviceListTest, IncapableDeviceBeforeACapableOneStartOpensTheRightOne) {
  input.devices = {{"Modem", false}, {"Line In", true}, {"Phone", false}, {"Mic", true}};
  MeasurementState state;
  FakeDisplay display;
  Capture capture(state, display, input, host, clock);
  const DeviceList& list = capture.InitDevices();
  EXPECT_EQ(list.names, (std::vector<std::string>{"Line In", "Mic"}));
  EXPECT_EQ(list.selected, 0);

  input.open_fails = true;  // only the identifier matters here
  capture.Start(1);
  EXPECT_EQ(input.opened_device, 3);
  capture.Start(-1);  // no selection: the default device
  EXPECT_EQ(input.opened_device, -1);
}

}  // namespace
}  // namespace fc::testing
