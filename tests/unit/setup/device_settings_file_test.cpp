#include <gtest/gtest.h>

#include "device_settings_file.h"
#include "fakes.h"

namespace qv::setup {
namespace {

using test::kWin;

constexpr const char* kLocal = "C:\\Users\\u\\AppData\\Local";
constexpr const char* kVirtual = "C:\\Users\\u\\AppData\\Local\\VirtualStore\\Windows\\QV121032.ini";

struct SettingsFile : ::testing::Test, test::Rig {};

TEST(ScanDeviceParams, CommasOrSpacesFourOrFiveFields) {
  const struct {
    const char* text;
    int scanned;  // the port name counted; 0: refused
    std::vector<uint32_t> fields;
  } rows[] = {
      {"COM4,115200,0,81,15", 5, {115200, 0, 81, 15}},  // (blanks, four fields: the flow's rows)
      {"COM4,115200,x,81", 2, {115200}},
      {"COM4,-1,99999999999,81", 4, {0xFFFFFFFF, 0xFFFFFFFF, 81}},  // %u takes a minus sign; saturated
      {"COM4567890123456789012345678901234,1,2,3", 0, {}},
  };
  for (const auto& r : rows) {
    DeviceParams p;
    ASSERT_EQ(ScanDeviceParams(r.text, p), r.scanned != 0) << r.text;
    EXPECT_EQ(p.scanned, r.scanned) << r.text;
    EXPECT_STREQ(p.portName, r.scanned != 0 ? "COM4" : "") << r.text;
    EXPECT_EQ(std::vector<uint32_t>(p.field, p.field + r.fields.size()), r.fields) << r.text;
  }
}

TEST(SplitDeviceList, CutsAtCommasAndSpacesWithEmptyPiecesAsZero) {
  std::string ninetyNine = "1";
  for (int i = 2; i <= 99; ++i) ninetyNine += "," + std::to_string(i);
  const struct {
    std::string list;
    int count;
    std::vector<int> first;
  } rows[] = {
      {"101 , 102", 4, {101, 0, 0, 102}},
      {"101,", 1, {101}},
      {"101,12345678901234567890123456789012,102", 3, {101, -1, 102}},  // an overlong piece is no device
      {ninetyNine, 99, {1, 2, 3}},
      {ninetyNine + ",100", -1, {}},
  };
  for (const auto& r : rows) {
    int d[kMaxDevices];
    ASSERT_EQ(SplitDeviceList(r.list.c_str(), d, kMaxDevices), r.count) << r.list;
    EXPECT_EQ(std::vector<int>(d, d + r.first.size()), r.first) << r.list;
  }
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
  // A list of more devices than are taken writes nothing at all.
  std::string list = "101";
  for (int i = 0; i < 99; ++i) list += ",101";
  Devices(kWin, list);
  Params(kWin, 101, "COM4,115200,0,81");
  ChangeAddressOfListedDevices(s, 9);
  EXPECT_TRUE(store.writes.empty());
}

// (A copy that lists devices is written: the flow's and the console test's runs.)
TEST_F(SettingsFile, VirtualStoreCopyUsedOnlyWhenItListsDevices) {
  store.env["LOCALAPPDATA"] = kLocal;
  DecideIniCopies(s);
  EXPECT_STREQ(s.VirtualFilePath, kVirtual);
  EXPECT_EQ(s.IsVirtualFile, 0);  // no Devices there
  // An overlong LOCALAPPDATA is not used.
  store.env["LOCALAPPDATA"] = std::string(480, 'a');
  Devices(std::string(480, 'a') + "\\VirtualStore\\Windows\\QV121032.ini", "101");
  DecideIniCopies(s);
  EXPECT_EQ(s.IsVirtualFile, 0);
  EXPECT_STREQ(s.VirtualFilePath, "");
}

TEST_F(SettingsFile, PortNumberAndChannelOfDevice101) {
  PointAtWindowsCopy(s);
  EXPECT_EQ(Read_Device_Channel(s, 101), 0);  // no file (a port without one: the flow's rows)
  // (A one-digit port and a channel: every flow test.)
  const std::pair<const char*, int> ports[] = {{"COM12,115200,0,81", 12}, {"COM99,1,2,3", 99}, {"COM,1,2,3", 0},
                                               {"COM100,1,2,3", 0},       {"COM0,1,2,3", 0},   {"COM-4,1,2,3", 0}};
  for (const auto& [value, port] : ports) {
    Params(kWin, 101, value);
    EXPECT_EQ(Get_COM(s, 101), port) << value;
  }
  Params(kWin, 101, "COM4,115200,0,81,255");
  EXPECT_EQ(Read_Device_Channel(s, 101), -1);
}

}  // namespace
}  // namespace qv::setup
