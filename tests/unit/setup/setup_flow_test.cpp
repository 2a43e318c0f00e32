#include <gtest/gtest.h>

#include "device_settings_file.h"
#include "fakes.h"
#include "panel_scripted.h"
#include "setup_flow.h"

namespace qv::setup {
namespace {

using test::FakeCom;
using test::FakeStore;

constexpr const char* kWin = "QV121032.ini";
constexpr const char* kVirtual = "/home/u/.local/VirtualStore/Windows/QV121032.ini";

struct Flow : ::testing::Test {
  FakeCom com;
  FakeStore store;
  ScriptedPanel panel;
  SetupState s;
  void SetUp() override {
    s.com = &com;
    s.store = &store;
    s.panel = &panel;
    store.Set(kWin, "VendorInformation", "Devices", "101,102");
    Params(kWin, 101, "COM4,115200,0,81");
    Params(kWin, 102, "COM4,115200,0,81");
  }
  void Params(const char* file, int device, const std::string& v) {
    store.Set(file, "DeviceInformation" + std::to_string(device), "DeviceParams", v);
  }
  std::string ParamsOf(const char* file, int device) {
    return store.Get(file, "DeviceInformation" + std::to_string(device), "DeviceParams");
  }
  int Run() { return RunSetup(s, 0, nullptr); }
  // The channel written to device 102 (never given one beforehand), or -1.
  int ChannelWritten() {
    const std::string v = ParamsOf(kWin, 102);
    size_t commas = std::count(v.begin(), v.end(), ',');
    return commas == 4 ? std::stoi(v.substr(v.rfind(',') + 1)) : -1;
  }
  size_t Count(const std::string& cmd) {
    auto c = com.Commands();
    return static_cast<size_t>(std::count(c.begin(), c.end(), cmd));
  }
};

TEST_F(Flow, ChannelFromAddress) {
  EXPECT_EQ(ChannelFromAddress(0x1234), 17u);
  EXPECT_EQ(ChannelFromAddress(0x000F), 18u);
  EXPECT_EQ(ChannelFromAddress(0x0000), 13u);
  EXPECT_EQ(ChannelFromAddress(0xFFF9), 22u);
}

TEST_F(Flow, PortIsOpenedAt115200WithItsQueuesAndClosedBeforeThePanel) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(com.openedPort, 4);
  EXPECT_EQ(com.settings, "115200,0,8,1,512,512");
  EXPECT_EQ(com.closes, 1);
  EXPECT_FALSE(com.open);
  EXPECT_TRUE(panel.displayed);
  EXPECT_TRUE(panel.discarded);
}

TEST_F(Flow, NoModemWithoutChannelWrites13) {
  com.present = false;
  Run();
  EXPECT_EQ(ChannelWritten(), 13);
  EXPECT_EQ(ParamsOf(kWin, 101), "COM4,115200,0,81,13");
  EXPECT_EQ(Count("SH"), 10u);
  EXPECT_EQ(Count("SL"), 10u);
  EXPECT_EQ(Count("MY"), 0u);
}

TEST_F(Flow, NoModemWithChannelWritesNothing) {
  com.present = false;
  Params(kWin, 101, "COM4,115200,0,81,20");
  Run();
  EXPECT_TRUE(store.writes.empty());
}

TEST_F(Flow, ModemWithoutAddressAndSerialLowZeroWritesNothing) {
  com.my = 0xFFFF;
  com.sl = 0;
  Run();
  EXPECT_TRUE(store.writes.empty());
  EXPECT_EQ(Count("WR"), 0u);
}

TEST_F(Flow, ModemWithoutAddressGetsOneAndItsChannel) {
  com.my = 0xFFFF;
  com.sl = 0x40A1B2C3;  // MY 0xB2C3: (3 mod 10) + 13 = 16
  Run();
  EXPECT_EQ(com.my, 0xB2C3);
  EXPECT_EQ(Count("WR"), 1u);
  EXPECT_EQ(ChannelWritten(), 16);
  EXPECT_EQ(Count("CH"), 0u);
}

TEST_F(Flow, ModemWithoutAddressAndDevice101ChannelWritesNothing) {
  com.my = 0xFFFF;
  Params(kWin, 101, "COM4,115200,0,81,20");
  Run();
  EXPECT_EQ(com.my, 0xB2C3);
  EXPECT_TRUE(store.writes.empty());
}

TEST_F(Flow, ModemThatKeepsNoAddressIsTriedTenTimes) {
  com.my = 0xFFFF;
  com.acceptMy = false;
  Run();
  EXPECT_EQ(Count("WR"), 10u);
  EXPECT_TRUE(store.writes.empty());
  EXPECT_EQ(std::count(com.delays.begin(), com.delays.end(), 4.0), 10);
}

TEST_F(Flow, ModemWithAddressAndDevice101ChannelDoesNotReadCh) {
  Params(kWin, 101, "COM4,115200,0,81,20");
  Run();
  EXPECT_EQ(Count("CH"), 0u);
  EXPECT_TRUE(store.writes.empty());
}

TEST_F(Flow, ChannelTwelveOrSilentChUsesTheAddress) {
  com.my = 0x1234;
  com.ch = 12;
  Run();
  EXPECT_EQ(ChannelWritten(), 17);
}

TEST_F(Flow, SilentChUsesTheAddress) {
  com.my = 0x000F;
  com.answerCh = false;
  Run();
  EXPECT_EQ(Count("CH"), 10u);
  EXPECT_EQ(ChannelWritten(), 18);
}

TEST_F(Flow, OtherChannelIsWrittenAsItIs) {
  com.my = 0x1234;
  com.ch = 0x0F;
  Run();
  EXPECT_EQ(ChannelWritten(), 15);
}

TEST_F(Flow, MissingOrBadPortSkipsTheModem) {
  Params(kWin, 101, "COM100,115200,0,81");
  Run();
  EXPECT_TRUE(com.written.empty());
  EXPECT_EQ(com.settings, "");
  EXPECT_TRUE(store.writes.empty());
  EXPECT_TRUE(panel.displayed);
}

TEST_F(Flow, PortThatDoesNotOpenSkipsTheModem) {
  com.openResult = -1;
  Run();
  EXPECT_TRUE(com.written.empty());
  EXPECT_TRUE(store.writes.empty());
  EXPECT_TRUE(panel.displayed);
}

TEST_F(Flow, RuntimeOrPanelFailureGivesMinusOneAndDoesNothing) {
  panel.failInit = true;
  EXPECT_EQ(Run(), -1);
  panel.failInit = false;
  panel.failLoad = true;
  EXPECT_EQ(Run(), -1);
  EXPECT_TRUE(com.written.empty());
  EXPECT_TRUE(store.writes.empty());
  EXPECT_FALSE(panel.displayed);
}

TEST(SerialNumber, ValidRangeAndMessage) {
  EXPECT_TRUE(IsValidSerialNumber(1));
  EXPECT_TRUE(IsValidSerialNumber(12345));
  EXPECT_TRUE(IsValidSerialNumber(65533));
  EXPECT_FALSE(IsValidSerialNumber(0));
  EXPECT_FALSE(IsValidSerialNumber(65534));
  EXPECT_FALSE(IsValidSerialNumber(-1));
  EXPECT_FALSE(IsValidSerialNumber(INT32_MIN));
  EXPECT_FALSE(IsValidSerialNumber(INT32_MAX));
  char text[400];
  FormatInvalidSerialText(-1, text, sizeof text);
  EXPECT_STREQ(text,
               "You entered: -1, which is not a valid serial number.\n\nPlease make sure that "
               "the serial number entered matches the last\n5 digits of the device serial "
               "number, and try again.");
  char small[8];
  EXPECT_EQ(FormatInvalidSerialText(65534, small, sizeof small), 7u);
  EXPECT_STREQ(small, "You ent");
}

TEST_F(Flow, OkWritesTheAddressIntoBothCopiesWindowsFirst) {
  store.env["LOCALAPPDATA"] = "/home/u/.local";
  store.Set(kVirtual, "VendorInformation", "Devices", "101");
  Params(kVirtual, 101, "COM4,115200,0,81,14");
  Params(kWin, 101, "COM4,115200,0,81,20");
  Params(kWin, 102, "COM4,115200,0,81,20");
  store.sep = '/';
  panel.TypeAndOk(12345);
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(store.writes.size(), 3u);
  EXPECT_EQ(store.writes[0].file, kWin);
  EXPECT_EQ(store.writes[1].file, kWin);
  EXPECT_EQ(store.writes[2].file, kVirtual);
  EXPECT_EQ(ParamsOf(kWin, 101), "COM4,115200,12345,81,20");
  EXPECT_EQ(ParamsOf(kWin, 102), "COM4,115200,12345,81,20");
  EXPECT_EQ(ParamsOf(kVirtual, 101), "COM4,115200,12345,81,14");
  EXPECT_TRUE(panel.quit);
  EXPECT_FALSE(panel.scriptExhausted);
  EXPECT_EQ(panel.dimmedHistory, std::vector<int>{0});
}

TEST_F(Flow, InvalidNumbersShowTheMessageAndWriteNothing) {
  Params(kWin, 101, "COM4,115200,0,81,20");
  panel.TypeAndPressOk(0);
  panel.TypeAndPressOk(65534);
  panel.TypeAndPressOk(-7);
  panel.Add({ScriptedPanel::Action::Close, 0, 0});
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(panel.popups.size(), 3u);
  EXPECT_EQ(panel.popups[0].title, "Invalid Serial Number");
  EXPECT_EQ(panel.popups[2].text.rfind("You entered: -7, which", 0), 0u);
  EXPECT_NE(panel.popups[1].text.find("65534"), std::string::npos);
  EXPECT_TRUE(store.writes.empty());
  EXPECT_FALSE(panel.scriptExhausted);  // closed by the script's own close
}

TEST_F(Flow, CommittedInvalidNumberDimsOkThenAValidOneWrites) {
  Params(kWin, 101, "COM4,115200,0,81,20");
  panel.TypeAndOk(70000);   // dims OK; the press is not delivered
  panel.TypeAndOk(65533);
  Run();
  EXPECT_EQ(panel.dimmedHistory, (std::vector<int>{1, 0}));
  EXPECT_EQ(panel.ignoredPresses, 1u);
  EXPECT_TRUE(panel.popups.empty());
  EXPECT_EQ(ParamsOf(kWin, 101), "COM4,115200,65533,81,20");
}

TEST_F(Flow, ClosingThePanelWritesNoAddress) {
  Params(kWin, 101, "COM4,115200,0,81,20");
  panel.Add({ScriptedPanel::Action::Type, PANEL_SERIAL_NUMBER, 12345});
  panel.Add({ScriptedPanel::Action::Close, 0, 0});
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(panel.quit);
  EXPECT_TRUE(store.writes.empty());
}

TEST_F(Flow, CallbacksIgnoreOtherEvents) {
  s.giPanelHandle = 1;
  EXPECT_EQ(Change(1, PANEL_CHANGE, 99, &s, 0, 0), 0);
  EXPECT_EQ(PanelCB(1, EVENT_COMMIT, &s, 0, 0), 0);
  EXPECT_EQ(serial_number(1, PANEL_SERIAL_NUMBER, EVENT_CLOSE, &s, 0, 0), 0);
  EXPECT_FALSE(panel.quit);
  EXPECT_TRUE(panel.dimmedHistory.empty());
  EXPECT_TRUE(store.writes.empty());
}

}  // namespace
}  // namespace qv::setup
