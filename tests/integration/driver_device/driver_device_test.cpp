// The driver library through its exported calls, as the RP1210 library uses it (which loads it
// by name: the RP1210 and reliability tests take that path): open against the simulator on a
// pty, traffic, commands, close; failures and repeated open/close.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "../../unit/platform/temp_dir.h"
#include "QV_API.h"
#include "qvlink/platform/serial_port.h"
#include "qvlink/sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

size_t CountDir(const char* path) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path), {}));
}
size_t Threads() { return CountDir("/proc/self/task"); }
size_t Fds() { return CountDir("/proc/self/fd"); }

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

class DriverDevice : public ::testing::Test {
 protected:
  TempDir dir_;
  qv::sim::Simulator sim_;

  void SetUp() override {
    setenv("QV_PORT_DIR", dir_.path().c_str(), 1);
    setenv("QV_PROFILE_DIR", dir_.path().c_str(), 1);
    ASSERT_TRUE(sim_.start());
    ASSERT_TRUE(sim_.linkPort(dir_.path(), "COM5"));
  }
  void TearDown() override { sim_.stop(); }

  static DeviceSettings Settings(const char* port = "COM5", uint8_t rfAck = 0) {
    DeviceSettings s{};
    std::snprintf(s.portName, sizeof s.portName, "%s", port);
    s.baudRate = 115200;
    s.rfAddress = 12345;
    s.lineFormat = 81;
    s.rfChannel = 0;
    s.rfAck = rfAck;
    return s;
  }

  bool Wait(const std::function<bool()>& pred, uint32_t ms = 2000) { return sim_.waitFor(pred, ms); }

  // Reads `protocol` until a message holding `bytes` comes (echoes and other traffic skipped);
  // that whole message in `message`.
  bool Receives(int32_t id, uint8_t protocol, const qv::sim::Bytes& bytes, qv::sim::Bytes* message = nullptr) {
    return Wait([&] {
      MessageRecord r{};
      r.protocol = protocol;
      const int got = Receive_Message(static_cast<uint8_t>(id), &r);
      if (got <= 0) return false;
      EXPECT_EQ(QvReturnedLength(&r), static_cast<uint32_t>(got));
      const uint8_t* data = QvReturnedData(&r);
      if (std::search(data, data + got, bytes.begin(), bytes.end()) == data + got) return false;
      if (message) message->assign(data, data + got);
      return true;
    });
  }

  // A request for the VIN (PGN 65260) from 0xF9 to `da`, priority 6.
  static MessageRecord VinRequest(uint8_t da, bool block) {
    MessageRecord r{};
    r.protocol = QV_PROTOCOL_J1939;
    const uint8_t body[] = {6 << 2, 0xEA, da, 0xF9, 0xEC, 0xFE, 0x00};
    std::memcpy(r.body, body, sizeof body);
    r.length = sizeof body;
    r.blockFlag = block ? 1 : 0;
    return r;
  }
};

TEST_F(DriverDevice, StubsAndIdChecksWithoutAnOpenDevice) {
  for (auto* stub : {ConfigureCAN, ConfigurePWM, ConfigureUART, ConfigureVKL, Configure_Transmit_Message,
                     Configure_Receive_Message, Set_Filter, Set_Trigger, BeginDataLog, UploadDataLog, SetVerboseMode})
    EXPECT_EQ(stub(-1, 0x7FFFFFFF), 135);
  MessageRecord r{};
  r.protocol = QV_PROTOCOL_J1708;
  QvSetReturnedLength(&r, 77);
  EXPECT_EQ(Receive_Message(0x05, &r), ERR_INVALID_DEVICE);
  EXPECT_EQ(QvReturnedLength(&r), 0u);
  EXPECT_EQ(Receive_Transport_Message(0x05, &r), ERR_INVALID_DEVICE);
  DeviceSettings s = Settings();
  EXPECT_EQ(Initialize_Hardware(&s, "J1939", 1), ERR_INVALID_DEVICE);  // nothing open to attach to
  EXPECT_EQ(Initialize_Hardware(nullptr, "J1939", 0), ERR_INVALID_DEVICE);
}

