// bin/qvlink run as a user runs it: the demo end to end, monitor output and captures checked
// against frames the test puts on the simulated bus, and the connect error paths.
#include <gtest/gtest.h>
#include <stdio.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/rp1210_session.h"
#include "qvlink/platform/serial_port.h"
#include "qvlink/sim/simulator.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using qv::sim::Bytes;

using qv::test::BinDir;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// As many lines of output as texts, each line holding its text.
void ExpectLines(const std::string& text, const std::vector<std::string>& shown) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), shown.size()) << text;
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_NE(lines[i].find(shown[i]), std::string::npos) << lines[i];
}

// A J1939 frame put on the simulated bus by a test.
struct BusFrame {
  uint8_t prio;
  uint32_t pgn;
  uint8_t sa, da = 0xFF;
};

// One qvlink process with stdout and stderr in files, started by the shell, which it replaces;
// with `terminal`, stderr goes to a terminal of its own (script(1) runs the tool on a pty) whose
// screen is kept in the stderr file.
class Child {
 public:
  Child(const fs::path& dir, const std::vector<std::string>& args, bool terminal = false)
      : out_(dir / "out.txt"), err_(dir / "err.txt") {
    std::string line = "'" + (BinDir() / "qvlink").string() + "'";
    for (const auto& a : args) line += " '" + a + "'";
    line += " >'" + out_.string() + "'";
    const std::string err = "'" + err_.string() + "'";
    const std::string cmd = terminal ? "exec /usr/bin/script -qec \"" + line + "\" /dev/null >" + err + " 2>&1"
                                     : "exec " + line + " 2>" + err;
    const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    started_ = posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) == 0;
  }
  ~Child() {
    if (started_ && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool exited() {
    int status = 0;
    if (started_ && !exited_ && waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return !started_ || exited_;
  }
  // Waits for the exit, re-checking on the simulator's wake-ups or, without one, polling the
  // child; -1 when it did not end in time.
  int wait(const qv::sim::Simulator* sim, uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (sim != nullptr) sim->waitFor([&] { return exited(); }, timeoutMs);
    while (!exited() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return exited() ? code_ : -1;
  }
  std::string out() const { return Slurp(out_); }
  std::string err() const { return Slurp(err_); }

 private:
  fs::path out_, err_;
  pid_t pid_ = 0;
  bool started_ = false, exited_ = false;
  int code_ = -1;
};

constexpr char kIni[] =
    "[VendorInformation]\nName=QvLink\nDevices=101\nProtocols=1,2\n"
    "[DeviceInformation101]\nDeviceID=101\nDeviceName=QvLink\nDeviceDescription=test\n"
    "DeviceParams=COM5,115200,12345,81,12\n"
    "[DeviceInformation102]\nDeviceID=102\nDeviceParams=COM9,115200,12345,81,12\n"
    "[ProtocolInformation1]\nProtocolString=J1939\nProtocolDescription=SAE J1939\nProtocolSpeed=250\nDevices=101\n"
    "[ProtocolInformation2]\nProtocolString=J1708\n";

// The shared session rig, its simulator without bus traffic of its own and kIni in its INI.
class Qvlink : public qv::test::Rp1210Session {
 protected:
  qv::sim::SimConfig Config() override { return {}; }
  std::string IniExtra() override { return kIni; }
  void RestartSim() {
    sim_.reset();  // one simulator on COM5 at a time
    sim_ = std::make_unique<qv::sim::Simulator>(Config());
    ASSERT_TRUE(sim_->start());
    ASSERT_TRUE(sim_->linkPort(dir_.string(), "COM5"));
  }
  // Each frame with one data byte, its place in the list counted from 1.
  void Inject(const std::vector<BusFrame>& bus) {
    for (size_t k = 0; k < bus.size(); ++k)
      sim_->injectBusJ1939(bus[k].prio, bus[k].pgn, bus[k].sa, bus[k].da, {static_cast<uint8_t>(k + 1)});
  }
  // True once the client's start and its filter for the protocol (1 J1708, 2 J1939) have reached
  // the adapter.
  bool Ready(int protocol = 2) {
    return sim_->waitFor([&] {
      const auto a = sim_->adapterState();
      return a.started[protocol] && a.filterCommands[protocol] > 0;
    }, 10000);
  }
};

TEST_F(Qvlink, DemoRunsEndToEnd) {
  Child c(dir_, {"demo"});
  const int code = c.wait(nullptr, 90000);
  const std::string out = c.out();
  ASSERT_EQ(code, 0) << out << c.err();
  // Exit 0 says every step worked; the summary names the VIN and the simulated line rate.
  for (const char* said : {"  VIN         1QVLINK0SIM000042", "  line        simulated at 115200 baud 8N1"})
    EXPECT_NE(out.find(said), std::string::npos) << said << "\n" << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(received +J1939 (\d+) messages \(EEC1 (\d+), CCVS (\d+), DM1 (\d+)\), J1708 (\d+) \(MID 128: (\d+)\))")))
      << out;
  for (size_t i = 1; i < m.size(); ++i) EXPECT_GT(std::stoul(m[i].str()), 0u) << m[0];
  EXPECT_EQ(c.err(), "");
}

// The frames asked for reach the candump log on standard output ("--log -", and only the log)
// and the pcap file, which Wireshark's own reader decodes as J1939; a message the adapter
// reassembled is counted but never captured, as no single frame stands for it. In a terminal
// session the tool then tells how to read the pcap with its J1939 fields.
TEST_F(Qvlink, MonitorCapturesTheBusFramesAskedFor) {
  const fs::path cwdDash = fs::current_path() / "-";
  const bool dashBefore = fs::exists(cwdDash);
  const std::string pcapFile = (dir_ / "m.pcap").string();
  Child c(dir_, {"monitor", "--device", "101", "--pgn", "0xFF10", "--pgn", "65226", "--count", "4", "--log", "-",
                 "--pcap", pcapFile}, true);
  ASSERT_TRUE(Ready()) << c.err();
  sim_->injectBusJ1939(3, 61444, 0x00, 0xFF, {1, 2, 3, 4, 5, 6, 7, 8});  // not a PGN asked for
  ASSERT_TRUE(sim_->sendLongFromBus(qv::sim::LongKind::Bam, 65226, 0x00, 0xFF, Bytes(10, 0x04)));
  for (uint8_t k = 0; k < 3; ++k) sim_->injectBusJ1939(5, 0xFF10, 0x22, 0xFF, {k, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
  ASSERT_EQ(c.wait(sim_.get(), 10000), 0) << c.err();
  EXPECT_EQ(c.err(), "qvlink: monitoring J1939 on device 101\r\nqvlink: 4 messages, 1 filtered out, dropped 0\r\n"
                     "qvlink: to see the J1939 fields: tshark -r " + pcapFile + " -d can.subdissector,j1939\r\n");
  ExpectLines(c.out(), {") qv0 14FF1022#0011223344556677", ") qv0 14FF1022#0111223344556677",
                        ") qv0 14FF1022#0211223344556677"});
  // The pcap: its header and one record per frame logged (the bytes of each: the capture unit
  // test, and tshark below).
  EXPECT_EQ(Slurp(pcapFile).size(), 24u + 3 * 32u);
  EXPECT_EQ(fs::exists(cwdDash), dashBefore) << "a file named '-' was made";
  // Wireshark's own reader, with the J1939 decoding a user has to ask for (./dev test installs tshark).
  const std::string cmd = "tshark -r '" + pcapFile + "' -d can.subdissector,j1939 -V > '" +
                          (dir_ / "tshark.txt").string() + "' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << Slurp(dir_ / "tshark.txt");
  const std::string t = Slurp(dir_ / "tshark.txt");
  for (const char* decoded : {"J1939", "0x14ff1022", "65296"}) EXPECT_NE(t.find(decoded), std::string::npos) << t;
}

TEST_F(Qvlink, MonitorJ1708DecodesEngineMessages) {
  Child c(dir_, {"monitor", "--protocol", "J1708", "--mid", "128", "--count", "1"});
  ASSERT_TRUE(Ready(1)) << c.err();
  for (Bytes m : {Bytes{0x88, 84, 10}, Bytes{128, 190, 0x40, 0x1F, 84, 0x1F}}) {  // another MID, then the engine
    m.push_back(qv::sim::j1708Checksum(m.data(), m.size()));
    sim_->injectBusJ1708(m);
  }
  ASSERT_EQ(c.wait(sim_.get(), 10000), 0) << c.err();
  EXPECT_TRUE(std::regex_match(c.out(), std::regex(R"(^\(\d+\.\d{6}\) MID 128  \[5\] BE 40 1F 54 1F  engine 2000\.0 rpm, road 25\.0 km/h\n$)")))
      << c.out();
}

// The adapter's port goes away under a running monitor: it says so and ends with its link code.
TEST_F(Qvlink, MonitorSaysLinkLostWhenThePortGoesAway) {
  Child c(dir_, {"monitor", "--seconds", "60"});
  ASSERT_TRUE(Ready()) << c.err();
  sim_.reset();  // the pty hangs up, as a pulled USB serial adapter does
  ASSERT_EQ(c.wait(nullptr, 5000), 4) << c.err();
  EXPECT_NE(c.err().find("qvlink: link lost (ERR_HARDWARE_NOT_RESPONDING): the adapter or its port went away"),
            std::string::npos)
      << c.err();
}

TEST_F(Qvlink, RequestAndLongSendThroughTheAdapter) {
  Child r(dir_, {"request", "--pgn", "65260", "--dest", "0"});
  ASSERT_EQ(r.wait(sim_.get(), 15000), 0) << r.err();
  // The VIN came as a BAM session: printed as what it is, not as a frame that never was.
  EXPECT_TRUE(std::regex_match(r.out(), std::regex(R"(^\(\d+\.\d{6}\) PGN 65260 from 00, 18 bytes, reassembled  31 51 56 4C 49 4E 4B 30 53 49 4D 30 30 30 30 34 32 2A  VIN 1QVLINK0SIM000042\n$)")))
      << r.out();
  Child s(dir_, {"send", "--pgn", "0xEF00", "--dest", "0", "--priority", "6", std::string(200, 'A')});
  ASSERT_EQ(s.wait(sim_.get(), 15000), 0) << s.err();
  EXPECT_NE(s.out().find("sent 100 bytes"), std::string::npos) << s.out();
  const auto longs = sim_->longFromPc();
  ASSERT_EQ(longs.size(), 1u);
  EXPECT_TRUE(longs[0].complete);
  EXPECT_FALSE(longs[0].bam);
  EXPECT_EQ(longs[0].pgn, 0xEF00u);
  EXPECT_EQ(longs[0].sa, 0xF9);
  EXPECT_EQ(longs[0].da, 0x00);
  EXPECT_EQ(longs[0].data, Bytes(100, 0xAA));
}

// Each outcome of a command: its exit code, what it prints, and the one line on stderr that
// says what went wrong, then what to check (every parser message is in the parser's unit tests).
// Each send as the far side sees it: a CAN or J1708 message as the adapter's transmit request
// (code, message type 0x14, length, the bytes), a J1939 frame by the identifier it went out
// with, repeated at the interval asked.
TEST_F(Qvlink, CommandsGiveTheirExitCodeOutputAndBytesOnTheWire) {
  const std::string ini = (dir_ / "QV121032.ini").string();
  const std::string text = Slurp(ini);  // put back after each row
  enum Fault { None, NoIni, PortHeld, ModemSilent, AdapterSilent };
  const std::string noIni = "QV121032.ini not found at " + ini + ": ";
  const struct {
    std::vector<std::string> args;
    Fault fault;
    int code;
    std::vector<std::string> out;
    std::string err;  // what went wrong: the start of the line
    Bytes rf = {}, busId = {};  // a transmit request the adapter got; the identifier of bus frames
    size_t times = 0;           // bus frames sent, with data 01 to 08
  } rows[] = {
      {{"status"}, None, 0, {"device 101, port COM5, client 1 (J1939)", "J1939 0x01 (1 clients)"}, ""},
      {{"version"}, None, 0, {"QV121032 version 176.a, RP1210 API 2.0"}, ""},
      {{"devices"}, None, 0,
       {"QvLink (" + ini + ")\n", "  101   QvLink  test  [COM5,115200,12345,81,12]\n",
        "  1     J1939    SAE J1939, 250, devices 101\n", "  2     J1708"}, ""},
      {{"send", "--help"}, None, 0, {"usage: qvlink send"}, ""},
      {{"monitor", "--count", "1"}, NoIni, 3, {}, noIni},
      {{"devices"}, NoIni, 3, {}, noIni},
      {{"status", "--device", "7"}, None, 3, {}, "device 7 is not in " + ini + " (no [DeviceInformation7] DeviceParams"},
      {{"send", "--pgn", "0xEF12", "--dest", "5", "01"}, None, 2, {}, "send: PGN 61202 (0xEF12) is peer-to-peer"},
      {{"status", "--device", "102"}, None, 4, {}, "connect failed (ERR_INVALID_DEVICE): port COM9 not found: "},
      {{"status"}, PortHeld, 4, {}, "connect failed (ERR_INVALID_DEVICE): port COM5 is in use by another program: "},
      {{"status"}, ModemSilent, 4, {}, "connect failed (ERR_INVALID_DEVICE): the radio modem on COM5 does not answer: "},
      {{"status"}, AdapterSilent, 4, {},
       "connect failed (ERR_INVALID_DEVICE): the adapter does not answer through the modem on COM5: "},
      {{"request", "12345", "--timeout", "300"}, None, 1, {}, "no answer for PGN 12345 within 300 ms"},
      {{"send", "--protocol", "CAN", "--id", "0x7DF", "020100"}, None, 0, {"sent 3 bytes"}, "",
       {0x02, 0x14, 0x07, 0x80, 0x00, 0x07, 0xDF, 0x02, 0x01, 0x00}},
      {{"send", "--protocol", "CAN", "--id", "0x18DA00F1", "0201"}, None, 0, {"sent 2 bytes"}, "",
       {0x02, 0x14, 0x06, 0x18, 0xDA, 0x00, 0xF1, 0x02, 0x01}},
      {{"send", "--protocol", "J1708", "08 80 BE 40 1F"}, None, 0, {"sent 5 bytes"}, "",
       {0x01, 0x14, 0x05, 0x08, 0x80, 0xBE, 0x40, 0x1F}},
      {{"send", "18FECAF9#0102030405060708", "--repeat", "3", "--interval", "200"}, None, 0,
       {"sent 8 bytes 3 times in "}, "", {}, {0x18, 0xFE, 0xCA, 0xF9}, 3},
      // PDU1: the destination kept; then any source kept.
      {{"send", "0CEF05F9#0102030405060708"}, None, 0, {"sent 8 bytes"}, "", {}, {0x0C, 0xEF, 0x05, 0xF9}, 1},
      {{"send", "18FF1022#0102030405060708"}, None, 0, {"sent 8 bytes"}, "", {}, {0x18, 0xFF, 0x10, 0x22}, 1},
  };
  for (const auto& row : rows) {
    qv::platform::SerialPort holder;  // another program holds the port
    if (row.fault == PortHeld) {
      ASSERT_EQ(holder.open("COM5", qv::platform::SerialConfig{}), qv::platform::SerialOpenError::None);
    }
    if (row.fault == NoIni) fs::remove(ini);
    sim_->setModemAnswers(row.fault != ModemSilent);
    sim_->setAdapterAnswers(row.fault != AdapterSilent);
    sim_->clearLogs();
    Child c(dir_, row.args);
    EXPECT_EQ(c.wait(sim_.get(), 20000), row.code) << row.err;
    std::ofstream(ini) << text;
    const std::string err = c.err();
    if (row.err.empty()) EXPECT_EQ(err, "");
    else EXPECT_TRUE(err.rfind("qvlink: " + row.err, 0) == 0 && err.find('\n') == err.size() - 1) << err;
    for (const auto& said : row.out) EXPECT_NE(c.out().find(said), std::string::npos) << said << "\n" << c.out();
    const auto rf = sim_->rfToAdapter();
    if (row.code == 2 || row.code == 3) {
      EXPECT_TRUE(rf.empty()) << row.err;
    }
    if (!row.rf.empty()) {
      EXPECT_TRUE(std::any_of(rf.begin(), rf.end(), [&](const auto& t) { return t.rf == row.rf; })) << row.args.back();
    }
    if (row.busId.empty()) continue;
    const auto frames = sim_->busFramesFromPc();
    ASSERT_EQ(frames.size(), row.times) << row.args[1];
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(qv::sim::encodeJ1939Id(frames[i].id), row.busId) << row.args[1];
      EXPECT_EQ(frames[i].data, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
      if (i > 0) {
        EXPECT_GE(frames[i].timeMs - frames[i - 1].timeMs, 150u) << i;
      }
    }
  }
}

// Which bus frames the tool shows. monitor: candump's filters, several PGNs and sources,
// identifiers with masks, run in the tool while the adapter passes everything, so the summary
// counts what they kept back; with --adapter-filter the RP1210 J1939 filter command reaches the
// adapter instead, which keeps the other PGNs off the radio: nothing is left for the tool to
// filter out. request: only answers to the request count, the PGN asked for, from the node asked
// (once per node for a global request), addressed to us or to all.
TEST_F(Qvlink, MonitorAndRequestShowOnlyTheFramesAskedFor) {
  const std::string pcap = (dir_ / "f.pcap").string();
  const std::string monitoring = "qvlink: monitoring J1939 on device 101\n";
  const struct {
    std::vector<std::string> args;
    Bytes adapterFilter;  // the filter entries the adapter must hold
    uint32_t ownAnswers;  // the simulated engine's own answers to a request, before the bus frames
    std::vector<BusFrame> bus;
    std::vector<std::string> shown;
    std::string err;  // a monitor's summary only: no tshark hint where stderr is no terminal
  } rows[] = {
      {{"monitor", "--pgn", "0xFF10", "--pgn=0xFF20", "--source", "0x22", "-c", "2", "--pcap", pcap}, {}, 0,
       {{5, 0xFF10, 0x33}, {3, 61444, 0x22}, {5, 0xFF10, 0x22}, {5, 0xFF20, 0x22}},  // other source, other PGN, two kept
       {" 14FF1022  PGN  65296 SA 22 DA FF P5  [1] 03", " 14FF2022  PGN  65312 SA 22 DA FF P5  [1] 04"},
       monitoring + "qvlink: 2 messages, 2 filtered out, dropped 0\n"},
      {{"monitor", "--id", "0CF00400", "--id", "18FF0000/1FFF0000", "--count", "2"}, {}, 0,
       {{5, 0xFF33, 0x22}, {3, 61444, 0x01}, {3, 61444, 0x00}, {6, 0xFF33, 0x22}},  // priority outside the mask, not the exact id
       {" 0CF00400  PGN  61444 SA 00 DA FF P3  [1] 03", " 18FF3322  PGN  65331 SA 22 DA FF P6  [1] 04"},
       monitoring + "qvlink: 2 messages, 2 filtered out, dropped 0\n"},
      {{"monitor", "--pgn", "0xFF10", "--adapter-filter", "--count", "1"},
       {0x00, 0xFF, 0x10, 0x00, 0x00, 0xFF, 0xFF, 0x00}, 0,  // PF FF, PS 10 under mask 00FFFF00
       {{3, 61444, 0x00}, {5, 0xFF10, 0x22}}, {" 14FF1022  PGN  65296 SA 22 DA FF P5  [1] 02"},
       monitoring + "qvlink: 1 messages, 0 filtered out, dropped 0\n"},
      {{"request", "61444", "-t", "2000"}, {}, 1,  // global: the engine answers by itself
       {{3, 61444, 0x00},                          // the engine's next broadcast: no answer
        {3, 61444, 0x22},                          // a second node answers
        {3, 61444, 0x22},                          // and broadcasts again
        {3, 65265, 0x33}},                         // another PGN
       {" 0CF00400  PGN  61444 SA 00 DA FF P3  [8] ", " 0CF00422  PGN  61444 SA 22 DA FF P3  [1] 02"}, ""},
      {{"request", "--pgn", "0xEF00", "--dest", "0x22", "--timeout", "5000"}, {}, 0,
       {{6, 0xEF00, 0x00, 0xF9}, {6, 0xEF00, 0x22, 0x33}, {6, 0xEF00, 0x22, 0xF9}},  // the third answers
       {" 18EFF922  PGN  61184 SA 22 DA F9 P6  [1] 03"}, ""},
  };
  for (const auto& row : rows) {
    RestartSim();  // a fresh adapter: its state and counters tell when the client is ready
    Child c(dir_, row.args);
    ASSERT_TRUE(row.args[0] == "monitor" ? Ready() : sim_->waitFor([&] {
      for (const auto& f : sim_->busFramesFromPc())
        if (f.id.pgn == 59904) return sim_->counters().busFramesToPc >= row.ownAnswers;
      return false;
    }, 10000)) << c.err();
    if (!row.adapterFilter.empty()) {
      ASSERT_TRUE(sim_->waitFor([&] { return sim_->adapterState().j1939Filters == row.adapterFilter; }, 10000));
    }
    Inject(row.bus);
    ASSERT_EQ(c.wait(sim_.get(), 10000), 0) << c.err();
    ExpectLines(c.out(), row.shown);
    EXPECT_EQ(c.err(), row.err);
  }
}

}  // namespace
