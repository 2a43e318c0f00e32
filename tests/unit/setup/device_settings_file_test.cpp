#include <gtest/gtest.h>

#include "device_settings_file.h"
#include "fakes.h"

namespace qv::setup {
namespace {

using test::FakeStore;

constexpr const char* kWin = "QV121032.ini";
constexpr const char* kVirtual = "C:\\Users\\u\\AppData\\Local\\VirtualStore\\Windows\\QV121032.ini";

struct SettingsFile : ::testing::Test {
  FakeStore store;
  SetupState s;
  void SetUp() override { s.store = &store; }
  void Devices(const char* file, const char* list) { store.Set(file, "VendorInformation", "Devices", list); }
  void Params(const char* file, int device, const std::string& v) {
    store.Set(file, "DeviceInformation" + std::to_string(device), "DeviceParams", v);
  }
  std::string ParamsOf(const char* file, int device) {
    return store.Get(file, "DeviceInformation" + std::to_string(device), "DeviceParams");
  }
  void WithVirtualCopy() {
    store.env["LOCALAPPDATA"] = "C:\\Users\\u\\AppData\\Local";
    Devices(kVirtual, "101");
    Params(kVirtual, 101, "COM4,115200,0,81");
  }
};

TEST(ScanDeviceParams, CommasOrSpacesFourOrFiveFields) {
  DeviceParams p;
  ASSERT_TRUE(ScanDeviceParams("COM4,115200,0,81,15", p));
  EXPECT_STREQ(p.portName, "COM4");
  EXPECT_EQ(p.scanned, 5);
  EXPECT_EQ(p.field[0], 115200u);
  EXPECT_EQ(p.field[3], 15u);
  ASSERT_TRUE(ScanDeviceParams("COM4 115200 0 81 15", p));
  EXPECT_EQ(p.scanned, 5);
  ASSERT_TRUE(ScanDeviceParams("COM4,115200,0,81", p));
  EXPECT_EQ(p.scanned, 4);
  ASSERT_TRUE(ScanDeviceParams("COM4,115200,x,81", p));
  EXPECT_EQ(p.scanned, 2);
  ASSERT_TRUE(ScanDeviceParams("COM4,-1,99999999999,81", p));
  EXPECT_EQ(p.field[0], 0xFFFFFFFFu);  // as %u takes a minus sign
  EXPECT_EQ(p.field[1], 0xFFFFFFFFu);  // saturated
  EXPECT_FALSE(ScanDeviceParams("COM4567890123456789012345678901234,1,2,3", p));
  EXPECT_EQ(p.scanned, 0);
}

TEST(SplitDeviceList, CutsAtCommasAndSpacesWithEmptyPiecesAsZero) {
  int d[kMaxDevices];
  ASSERT_EQ(SplitDeviceList("101 , 102", d, kMaxDevices), 4);
  EXPECT_EQ(d[0], 101);
  EXPECT_EQ(d[1], 0);
  EXPECT_EQ(d[2], 0);
  EXPECT_EQ(d[3], 102);
  ASSERT_EQ(SplitDeviceList("101,102", d, kMaxDevices), 2);
  EXPECT_EQ(d[1], 102);
  ASSERT_EQ(SplitDeviceList("101,", d, kMaxDevices), 1);
  // Overlong piece: refused as a device, the others stay.
  ASSERT_EQ(SplitDeviceList("101,12345678901234567890123456789012,102", d, kMaxDevices), 3);
  EXPECT_EQ(d[1], -1);
  EXPECT_EQ(d[2], 102);
  std::string list = "1";
  for (int i = 2; i <= 99; ++i) list += "," + std::to_string(i);
  EXPECT_EQ(SplitDeviceList(list.c_str(), d, kMaxDevices), 99);
  list += ",100";
  EXPECT_EQ(SplitDeviceList(list.c_str(), d, kMaxDevices), -1);
}

// The address keeps four or five fields; the channel adds or replaces the fifth.
TEST_F(SettingsFile, AddressAndChannelWritesKeepTheOtherFields) {
  DecideIniCopies(s);
  Devices(kWin, "101 102");
  Params(kWin, 101, "COM4,115200,0,81");
  Params(kWin, 102, "COM4 115200 0 81 15");
  ChangeAddressOfListedDevices(s, 4321);
  EXPECT_EQ(ParamsOf(kWin, 101), "COM4,115200,4321,81");
  EXPECT_EQ(ParamsOf(kWin, 102), "COM4,115200,4321,81,15");
  ASSERT_EQ(store.writes.size(), 2u);
  EXPECT_EQ(store.writes[0].section, "DeviceInformation101");
  EXPECT_EQ(store.writes[1].section, "DeviceInformation102");
  EXPECT_EQ(SetIniCH(s, 17), 1);
  EXPECT_EQ(ParamsOf(kWin, 101), "COM4,115200,4321,81,17");
  EXPECT_EQ(ParamsOf(kWin, 102), "COM4,115200,4321,81,17");
}

TEST_F(SettingsFile, ValuesThatCannotBeRewrittenAreLeftUntouched) {
  PointAtWindowsCopy(s);
  Devices(kWin, "101,102,103,104,0");
  Params(kWin, 101, "COM4,115200");                                     // three fields short
  Params(kWin, 102, "COM4567890123456789012345678901234,115200,0,81");  // port name too long
  Params(kWin, 103, "COM4,115200,0,81," + std::string(600, '7'));      // cut by the read
  // 104 has no section; 0 neither
  ChangeAddressOfListedDevices(s, 9);
  SetIniCH(s, 14);
  EXPECT_TRUE(store.writes.empty());
  EXPECT_EQ(ParamsOf(kWin, 101), "COM4,115200");
}

TEST_F(SettingsFile, OverlongDeviceListWritesNothing) {
  PointAtWindowsCopy(s);
  std::string list = "101";
  for (int i = 0; i < 99; ++i) list += ",101";
  Devices(kWin, list.c_str());
  Params(kWin, 101, "COM4,115200,0,81");
  ChangeAddressOfListedDevices(s, 9);
  EXPECT_TRUE(store.writes.empty());
}

TEST_F(SettingsFile, VirtualStoreCopyUsedOnlyWhenItListsDevices) {
  DecideIniCopies(s);
  EXPECT_EQ(s.IsVirtualFile, 0);
  EXPECT_STREQ(s.WorkingFilePath, kWin);

  store.env["LOCALAPPDATA"] = "C:\\Users\\u\\AppData\\Local";
  DecideIniCopies(s);
  EXPECT_STREQ(s.VirtualFilePath, kVirtual);
  EXPECT_EQ(s.IsVirtualFile, 0);  // no Devices there

  Devices(kVirtual, "101");
  DecideIniCopies(s);
  EXPECT_EQ(s.IsVirtualFile, 1);
  EXPECT_STREQ(s.WorkingFilePath, kWin);
}

TEST_F(SettingsFile, OverlongLocalAppDataIsNotUsed) {
  store.env["LOCALAPPDATA"] = std::string(480, 'a');
  Devices((std::string(480, 'a') + "\\VirtualStore\\Windows\\QV121032.ini").c_str(), "101");
  DecideIniCopies(s);
  EXPECT_EQ(s.IsVirtualFile, 0);
  EXPECT_STREQ(s.VirtualFilePath, "");
}

TEST_F(SettingsFile, BothCopiesWrittenWindowsCopyFirst) {
  WithVirtualCopy();
  Devices(kWin, "101");
  Params(kWin, 101, "COM4,115200,0,81");
  DecideIniCopies(s);
  SetIniCH(s, 17);
  ASSERT_EQ(store.writes.size(), 2u);
  EXPECT_EQ(store.writes[0].file, kWin);
  EXPECT_EQ(store.writes[1].file, kVirtual);
  EXPECT_EQ(ParamsOf(kVirtual, 101), "COM4,115200,0,81,17");
  EXPECT_STREQ(s.WorkingFilePath, kVirtual);  // stays at the copy last used
}

TEST_F(SettingsFile, PortNumberAndChannelOfDevice101) {
  PointAtWindowsCopy(s);
  EXPECT_EQ(Get_COM(s, 101), 0);
  EXPECT_EQ(Read_Device_Channel(s, 101), 0);
  const std::pair<const char*, int> ports[] = {
      {"COM4,115200,0,81", 4}, {"COM12,115200,0,81", 12}, {"COM99,1,2,3", 99},
      {"COM,1,2,3", 0},        {"CO,1,2,3", 0},           {"COM100,1,2,3", 0},
      {"COM300,1,2,3", 0},     {"COM0,1,2,3", 0},         {"COM-4,1,2,3", 0},
      {"COMx,1,2,3", 0}};
  for (const auto& [value, port] : ports) {
    Params(kWin, 101, value);
    EXPECT_EQ(Get_COM(s, 101), port) << value;
  }
  Params(kWin, 101, "COM4,115200,0,81");
  EXPECT_EQ(Read_Device_Channel(s, 101), 0);
  Params(kWin, 101, "COM4,115200,0,81,15");
  EXPECT_EQ(Read_Device_Channel(s, 101), 15);
  Params(kWin, 101, "COM4,115200,0,81,255");
  EXPECT_EQ(Read_Device_Channel(s, 101), -1);
}

}  // namespace
}  // namespace qv::setup