TEST_F(DriverDevice, OpenAttachTrafficCommandsAndClose) {
  DeviceSettings s = Settings();
  const int32_t id = Initialize_Hardware(&s, "J1708", 0);
  ASSERT_EQ(id, 0x81);
  auto a = sim_.adapterState();
  EXPECT_TRUE(a.started[1]);
  EXPECT_TRUE(a.option0201[1]);
  EXPECT_EQ(a.j1708Mode, 0);
  EXPECT_EQ(a.command30Count, 1u);
  EXPECT_EQ(a.command30Data, (qv::sim::Bytes{0x01}));
  EXPECT_TRUE(a.j1708FilterSet);
  EXPECT_EQ(a.j1708Filters, qv::sim::Bytes(6, 0));

  uint8_t st[16];
  std::memset(st, 0xEE, sizeof st);
  ASSERT_EQ(GetHardwareStatus(static_cast<uint8_t>(id), st), 0);
  EXPECT_EQ(st[0], 5);
  EXPECT_EQ(st[1], 0xEE);
  EXPECT_EQ(st[4] & 1, 1);
  EXPECT_EQ(st[3], 0);
  EXPECT_EQ(st[5], 0);
  EXPECT_EQ(st[8], 0);

  ASSERT_EQ(Initialize_Hardware(&s, "J1939:Baud=Auto", 1), 0);
  const qv::sim::Bytes pass{0x00, 0xEA, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00,
                            0x00, 0xEE, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00};
  EXPECT_TRUE(Wait([&] { return sim_.adapterState().j1939PassList == pass; }));
  EXPECT_TRUE(sim_.adapterState().started[2]);
  ASSERT_EQ(GetHardwareStatus(static_cast<uint8_t>(id), st), 0);
  EXPECT_EQ(st[2] & 1, 1);

  sim_.injectBusJ1708({0x80, 0x54, 0x20, 0x0C});
  EXPECT_TRUE(Receives(id, QV_PROTOCOL_J1708, {0x80, 0x54, 0x20}));
  ASSERT_EQ(GetHardwareStatus(static_cast<uint8_t>(id), st), 0);
  EXPECT_EQ(st[4], 0x03);

  // Commands as the adapter sees them.
  const uint8_t canList[8] = {0x80, 0x00, 0x01, 0x23, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(SendQVCommand(static_cast<uint8_t>(id), 0x20, 52, canList, 8), 0);  // 144 inside, 0 outside
  const size_t atBefore = sim_.atCommands().size();
  EXPECT_EQ(GetVersions(static_cast<uint8_t>(id), nullptr), 0);
  EXPECT_TRUE(Wait([&] {
    return std::ranges::any_of(sim_.frames(), [](const auto& f) {
      return f.fromPc && f.bytes == qv::sim::Bytes{0x7E, 0x00, 0x04, 0x02, 0x55, 0x00, 0x1B, 0x8D};
    });
  }));
  EXPECT_EQ(sim_.atCommands().size(), atBefore);

  // J1939 and CAN share the adapter's code-2 lists: closing one while the other stays leaves
  // the lists the other uses, and bus frames still come in. (Attaching restarts the adapter's
  // J1939 side, which empties its list: each round sets a new entry after the attach.)
  for (const bool canCloses : {true, false}) {
    SCOPED_TRACE(canCloses ? "CAN closes" : "J1939 closes");
    ASSERT_EQ(Initialize_Hardware(&s, "CAN", 1), 0);
    const uint8_t pf = canCloses ? 0xF1 : 0xF2;
    const qv::sim::Bytes list{0x18, pf, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00};
    EXPECT_EQ(SendQVCommand(static_cast<uint8_t>(id), 2, 16, list.data(), 8), 0);
    EXPECT_EQ(SendQVCommand(static_cast<uint8_t>(id), 2, 17, canList, 8), 0);
    EXPECT_TRUE(Wait([&] { return sim_.adapterState().canFilters == qv::sim::Bytes(canList, canList + 8); }));
    const uint32_t commandsBefore = sim_.adapterState().filterCommands[2];
    EXPECT_EQ(Restore_Hardware(static_cast<uint8_t>(id), canCloses ? "CAN" : "J1939", 1), 0);
    // Commands arrive in order: once the address has, so has whatever the close sent.
    EXPECT_EQ(Set_Transport_Address(static_cast<uint8_t>(id), pf), 0);
    EXPECT_TRUE(Wait([&] { return sim_.adapterState().transportAddress == pf; }));
    const auto after = sim_.adapterState();
    EXPECT_EQ(after.canFilters, canCloses ? qv::sim::Bytes{} : qv::sim::Bytes(canList, canList + 8));
    EXPECT_EQ(after.j1939Filters, list);
    EXPECT_EQ(after.filterCommands[2], commandsBefore);
    // Reads take the layout of the client that stays: time stamp, (CAN: type byte 1, extended,)
    // identifier, data.
    const qv::sim::Bytes data{pf, 0x22, 0x33};
    sim_.injectBusJ1939(6, pf << 8, 0x00, 0xFF, data);
    qv::sim::Bytes got;
    EXPECT_TRUE(Receives(id, QV_PROTOCOL_J1939, data, &got));
    EXPECT_EQ(got.size(), (canCloses ? 8 : 9) + data.size());
    EXPECT_TRUE(canCloses || (got.size() > 4 && got[4] == 1));
  }

  // Closing the last of them clears the lists and keeps the device for J1708.
  EXPECT_EQ(Restore_Hardware(static_cast<uint8_t>(id), "CAN", 1), 0);
  EXPECT_TRUE(Wait([&] { return sim_.adapterState().j1939Filters.empty(); }));
  MessageRecord j{};
  j.protocol = QV_PROTOCOL_J1708;
  const uint8_t msg[] = {0x80, 0xBE, 0x10, 0x27};
  std::memcpy(j.body, msg, sizeof msg);
  j.length = sizeof msg;
  EXPECT_EQ(Transmit_Message(static_cast<uint8_t>(id), &j), 0);
  EXPECT_TRUE(Wait([&] { return sim_.j1708FromPc() == std::vector<qv::sim::Bytes>{{0x80, 0xBE, 0x10, 0x27}}; }));

  const uint32_t resets = sim_.modemState().resets;
  EXPECT_EQ(Restore_Hardware(static_cast<uint8_t>(id), "J1708", 0), 0);
  EXPECT_TRUE(Wait([&] { return sim_.modemState().resets == resets + 1; }));
  EXPECT_FALSE(sim_.adapterState().linkCounters.has_value());
  EXPECT_TRUE(Wait([&] { return !sim_.peerConnected(); }));
  EXPECT_EQ(Initialize_Hardware(&s, "J1939", 1), ERR_INVALID_DEVICE);
}

TEST_F(DriverDevice, CallsRacingTheLastCloseHaveLeftTheDriverWhenItReturns) {
  // RF acknowledgement: sends wait for the modem's transmit status, so calls stay inside longer.
  DeviceSettings s = Settings("COM5", 2);
  const int32_t id = Initialize_Hardware(&s, "J1939", 0);
  ASSERT_EQ(id, 0x81);
  const auto dev = static_cast<uint8_t>(id);
  struct Call {
    Clock::time_point start, end;
  };
  std::atomic<bool> stop{false};
  std::atomic<int> callers{0};
  std::vector<Call> calls[4];
  // Filter commands, version requests, transport addresses and blocking sends, over and over.
  auto run = [&](int kind) {
    for (uint32_t i = 0; !stop.load(); ++i) {
      const auto t0 = Clock::now();
      if (kind == 0) {
        const uint8_t entry[8] = {0x18, static_cast<uint8_t>(i), 0x04, 0x00, 0x00, 0xFF, 0x00, 0x00};
        SendQVCommand(dev, 2, 16, entry, 8);
      } else if (kind == 1) {
        GetVersions(dev, nullptr);
      } else if (kind == 2) {
        Set_Transport_Address(dev, static_cast<uint8_t>(i));
      } else {
        MessageRecord m = VinRequest(0xFF, true);
        Transmit_Message(dev, &m);
      }
      calls[kind].push_back({t0, Clock::now()});
      if (calls[kind].size() == 1) callers.fetch_add(1);
    }
  };
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) threads.emplace_back(run, k);
  EXPECT_TRUE(Wait([&] { return callers.load() == 4; }, 10000));  // not ASSERT: the threads must be joined
  ASSERT_EQ(Restore_Hardware(dev, "J1939", 0), 0);
  const auto closed = Clock::now();
  // Every call that would send for the id no open device holds now: 134 at once, nothing sent.
  const size_t frames = sim_.frames().size();
  for (const bool block : {false, true}) {
    MessageRecord m = VinRequest(0xFF, block);
    EXPECT_EQ(Transmit_Message(dev, &m), ERR_INVALID_DEVICE);
  }
  const uint8_t entry[8] = {0x18, 0xF0, 0x04, 0x00, 0x00, 0xFF, 0x00, 0x00};
  EXPECT_EQ(SendQVCommand(dev, 2, 16, entry, 8), ERR_INVALID_DEVICE);
  EXPECT_EQ(GetVersions(dev, nullptr), ERR_INVALID_DEVICE);
  EXPECT_EQ(Set_Transport_Address(dev, 0xF9), ERR_INVALID_DEVICE);
  EXPECT_LT(ElapsedMs(closed), 50);
  EXPECT_EQ(sim_.frames().size(), frames);
  stop.store(true);
  for (auto& t : threads) t.join();
  // A call begun before the close returned had ended by then (a call refused on its way in
  // may end a moment later; one that waited on inside the driver would end long after).
  for (int k = 0; k < 4; ++k) {
    for (const Call& c : calls[k]) {
      if (c.start < closed) {
        EXPECT_LT(c.end - closed, std::chrono::milliseconds(100)) << "call kind " << k;
      }
    }
  }
}

