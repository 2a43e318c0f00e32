#include <gtest/gtest.h>

#include "device_settings_file.h"
#include "fakes.h"
#include "setup_flow.h"

namespace qv::setup {
namespace {

using test::kVirtual;
using test::kWin;
using test::Rig;

struct Flow : ::testing::Test, Rig {
  Flow() : Rig(true) {}
};

// One row per line of the channel outcome: what the modem does, whether device 101 has a
// channel, what is written, which commands went out and what the person is told.
TEST_F(Flow, ChannelOutcome) {
  const struct {
    const char* what;
    test::Modem modem;
    bool device101HasChannel;  // 20
    const char* params102;     // as written to device 102
    size_t sh, my_, chQueries, wr;
    const char* said;    // a progress line
    const char* failed;  // the start-up's failure line, "" for none
  } rows[] = {
      {"no modem, no channel", {.present = false}, false, "COM4,115200,0,81,13", 10, 0, 0, 0,
       "Radio channel 13 recorded for devices 101, 102 in C:\\Windows\\QV121032.ini.",
       "no answer from a radio modem on COM4"},
      {"no modem, device 101 has a channel", {.present = false}, true, "COM4,115200,0,81", 10, 0, 0, 0,
       "Device 101 already has radio channel 20", "no answer from a radio modem on COM4"},
      {"no address and SL 0", {.my = 0xFFFF, .sl = 0}, false, "COM4,115200,0,81", 1, 1, 0, 0, "",
       "the radio modem has no address and gave no serial number to make one from"},
      {"no address, one is set", {.my = 0xFFFF}, false, "COM4,115200,0,81,16", 1, 3, 0, 1,
       "Radio modem address set to B2C3 and stored.", ""},
      {"no address, one is set, device 101 has a channel", {.my = 0xFFFF}, true, "COM4,115200,0,81", 1, 3, 0, 1,
       "Device 101 already has radio channel 20", ""},
      {"no address, the modem keeps none", {.my = 0xFFFF, .acceptMy = false}, false, "COM4,115200,0,81", 1, 21, 0,
       10, "No confirmation yet; trying again (10 of 10) ...", "the radio modem did not confirm its new address B2C3"},
      {"address, device 101 has a channel: CH not read", {}, true, "COM4,115200,0,81", 1, 1, 0, 0,
       "Radio modem address 1234.", ""},
      {"address, CH 12", {}, false, "COM4,115200,0,81,17", 1, 1, 1, 0, "Radio channel 17 recorded", ""},
      {"address, CH silent", {.my = 0x000F, .answerCh = false}, false, "COM4,115200,0,81,18", 1, 1, 10, 0,
       "Radio channel 18 recorded", "the radio modem did not tell its channel (CH); one is made from its address"},
      {"address, CH other", {.ch = 0x0F}, false, "COM4,115200,0,81,15", 1, 1, 1, 0, "Radio modem channel 15.", ""},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(c.what);
    Rig r(true);
    r.com.modem = c.modem;
    if (c.device101HasChannel) r.Params(kWin, 101, "COM4,115200,0,81,20");
    EXPECT_EQ(r.Launch(), kExitNoNumber);
    EXPECT_EQ(r.ParamsOf(kWin, 102), c.params102);
    EXPECT_EQ(r.store.writes.empty(), std::string(c.params102) == "COM4,115200,0,81");
    const auto commands = r.com.Commands();
    auto sent = [&](const char* cmd) { return static_cast<size_t>(std::count(commands.begin(), commands.end(), cmd)); };
    EXPECT_EQ(sent("SH"), c.sh);
    EXPECT_EQ(sent("SL"), c.modem.sl == 0 ? 10u : c.sh);  // an SL of 0 reads as no answer
    EXPECT_EQ(sent("MY"), c.my_);
    EXPECT_EQ(sent("CH"), c.chQueries);
    EXPECT_EQ(sent("WR"), c.wr);
    // Every progress line is said before the panel is shown, and the port is closed by then.
    EXPECT_EQ(r.report.progress.at(0), "Talking to the radio modem on COM4 ...");
    EXPECT_NE(r.Said().find(c.said), std::string::npos) << r.Said();
    const bool found = r.Said().find("Radio modem found: serial number 0013A20040A1B2C3.") != std::string::npos;
    EXPECT_EQ(found, c.modem.present && c.modem.sl != 0);
    // The failure line of the start-up, then the one of the panel closed without a number.
    ASSERT_EQ(r.report.failures.size(), c.failed[0] == '\0' ? 1u : 2u);
    EXPECT_EQ(r.report.failures.size() == 2 ? r.report.failures[0] : "", c.failed);
    EXPECT_EQ(r.com.openedPort, 4);
    EXPECT_EQ(r.com.settings, (std::vector<int>{115200, 0, 8, 1, 512, 512}));
    EXPECT_EQ(r.com.closes, 1);
    EXPECT_TRUE(r.panel.displayed);
    EXPECT_TRUE(r.panel.discarded);
  }
}

// Without a usable port nothing reaches the modem and no channel is written; the panel is
// still shown, and the reason is told in one line.
TEST_F(Flow, PortProblemSkipsTheModemAndSaysWhy) {
  const struct {
    const char* params101;  // nullptr: no INI file at all
    int openResult;
    const char* failed;
  } rows[] = {
      {"COM100,115200,0,81", 0,
       "device 101 in C:\\Windows\\QV121032.ini names no port COM1 to COM99 "
       "([DeviceInformation101] DeviceParams); the radio modem is not asked"},
      {"COM4,115200,0,81", kComOpenOther, "COM4 cannot be opened"},  // busy, absent: the console test
      {nullptr, 0, "no QV121032.ini at C:\\Windows\\QV121032.ini: nothing can be recorded"},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(c.failed);
    Rig r(c.params101 != nullptr);
    if (c.params101 != nullptr) r.Params(kWin, 101, c.params101);
    r.com.openResult = c.openResult;
    EXPECT_EQ(r.Launch(), kExitNoNumber);
    EXPECT_TRUE(r.com.written.empty());
    EXPECT_TRUE(r.store.writes.empty());
    EXPECT_TRUE(r.panel.displayed);
    ASSERT_FALSE(r.report.failures.empty());
    EXPECT_EQ(r.report.failures[0], c.failed);
  }
}

// --help says the usage, a wrong argument one line with exit 2; a run-time or panel that cannot
// start gives -1, silently. None of them touches anything.
TEST_F(Flow, HelpOneLineErrorOrNoPanelTouchNothing) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* failed;  // "" for the usage, nullptr for nothing said
    bool failInit = false, failLoad = false;
  } rows[] = {
      {{"--help"}, 0, ""},
      {{"--bogus"}, kExitUsage, "unknown argument '--bogus' (--help shows the usage)"},
      {{"--help", "COM5"}, kExitUsage, "unknown argument 'COM5' (--help shows the usage)"},
      {{"a\nb\x1b"}, kExitUsage, "unknown argument 'a?b?' (--help shows the usage)"},
      {{std::string(60, 'x')}, kExitUsage,
       "unknown argument 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...' (--help shows the usage)"},
      {{}, -1, nullptr, true, false},
      {{}, -1, nullptr, false, true},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(c.failed != nullptr ? c.failed : "no panel");
    Rig r(true);
    r.panel.failInit = c.failInit;
    r.panel.failLoad = c.failLoad;
    EXPECT_EQ(r.Launch(c.args), c.exitCode);
    if (c.exitCode == 0) {
      ASSERT_EQ(r.report.progress.size(), 1u);
      EXPECT_TRUE(r.report.failures.empty());
      EXPECT_EQ(r.report.progress[0].rfind("Usage: qvlink-setup [--help]\n", 0), 0u);
      EXPECT_NE(r.report.progress[0].find("C:\\Windows\\QV121032.ini"), std::string::npos);  // as resolved
    } else {
      EXPECT_TRUE(r.report.progress.empty());
      EXPECT_EQ(r.report.failures, c.failed ? std::vector<std::string>{c.failed} : std::vector<std::string>{});
    }
    EXPECT_TRUE(r.com.settings.empty());  // never opened
    EXPECT_TRUE(r.store.writes.empty());
    EXPECT_FALSE(r.panel.displayed);
  }
  char error[8];
  EXPECT_EQ(ParseArgs(0, nullptr, error, sizeof error), ArgsAction::Run);
}

