// QV121032.ini as the tool lists and checks it, through the platform's profile reader.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "device_config.h"

namespace qv::tools {
namespace {

namespace fs = std::filesystem;

TEST(ParseIdList, CommaSeparatedDecimalOnly) {
  std::vector<int> ids;
  EXPECT_TRUE(ParseIdList("101", &ids));
  EXPECT_EQ(ids, (std::vector<int>{101}));
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
    const char* old = getenv("QV_PROFILE_DIR");
    if (old) saved_ = old;
    setenv("QV_PROFILE_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (saved_.empty()) unsetenv("QV_PROFILE_DIR");
    else setenv("QV_PROFILE_DIR", saved_.c_str(), 1);
    fs::remove_all(dir_);
  }
  void Write(const std::string& text) { std::ofstream(dir_ / "QV121032.ini") << text; }
  fs::path dir_;
  std::string saved_;
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

// The demo's INI as a strict reader sees it (the rules of Python's configparser, strict=True):
// sections and keys unique, every key with a value, ASCII only; and as the tool's own reader
// sees it: every listed device and protocol with its section.
TEST_F(IniFiles, DemoIniTextPassesAStrictReader) {
  const std::string text = DemoIniText(101, "COM5", 12345, 12);
  std::map<std::string, std::map<std::string, std::string>> ini;
  std::string section;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    for (unsigned char ch : line) ASSERT_TRUE(ch >= 0x20 && ch < 0x7F) << line;
    if (line.empty()) continue;
    if (line.front() == '[') {
      ASSERT_EQ(line.back(), ']') << line;
      section = line.substr(1, line.size() - 2);
      ASSERT_FALSE(ini.count(section)) << "duplicate section " << section;
      ini[section];
      continue;
    }
    ASSERT_FALSE(section.empty()) << "key before any section: " << line;
    const size_t eq = line.find('=');
    ASSERT_NE(eq, std::string::npos) << line;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    ASSERT_FALSE(value.empty()) << section << " " << key << " has no value";
    ASSERT_FALSE(ini[section].count(key)) << "duplicate key " << section << " " << key;
    ini[section][key] = value;
  }
  for (const char* k : {"Name", "Version", "RP1210", "TimestampWeight", "AutoDetectCapable"})
    EXPECT_TRUE(ini["VendorInformation"].count(k)) << k;
  Write(text);
  const IniInventory inv = ReadInventory();
  EXPECT_TRUE(inv.problems.empty()) << inv.problems.front();
  ASSERT_EQ(inv.devices.size(), 1u);
  EXPECT_EQ(inv.devices[0].params, "COM5,115200,12345,81,12");
  std::set<std::string> names;
  for (const auto& p : inv.protocols) names.insert(p.string);
  EXPECT_EQ(names, (std::set<std::string>{"J1939", "J1708", "CAN"}));
  // The library's own keys: logging off, no filters.
  EXPECT_EQ(ini["Logging"]["LoggingType"], "0");
  EXPECT_EQ(ini["Filter"]["FilterType"], "0");
  EXPECT_EQ(ini["RFAck"]["Devices"], "101");
}

}  // namespace
}  // namespace qv::tools