// A port that is missing, misnamed or held fails at once. With a silent modem or adapter the
// missing version replies do not fail the start-up; the protocol start, whose frame is never
// reported delivered, does. Nothing is left running and the next open works.
TEST_F(DriverDevice, MissingPortOrSilentFarSideFailsAndLeavesNothing) {
  enum Fault { kNone, kHeld, kModem, kAdapter };
  const struct { Fault fault; const char* port; uint8_t rfAck; const char* protocol; long minMs, maxMs; qv::sim::Bytes start; size_t starts; } rows[] = {
      {kNone, "COM9", 0, "J1939", 0, 500, {}, 0},
      {kHeld, "COM5", 0, "J1939", 0, 500, {}, 0},
      {kModem, "COM5", 0, "J1939", 1000, 5000, {0x02, 23, 0x10}, 0},  // the modem logs nothing it ignores
      {kAdapter, "COM5", 1, "J1708", 1000, 5000, {0x01, 23, 0x10}, 10},  // resends (the last may be purged at close)
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.port << " fault " << row.fault);
    sim_.clearLogs();
    const size_t threads = Threads(), fds = Fds();
    auto holder = std::make_unique<qv::platform::SerialPort>();
    if (row.fault == kHeld) {
      ASSERT_EQ(holder->open("COM5", qv::platform::SerialConfig{}), qv::platform::SerialOpenError::None);
    }
    if (row.fault == kModem) sim_.setModemAnswers(false);
    if (row.fault == kAdapter) sim_.setAdapterAnswers(false);
    DeviceSettings s = Settings(row.port, row.rfAck);
    const auto t0 = Clock::now();
    EXPECT_EQ(Initialize_Hardware(&s, row.protocol, 0), ERR_INVALID_DEVICE);
    const long ms = ElapsedMs(t0);
    EXPECT_GE(ms, row.minMs);
    EXPECT_LE(ms, row.maxMs);
    holder.reset();
    EXPECT_EQ(Threads(), threads);
    EXPECT_EQ(Fds(), fds);
    EXPECT_FALSE(sim_.adapterState().rfAck);
    size_t starts = 0;
    for (const auto& rf : sim_.rfToAdapter()) {
      if (rf.rf == row.start) {
        ++starts;
        EXPECT_NE(rf.frameId, 0);  // sent for a TX status
      }
      EXPECT_FALSE(rf.rf.size() >= 2 && rf.rf[1] == 30) << "start-up went on past the protocol start";
    }
    if (row.starts) EXPECT_GE(starts, row.starts);
    else EXPECT_EQ(starts, 0u);
    sim_.clearFaults();
    s = Settings("COM5", row.rfAck);
    const int32_t id = Initialize_Hardware(&s, row.protocol, 0);  // ready for the next attempt
    EXPECT_EQ(id, 0x81);
    EXPECT_EQ(Restore_Hardware(static_cast<uint8_t>(id), row.protocol, 0), 0);
  }
}