// One entry pressed with Enter: a whole number 1 to 65533, blanks around it, is the address
// of every device; anything else is refused by the message naming it (a blank field is not
// judged). OK is dimmed over anything but a valid number.
TEST_F(Flow, EachEntryIsTakenOrRefused) {
  const struct {
    const char* text;
    int address;  // 0: not taken
    bool refused;
  } rows[] = {
      {" 65533\t", 65533, false}, {"+7", 7, false},          {"1", 1, false},          {"65534", 0, true},
      {"0", 0, true},             {"-1", 0, true},           {"-2147483648", 0, true}, {"2147483647", 0, true},
      {"2147483648", 0, true},    {"4321abc", 0, true},      {"-", 0, true},           {"", 0, false},
      {"4294979641", 0, true}, {"18446744073709563961", 0, true},  // 2^32 and 2^64 + 12345, never 12345
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(c.text);
    Rig r(true);
    r.Params(kWin, 101, "COM4,115200,0,81,20");
    r.panel.TypeAndEnter(c.text);
    EXPECT_EQ(r.Launch(), c.address != 0 ? kExitWritten : kExitNoNumber);
    const std::string address = std::to_string(c.address);
    EXPECT_EQ(r.ParamsOf(kWin, 101), "COM4,115200," + address + ",81,20");
    EXPECT_EQ(r.ParamsOf(kWin, 102), "COM4,115200," + address + ",81");
    EXPECT_EQ(r.panel.dimmedHistory, std::vector<int>{c.address != 0 ? 0 : 1});
    ASSERT_EQ(r.panel.popups.size(), c.refused ? 1u : 0u);
    if (c.refused) {
      EXPECT_EQ(r.panel.popups[0].title, "Invalid Serial Number");
      EXPECT_EQ(r.panel.popups[0].text.rfind("You entered: " + std::string(c.text) + ", which", 0), 0u);
    }
  }
  char text[400];
  FormatInvalidSerialText("-1", text, sizeof text);
  EXPECT_STREQ(text,
               "You entered: -1, which is not a valid serial number.\n\nPlease make sure that "
               "the serial number entered matches the last\n5 digits of the device serial "
               "number, and try again.");
  char small[8];
  EXPECT_EQ(FormatInvalidSerialText("65534", small, sizeof small), 7u);
  EXPECT_STREQ(small, "You ent");
}

