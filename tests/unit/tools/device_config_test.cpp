// QV121032.ini as the tool lists and checks it, through the platform's profile reader.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "device_config.h"
#include "qvlink/platform/profile.h"

namespace qv::tools {
namespace {

namespace fs = std::filesystem;

TEST(ParseIdList, CommaSeparatedDecimalOnly) {
  std::vector<int> ids;
  EXPECT_TRUE(ParseIdList("101,102,7", &ids));
  EXPECT_EQ(ids, (std::vector<int>{101, 102, 7}));
  for (const char* bad : {"", "101,", ",101", "101, 102", "10a", "0", "32768", "1,,2", "123456"})
    EXPECT_FALSE(ParseIdList(bad, &ids)) << bad;
}

class IniFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-tools-ini-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    setenv("QV_PROFILE_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QV_PROFILE_DIR");  // no other test of this program sets it
    fs::remove_all(dir_);
  }
  void Write(const std::string& text) { std::ofstream(dir_ / "QV121032.ini") << text; }
  fs::path dir_;
};

// (What is listed: qvlink devices' lines.) Listed devices and protocols without their section
// are the problems told.
TEST_F(IniFiles, InventoryTellsListedSectionsThatAreMissing) {
  Write("[VendorInformation]\nName=QvLink\nDevices=101,102\nProtocols=1,2\n"
        "[DeviceInformation101]\nDeviceParams=COM5,115200,12345,81,12\n"
        "[ProtocolInformation1]\nProtocolString=J1939\n[ProtocolInformation2]\nProtocolString=\n");
  const IniInventory inv = ReadInventory();
  ASSERT_TRUE(inv.fileFound);
  ASSERT_EQ(inv.devices.size(), 2u);
  EXPECT_FALSE(inv.devices[1].present);
  ASSERT_EQ(inv.protocols.size(), 2u);
  EXPECT_FALSE(inv.protocols[1].present);
  EXPECT_EQ(inv.problems, (std::vector<std::string>{
                              "device 102 is listed but [DeviceInformation102] has no DeviceParams value",
                              "protocol 2 is listed but [ProtocolInformation2] has no ProtocolString value"}));
}

// (A missing file and an unlisted device: qvlink's own tests, by their exact lines.)
TEST_F(IniFiles, BadListsAndDeviceChecks) {
  std::string why;
  int16_t device = 0;
  Write("[VendorInformation]\nDevices=101 102\n[DeviceInformation101]\nDeviceParams=\n[DeviceInformation7]\nDeviceParams=COM9,115200,1,81,12\n");
  EXPECT_EQ(ReadInventory().problems.front(), "[VendorInformation] Devices '101 102' is not a comma-separated id list");
  EXPECT_FALSE(DefaultDevice(&device, &why));
  EXPECT_FALSE(CheckDeviceConfigured(101, &why));
  EXPECT_EQ(why, "[DeviceInformation101] DeviceParams is empty in " + (dir_ / "QV121032.ini").string() +
                     ": run QvLink Setup to pair the adapter");
  EXPECT_TRUE(CheckDeviceConfigured(7, &why));
  EXPECT_EQ(DevicePort(7), "COM9");

  Write("[VendorInformation]\nDevices=7,101\n");
  ASSERT_TRUE(DefaultDevice(&device, &why));
  EXPECT_EQ(device, 7);
}

// The demo's INI: every listed device and protocol with its section (the keys the library
// needs: the demo run, which connects through it).
TEST_F(IniFiles, DemoIniTextListsEveryProtocolWithItsSection) {
  Write(DemoIniText(101, "COM5", 12345, 12));
  const IniInventory inv = ReadInventory();
  EXPECT_TRUE(inv.problems.empty()) << inv.problems.front();
  ASSERT_EQ(inv.devices.size(), 1u);
  EXPECT_EQ(inv.devices[0].params, "COM5,115200,12345,81,12");
  std::set<std::string> names;
  for (const auto& p : inv.protocols) names.insert(p.string);
  EXPECT_EQ(names, (std::set<std::string>{"J1939", "J1708", "CAN"}));
}

}  // namespace
}  // namespace qv::tools