// The adapter's version decides RF acknowledgement. A reply held back past the probe's 105 ms,
// or never sent: the version counts as below every threshold and the start-up goes on. Only rfAck 2 turns RF acknowledgement on;
// the number of queries shows which thresholds were tried.
TEST_F(DriverDevice, LateOrMissingVersionReplyStillConnects) {
  const struct { const char* faults; uint8_t rfAck; bool rfAckOn; uint32_t queries; } rows[] = {
      {"", 1, true, 4},  // a prompt 0x4100 passes 0x2217, then 0x3100, 0x4000 and 0x4100
      {"version-delay=150", 0, false, 0},  // 0: not counted (a late reply may meet a later query)
      {"no-version", 0, false, 1},
      {"no-version", 1, false, 2},
      {"no-version", 2, true, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.faults << " rfAck " << int(row.rfAck));
    ASSERT_TRUE(sim_.applyFaults(row.faults));
    DeviceSettings s = Settings("COM5", row.rfAck);
    const uint32_t before = sim_.adapterState().versionQueries;
    const int32_t id = Initialize_Hardware(&s, "J1939", 0);
    ASSERT_EQ(id, 0x81);
    const auto a = sim_.adapterState();
    EXPECT_TRUE(a.started[2]);
    EXPECT_EQ(a.rfAck, row.rfAckOn);
    if (row.queries) {
      EXPECT_EQ(a.versionQueries - before, row.queries);
    }
    MessageRecord m = VinRequest(0x00, true);
    EXPECT_EQ(Transmit_Message(static_cast<uint8_t>(id), &m), 0);  // confirmed by the adapter's echo
    ASSERT_EQ(Restore_Hardware(static_cast<uint8_t>(id), "J1939", 0), 0);
    sim_.powerLoss();  // the next row starts with a fresh adapter
    sim_.powerReturn();
  }
}