// Both copies take the address, the Windows copy first, each keeping its other fields
// (fields apart by blanks come back apart by commas).
TEST_F(Flow, OkWritesTheAddressIntoBothCopiesWindowsFirstAndSaysSo) {
  VirtualCopy("COM4,115200,0,81,14");
  Params(kWin, 101, "COM4,115200,0,81,20");
  Params(kWin, 102, "COM4 115200 0 81 20");
  panel.TypeAndOk("12345");
  EXPECT_EQ(Launch(), kExitWritten);
  ASSERT_EQ(store.writes.size(), 3u);
  EXPECT_EQ(store.writes[0].file, kWin);
  EXPECT_EQ(store.writes[0].section, "DeviceInformation101");
  EXPECT_EQ(store.writes[1].section, "DeviceInformation102");
  EXPECT_EQ(store.writes[1].file, kWin);
  EXPECT_EQ(store.writes[2].file, kVirtual);
  EXPECT_EQ(ParamsOf(kWin, 101), "COM4,115200,12345,81,20");
  EXPECT_EQ(ParamsOf(kWin, 102), "COM4,115200,12345,81,20");
  EXPECT_EQ(ParamsOf(kVirtual, 101), "COM4,115200,12345,81,14");
  EXPECT_TRUE(panel.quit);
  EXPECT_FALSE(panel.scriptExhausted);
  EXPECT_EQ(panel.dimmedHistory, std::vector<int>{0});
  const std::vector<std::string> tail(report.progress.end() - 2, report.progress.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "Address 12345 written for devices 101, 102 in C:\\Windows\\QV121032.ini "
                      "(radio channel 20).",
                      std::string("Address 12345 written for device 101 in ") + kVirtual +
                          " (radio channel 14)."}));
  EXPECT_TRUE(report.failures.empty());
}

// A valid number taken, but the address cannot be written everywhere: the exit code says so
// and each copy's reason is one line.
TEST_F(Flow, AddressNotWrittenIsToldAndGivesItsExitCode) {
  const struct {
    bool windowsReadOnly, virtualReadOnly;
    const char* devices;    // of the Windows copy
    const char* params102;  // of the Windows copy
    int exitCode;
    const char* failed;  // the last failure line
  } rows[] = {
      {true, false, "101,102", "COM4,115200,0,81,20", kExitNotWritten,
       "cannot write C:\\Windows\\QV121032.ini (read-only, or no permission): address not written there"},
      {false, true, "101,102", "COM4,115200,0,81,20", kExitNotWritten,
       "cannot write /home/u/.local/VirtualStore/Windows/QV121032.ini (read-only, or no permission): address not "
       "written there"},
      {false, false, "", "COM4,115200,0,81,20", kExitNotWritten,
       "C:\\Windows\\QV121032.ini lists no devices ([VendorInformation] Devices): address not written"},
      {false, false, "101,102", "COM4", kExitWritten,
       "device 102 in C:\\Windows\\QV121032.ini: no DeviceParams that can take the address; left as it is"},
  };
  for (const auto& c : rows) {
    SCOPED_TRACE(c.failed);
    Rig r;
    r.VirtualCopy("COM4,115200,0,81,20");
    r.Devices(kWin, c.devices);
    r.Params(kWin, 101, "COM4,115200,0,81,20");
    r.Params(kWin, 102, c.params102);
    if (c.windowsReadOnly) r.store.readOnly.push_back(kWin);
    if (c.virtualReadOnly) r.store.readOnly.push_back(kVirtual);
    r.panel.TypeAndOk("4321");
    EXPECT_EQ(r.Launch(), c.exitCode);
    ASSERT_FALSE(r.report.failures.empty());
    EXPECT_EQ(r.report.failures.back(), c.failed);
    EXPECT_TRUE(r.panel.quit);
  }
}

TEST_F(Flow, ClosingThePanelWritesNoAddressAndExitsThree) {
  Params(kWin, 101, "COM4,115200,0,81,20");
  panel.Add({ScriptedPanel::Action::Type, PANEL_SERIAL_NUMBER, "12345"});
  panel.Add({ScriptedPanel::Action::Close, 0, {}});
  EXPECT_EQ(Launch(), kExitNoNumber);
  EXPECT_TRUE(panel.quit);
  EXPECT_TRUE(store.writes.empty());
  EXPECT_EQ(report.failures,
            std::vector<std::string>{
                "ended without a valid serial number: the adapter's address was not written"});
}

}  // namespace
}  // namespace qv::setup
