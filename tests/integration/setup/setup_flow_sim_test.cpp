// The whole setup flow with the scripted panel, the platform serial port and profile files,
// against the simulator's modem on a pseudo-terminal.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "panel.h"
#include "panel_scripted.h"
#include "qvlink/platform/serial_port.h"
#include "qvlink/sim/simulator.h"
#include "report.h"
#include "settings_store.h"
#include "setup_flow.h"

namespace qv::setup {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Spit(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << text;
}

const char* kIni =
    "; QvLink RP1210 configuration\r\n"
    "[VendorInformation]\r\n"
    "Name=Morvane QvLink\r\n"
    "Devices=101,102\r\n"
    "\r\n"
    "[DeviceInformation101]\r\n"
    "DeviceID=101\r\n"
    "DeviceParams=COM5,115200,0,81\r\n"
    "DeviceName=QvLink\r\n"
    "\r\n"
    "[DeviceInformation102]\r\n"
    "DeviceID=102\r\n"
    "DeviceParams=COM5,115200,0,81\r\n"
    "; keep me\r\n"
    "[ProtocolInformation1]\r\n"
    "ProtocolString=J1939\r\n";

// kIni with both devices' DeviceParams changed to the given value, and nothing else.
std::string IniWith(const std::string& params) {
  std::string expected = kIni;
  for (size_t p; (p = expected.find("COM5,115200,0,81\r")) != std::string::npos;)
    expected.replace(p, 17, params + "\r");
  return expected;
}

struct SaidLines final : Reporter {
  std::vector<std::string> progress, failures;
  void Progress(const char* line) override { progress.emplace_back(line); }
  void Failure(const char* line) override { failures.emplace_back(line); }
};

struct SetupOverPty : ::testing::Test {
  fs::path dir;
  fs::path ini, virtualIni;
  sim::SimConfig cfg;
  std::unique_ptr<sim::Simulator> simulator;
  ScriptedPanel panel;
  SetupState s;

  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("qv-setup-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
           "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "ports");
    fs::create_directories(dir / "profile");
    ini = dir / "profile" / "QV121032.ini";
    virtualIni = dir / "local" / "VirtualStore" / "Windows" / "QV121032.ini";
    Spit(ini, kIni);
    ::setenv("QV_PORT_DIR", (dir / "ports").c_str(), 1);
    ::setenv("QV_PROFILE_DIR", (dir / "profile").c_str(), 1);
    ::unsetenv("LOCALAPPDATA");
    Wire(panel);
  }
  // A fresh program state over the platform's port and profile files.
  void Wire(Panel& p, Reporter* r = nullptr) {
    s = SetupState{};
    s.panel = &p;
    s.com = &PlatformComLink();
    s.store = &PlatformSettingsStore();
    s.report = r;
  }
  void TearDown() override {
    simulator.reset();
    fs::remove_all(dir);
  }
  void StartModem() {
    simulator = std::make_unique<sim::Simulator>(cfg);
    ASSERT_TRUE(simulator->start());
    ASSERT_TRUE(simulator->linkPort((dir / "ports").string(), "COM5"));
  }
  void WithVirtualCopy(const std::string& text) {
    Spit(virtualIni, text);
    ::setenv("LOCALAPPDATA", (dir / "local").c_str(), 1);
  }
  std::vector<std::string> Commands() {
    std::vector<std::string> out;
    for (const auto& c : simulator->atCommands()) out.push_back(c.command);
    return out;
  }
};

TEST_F(SetupOverPty, ModemWithoutAddressGetsOneAndTheSerialGoesToBothCopies) {
  cfg.modemMy = 0xFFFF;
  cfg.modemSerial = 0x0013A20040A1B2C3ULL;  // MY 0xB2C3, channel (3 mod 10) + 13 = 16
  StartModem();
  WithVirtualCopy(
      "[VendorInformation]\nDevices=101\n[DeviceInformation101]\nDeviceParams=COM5,115200,7,81,20\n");
  panel.TypeAndOk("12345");

  ASSERT_EQ(RunSetup(s, 0, nullptr), 0);

  sim::ModemState m = simulator->modemState();
  EXPECT_EQ(m.my, 0xB2C3);
  EXPECT_EQ(m.writes, 1u);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"SH", "SL", "MY", "MY", "WR", "MY"}));
  const auto atLog = simulator->atCommands();
  EXPECT_EQ(atLog[3].param, (sim::Bytes{0x00, 0x00, 0xB2, 0xC3}));
  EXPECT_EQ(atLog[3].frameId, 0x53);
  // Device 101 and 102 both, and nothing else of the file changed.
  EXPECT_EQ(Slurp(ini), IniWith("COM5,115200,12345,81,16"));
  // The per-user copy had a channel already on 101; it still receives the new one and the address.
  EXPECT_NE(Slurp(virtualIni).find("DeviceParams=COM5,115200,12345,81,16"), std::string::npos)
      << Slurp(virtualIni);
  EXPECT_FALSE(simulator->peerConnected());
}

// A port held by another program, then one that is gone, leaves the file and the line alone
// (a silent modem and the modem's own channel: the unit and console tests).
TEST_F(SetupOverPty, ABusyOrMissingPortTouchesNothing) {
  StartModem();
  platform::SerialPort holder;
  ASSERT_EQ(holder.open("COM5", platform::SerialConfig{}), platform::SerialOpenError::None);
  for (const char* failure : {"COM5 is in use by another program", "COM5: no such port"}) {
    ScriptedPanel second;
    SaidLines said;
    Wire(second, &said);
    ASSERT_EQ(RunSetup(s, 0, nullptr), kExitNoNumber);
    EXPECT_TRUE(second.displayed);
    EXPECT_EQ(Slurp(ini), kIni);
    ASSERT_EQ(said.failures.size(), 2u);
    EXPECT_EQ(said.failures[0], failure);
    if (simulator) {
      EXPECT_TRUE(simulator->frames().empty());
    }
    holder.close();
    simulator.reset();
    fs::remove(dir / "ports" / "COM5");
  }
}

}  // namespace
}  // namespace qv::setup