TEST_F(DriverDevice, RepeatedOpenCloseLeavesNoThreadsOrFds) {
  int cycles = 20;
  if (const char* e = getenv("QV_OPEN_CYCLES")) cycles = atoi(e);
  DeviceSettings s = Settings();
  // One cycle first: anything the library keeps for its life (events) exists from then on. It
  // asks for the link counters, which the adapter gets at the close.
  s.counterEnable = 1;
  int32_t id = Initialize_Hardware(&s, "J1939", 0);
  ASSERT_EQ(id, 0x81);
  MessageRecord m = VinRequest(0xFF, false);
  EXPECT_EQ(Transmit_Message(static_cast<uint8_t>(id), &m), 0);
  ASSERT_EQ(Restore_Hardware(static_cast<uint8_t>(id), "J1939", 0), 0);
  ASSERT_TRUE(Wait([&] { return sim_.adapterState().linkCounters.has_value(); }));
  const auto c = *sim_.adapterState().linkCounters;
  EXPECT_GE(c.txMessages, 2);  // version queries and the request
  EXPECT_GE(c.rxFrames, 1);
  EXPECT_EQ(c.reserved, 0);
  s.counterEnable = 0;
  const size_t threads = Threads(), fds = Fds();
  for (int i = 0; i < cycles; ++i) {
    id = Initialize_Hardware(&s, i % 2 ? "J1708" : "J1939", 0);
    ASSERT_EQ(id, 0x81) << "cycle " << i;
    ASSERT_EQ(Restore_Hardware(static_cast<uint8_t>(id), i % 2 ? "J1708" : "J1939", 0), 0);
  }
  EXPECT_EQ(Threads(), threads);
  EXPECT_EQ(Fds(), fds);
  // A line that hangs up under the open device: the close still lets go of the port.
  ASSERT_EQ(Initialize_Hardware(&s, "J1939", 0), 0x81);
  sim_.stop();
  ASSERT_TRUE(Wait([&] { return Transmit_Message(0x81, &m) == ERR_HARDWARE_NOT_RESPONDING; }));
  const size_t withPort = Fds();
  EXPECT_EQ(Restore_Hardware(0x81, "J1939", 0), 0);
  EXPECT_EQ(Fds(), withPort - 1) << "the lost port stayed open";
}

TEST_F(DriverDevice, RegistryDrivenOpenSkipsTheHandshake) {
  dir_.write("registry.ini",
             "[Software\\Morvane\\QV_Device\\Device07]\nPort=COM5\nParameter1=115200\nRF Address=12345\n");
  DeviceSettings s = Settings("XXXX");
  s.deviceNumber = 7;
  s.baudRate = 1;
  const int32_t id = Initialize_Hardware(&s, "J1939", 0);
  ASSERT_EQ(id, 0x81);
  EXPECT_STREQ(s.portName, "COM5");
  EXPECT_EQ(s.baudRate, 115200u);
  EXPECT_EQ(s.rfAddress, 12345u);
  EXPECT_FALSE(sim_.adapterState().started[2]);
  EXPECT_EQ(sim_.adapterState().versionQueries, 0u);
  EXPECT_EQ(Restore_Hardware(static_cast<uint8_t>(id), "J1939", 0), 0);

  // A key that is not there leaves the record as it was: usable fields open, others fail.
  DeviceSettings keep = Settings();
  keep.deviceNumber = 8;
  const int32_t id2 = Initialize_Hardware(&keep, "J1939", 0);
  EXPECT_EQ(id2, 0x81);
  EXPECT_STREQ(keep.portName, "COM5");
  EXPECT_EQ(Restore_Hardware(static_cast<uint8_t>(id2), "J1939", 0), 0);
  DeviceSettings none = Settings("XXXX");
  none.deviceNumber = 9;
  EXPECT_EQ(Initialize_Hardware(&none, "J1939", 0), ERR_INVALID_DEVICE);
}

}  // namespace
