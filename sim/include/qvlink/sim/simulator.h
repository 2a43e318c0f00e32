// The far side of the QvLink serial line, for tests and demos: the PC's radio modem, the
// adapter's firmware and a small vehicle bus with scripted ECUs, served on a pseudo-terminal.
//
// Usage from a test:
//   qv::sim::Simulator sim;                  // defaults below
//   ASSERT_TRUE(sim.start());
//   sim.linkPort(dir, "COM5");               // dir/COM5 -> pty slave; set QV_PORT_DIR=dir
//   ... drive the libraries ...
//   ASSERT_TRUE(sim.waitFor([&] { return sim.adapterState().keepAliveReplies > 0; }, 2000));
//
// Threading: start() runs one service thread that owns the pty master. Every public member is
// safe to call from any thread at any time (one internal lock). Predicates handed to waitFor /
// waitForFrame run on the caller's thread without that lock held, so they may call the
// accessors below. Nothing here sleeps on behalf of a test: waits end as soon as the condition
// holds, or at the deadline.
//
// Wire conventions played (all values big-endian on the serial line unless noted):
//  * Modem: AT 0x08 -> 0x88 (frame id, two letters, status, value). Status 0 ok, 2 unknown
//    command, 3 bad parameter. Frame id 0 gets no answer. SH/SL 4 bytes, MY/ID 2, CH 1, DH/DL 4.
//    A parameter is taken as a big-endian number of any length (low bits kept). WR keeps the
//    values for the run; FR resets the modem (values kept). TX request 0x01 to adapterAddress
//    (or 0xFFFF) on the adapter's channel is delivered; a frame id 1..255 gets a TX status 0x89:
//    0 delivered, 1 no acknowledgement (wrong address, wrong channel, adapter silent or powered
//    off, injected "no ack" fault). RF data longer than SimConfig::maxRfPayload is not sent and
//    gets status 3 (txStatusAfterReply: a delivered frame's status follows the adapter's
//    immediate answer to it). The adapter's RF data come back as RX 0x81 (or 0x80 when rxPacket64), with
//    source adapterAddress (or adapterSerial64), RSSI SimConfig::rssi, options 0.
//  * Adapter, every message it sends has bit 7 of RF byte 1 set (the marker). Stamped messages
//    (J1708, J1939) carry RF byte 2 = count of the bytes after it in the record, RF bytes 3-6 a
//    big-endian time-stamp key, unique and increasing across all protocols, never 0.
//      - Version query 00 1B  -> 00 9B 1B verHi verLo (see versionReplyRepeatsQuery; held
//        back by versionReplyDelayMs, withheld when versionReplies is false).
//      - Any command with bit 7 of the protocol code set -> acknowledgement C, K|0x80.
//      - Keep-alive request (sendKeepAlive or keepAliveIntervalMs) 00 91; the PC's reply
//        00 11 00 00 is counted.
//      - Link counters report 00 00 + five 16-bit little-endian counters: recorded.
//      - J1708 vehicle message 01 14 L bytes... -> on the bus, echo 01 9F n ts bytes...
//        Bus J1708 messages -> 01 94 n ts bytes... (passed by the J1708 filters).
//      - J1939 vehicle message 02 14 L id4 data -> on the bus, echo record 31 in a batch.
//        Bus frames -> batch records type 20 (0x94 with marker) id4 + data; with packing on
//        (option 05 v) and SimConfig::batching several records share one RF frame, flushed
//        after v ms or when the next record would not fit.
//      - Long message from the PC: chunks 02 23 n+1 F payload [padding], announcement 02 24 12
//        id4 data8 -> echo record 31 of the announcement; every chunk after the announcement
//        gets progress 02 A0 6 ts K C with K = 16 (RTS/CTS) or 32 (BAM) "accepted", then 17/33
//        "sent" (C = running payload byte count mod 256). Firmware older than the
//        versionFeature range (below 0x3100, or 0x4000..0x40FF) reports "sent" for RTS/CTS
//        by forwarding the receiver's CTS as a transport notice instead. RTS/CTS ends with an
//        end-of-message acknowledgement notice (TP.CM 19). The whole message is recorded.
//      - Long message from the bus (sendLongFromBus, DM1, VIN): notice record 37 (the whole
//        TP.CM RTS 16 or BAM 32 frame), then chunks 02 A6 n ts S payload with
//        S = kind<<4 | seq (kind 1 RTS/CTS, 2 BAM; seq 0,1,2,3,0,...), at most 49 payload bytes
//        each; the next chunk waits for the PC's progress report 02 20 K count (command 32).
//        No report within SimConfig::longReportTimeoutMs: the transfer is abandoned (counted).
//      - Filters: J1708 command 16 entries of 6 bytes (MID pattern, mask, 4 unused); J1939
//        command 16 entries of 8 bytes (id pattern, id mask, byte-wise); command 24 is a
//        second J1939 list that always passes. An entry with mask 0 passes everything; an
//        empty list passes nothing. Before the first command 16 after a protocol start,
//        J1939 passes everything when SimConfig::j1939PassUntilFiltered (default true), J1708
//        always passes. Command 17 (CAN lists) is recorded only.
//      - Option 23 on code 0/1/2: 0x10 start protocol (resets its filters), 0x02 0x01,
//        0x01 mode (J1708), 0x05 packing, 0x09 RF acknowledgement, 0x11 transport address.
//        Command 30 and command 33 (channel hand-over, 14 bytes; byte 4 = new channel, the
//        adapter moves there) are recorded. Protocol codes 0x20 and 0x27: every message is
//        answered with C, K|0x80 and the same data.
//  * Bus (busTraffic): engine SA 0x00 claims its address at start and on request; EEC1
//    (PGN 61444, prio 3) and CCVS (65265, prio 6) every 100 ms with moving speeds; DM1 (65226)
//    with two faults by BAM every 1 s; J1708 MID 128 (PIDs 190 and 84) every 100 ms. Requests
//    (PGN 59904) from the PC are answered whether or not busTraffic is on: VIN (65260) by BAM,
//    address claim, EEC1, CCVS, DM1. Bus traffic flows to the PC only for protocols the PC has
//    started (option 0x10).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qvlink/sim/codec.h"

namespace qv::sim {

struct SimConfig {
  // Modem
  uint64_t modemSerial = 0x0013A20040A1B2C3ULL;  // SH:SL
  uint16_t modemMy = 0x1234;                      // 0xFFFF = no 16-bit address
  uint8_t modemChannel = 0x0C;
  uint16_t modemPanId = 0x3332;                   // "ID"
  uint32_t modemDh = 0, modemDl = 0;
  uint8_t rssi = 0x28;
  bool rxPacket64 = false;          // RX frames as 0x80 instead of 0x81
  size_t maxRfPayload = 100;        // longer TX requests are refused with status 3; 0 = no limit
  // The TX status of a delivered frame follows the adapter's immediate answer to it (a slow
  // radio's report arriving after the next chunk of a long message, say).
  bool txStatusAfterReply = false;
  // Adapter
  uint16_t adapterAddress = 12345;  // the radio address it answers at
  uint64_t adapterSerial64 = 0x0013A20040B0C0D0ULL;  // source of 0x80 frames
  uint8_t adapterChannel = 0x0C;    // the channel it listens on until a hand-over moves it
  uint16_t firmwareVersion = 0x4100;
  bool batching = true;             // honour the PC's packing request
  // Version reply layout: true 00 9B 1B hi lo (the query byte repeated after the type),
  // false 00 9B hi lo (the type byte 27 itself is the 0x1B the start-up probe looks for).
  bool versionReplyRepeatsQuery = true;
  // A slow or half-deaf link for the start-up probe: each version reply held back this long
  // (later traffic overtakes it), or, with versionReplies false, never sent.
  uint32_t versionReplyDelayMs = 0;
  bool versionReplies = true;
  bool j1939PassUntilFiltered = true;
  uint32_t keepAliveIntervalMs = 0; // 0 = only on sendKeepAlive()
  uint32_t longReportTimeoutMs = 1250;  // wait for the PC's progress report per chunk
  // Bus
  bool busTraffic = false;          // start the scripted ECUs
  uint8_t engineAddress = 0x00;
  std::string vin = "1QVLINK0SIM000042";  // 17 characters
  // Line: non-zero paces bytes at lineBaud/10 per second each way (8N1), as a serial line
  // would; 0 passes them as fast as the pty takes them.
  uint32_t lineBaud = 0;
  // Logging: every frame to stderr as hex
  bool verbose = false;
};

enum class Dir : uint8_t { ToPc, FromPc };

// Whole API frames as they crossed the wire (ToPc: what was written, after faults).
struct FrameLog {
  uint32_t timeMs = 0;   // since start()
  bool fromPc = false;
  Bytes bytes;           // delimiter to checksum
};

// One TX request the modem received from the PC, and what became of it.
struct RfToAdapter {
  uint32_t timeMs = 0;
  uint8_t frameId = 0;
  uint16_t dest = 0;
  Bytes rf;              // RF payload
  bool delivered = false;
};

// One AT command the modem received.
struct AtCommand {
  uint32_t timeMs = 0;
  uint8_t frameId = 0;
  std::string command;   // two letters
  Bytes param;
};

// Long J1939 message the adapter received from the PC (announcement + chunks).
struct LongMessage {
  uint32_t timeMs = 0;
  bool bam = false;      // false: RTS/CTS
  uint32_t pgn = 0;
  uint8_t sa = 0, da = 0xFF;
  uint16_t announcedSize = 0;
  uint8_t announcedPackets = 0;
  Bytes data;            // the payload bytes of the chunks, padding removed
  bool complete = false; // all announced bytes arrived
};

// A frame the PC put on the vehicle bus (after the adapter's filters do not matter here).
struct BusFrame {
  uint32_t timeMs = 0;
  J1939Id id;
  Bytes data;
};

struct LinkCounters {
  uint16_t rxFrames = 0, rxErrors = 0, txMessages = 0, reserved = 0, j1939Records = 0;
};

struct ModemState {
  uint64_t serial = 0;
  uint16_t my = 0;
  uint8_t channel = 0;
  uint16_t panId = 0;
  uint32_t dh = 0, dl = 0;
  uint32_t writes = 0;   // WR count
  uint32_t resets = 0;   // FR count
};

struct AdapterState {
  bool powered = true;
  bool answering = true;
  uint8_t channel = 0;
  bool started[3] = {false, false, false};  // by protocol code 0 (unused), 1 J1708, 2 J1939
  bool option0201[3] = {false, false, false};
  bool rfAck = false;            // option 9 received
  uint8_t j1708Mode = 0xFF;      // option 1 value; 0xFF = never set
  uint8_t transportAddress = 0xFE;  // option 0x11 value; 0xFE = never set
  bool packing = false;
  uint8_t packingValue = 0;
  uint32_t command30Count = 0;
  Bytes command30Data;
  uint32_t command33Count = 0;
  Bytes command33Data;           // last channel hand-over payload (14 bytes)
  uint32_t keepAliveRequests = 0;
  uint32_t keepAliveReplies = 0;
  uint32_t versionQueries = 0;
  uint32_t acksSent = 0;
  Bytes j1708Filters;            // last command 16 data on code 1
  bool j1708FilterSet = false;
  Bytes j1939Filters;            // last command 16 data on code 2
  bool j1939FilterSet = false;
  Bytes j1939PassList;           // last command 24 data
  Bytes canFilters;              // last command 17 data on code 2
  uint32_t filterCommands[3] = {0, 0, 0};  // command 16 count by code 0/1/2
  std::optional<LinkCounters> linkCounters;  // last report
  uint32_t progressReports = 0;  // command 32 received
  uint32_t progressMismatches = 0;  // reports whose count is not the bytes sent so far mod 256
  uint32_t longFromBusDone = 0, longFromBusAbandoned = 0;
  uint32_t powerCycles = 0;
};

struct Counters {
  uint32_t framesFromPc = 0, framesToPc = 0;
  uint32_t badFramesFromPc = 0;   // bad checksums + over-long headers + noise bytes
                                  // before a delimiter + frames spoilt by FromPc corruption
  uint32_t txRequests = 0, txDelivered = 0, txStatusSent = 0;
  uint32_t atCommands = 0, atResponses = 0;
  uint32_t droppedToPc = 0, droppedFromPc = 0;   // by faults, or while no one holds the port
  uint32_t rxFramesToPc = 0;      // RX packets sent
  uint32_t busFramesToPc = 0;     // J1939 bus records forwarded
  uint32_t j1708ToPc = 0;
};

enum class Corruption : uint8_t {
  BadChecksum,   // checksum byte + 1
  FlippedBit,    // one bit of the last data byte flipped, checksum left as it was
  LyingLength,   // length field + 2, checksum left as it was
  NoiseBefore,   // three noise bytes (not 0x7E) before the delimiter
};

struct LongKind { enum : uint8_t { RtsCts = 1, Bam = 2 }; };

class Simulator {
 public:
  explicit Simulator(SimConfig cfg = {});
  ~Simulator();  // stops
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // openpty pair in raw mode and the service thread. False when the pty cannot be made.
  bool start();
  void stop();
  bool running() const;
  std::string slavePath() const;
  // Creates (replacing) dir/comName as a symlink to the slave path; dir is created if missing.
  bool linkPort(const std::string& dir, const std::string& comName);
  // True while some process holds the slave side open (output is discarded otherwise).
  bool peerConnected() const;
  uint32_t nowMs() const;  // the time base of every log entry

  // ---- Observation (snapshots) ----
  std::vector<FrameLog> frames() const;
  size_t frameCount() const;
  std::vector<RfToAdapter> rfToAdapter() const;   // TX requests the modem got
  std::vector<AtCommand> atCommands() const;
  std::vector<LongMessage> longFromPc() const;
  std::vector<BusFrame> busFramesFromPc() const;  // J1939 frames the PC put on the bus
  std::vector<Bytes> j1708FromPc() const;         // J1708 messages the PC put on the bus
  ModemState modemState() const;
  AdapterState adapterState() const;
  Counters counters() const;
  void clearLogs();  // frames, rfToAdapter, atCommands, long/bus records

  // Waits (never sleep in tests): true as soon as pred() holds, false at the deadline.
  // pred is re-checked whenever anything is logged or changed, and at least every 20 ms.
  bool waitFor(const std::function<bool()>& pred, uint32_t timeoutMs) const;
  // Waits for a frame at index >= fromIndex satisfying pred; returns it.
  std::optional<FrameLog> waitForFrame(const std::function<bool(const FrameLog&)>& pred,
                                       uint32_t timeoutMs, size_t fromIndex = 0) const;
  // Helpers for waitForFrame: API id of the frame, RF payload of a TX/RX frame.
  static int apiIdOf(const FrameLog& f);
  static Bytes rfOf(const FrameLog& f);  // empty unless 0x01, 0x80 or 0x81

  // ---- Scripting ----
  void injectBusJ1939(uint8_t prio, uint32_t pgn, uint8_t sa, uint8_t da, const Bytes& data);
  void injectBusJ1708(const Bytes& message);  // as given (append j1708Checksum yourself)
  // A raw CAN frame (at most 8 bytes), forwarded like J1939 traffic. Identifier layout: a
  // 29-bit id as bits 24-28 | 16-23 | 8-15 | 0-7 (the J1939 layout); an 11-bit id as
  // 0x80, 0x00, id high, id low.
  void injectBusCan(bool extended, uint32_t id, const Bytes& data);
  // Long message from the bus towards the PC through the adapter's chunk exchange.
  // kind: LongKind::RtsCts or LongKind::Bam. False if one of that kind is still running or
  // data is not 9..1785 bytes.
  bool sendLongFromBus(uint8_t kind, uint32_t pgn, uint8_t sa, uint8_t da, const Bytes& data);
  void sendKeepAlive();
  void sendRfToPc(const Bytes& rf);           // arbitrary adapter RF payload (marker not added)
  void sendRawToPc(const Bytes& bytes);       // raw bytes on the serial line
  void sendFrameToPc(const Bytes& frame);     // one whole frame (faults apply)
  void setBusTraffic(bool on);
  void setModemAnswers(bool on);              // false: the modem ignores every frame
  void setAdapterAnswers(bool on);            // false: the adapter hears nothing, says nothing
  void powerLoss();                           // adapter off: silent, state lost
  void powerReturn();                         // adapter on again, fresh state
  void setFirmwareVersion(uint16_t v);

  // ---- Faults (run-time switchable; counts apply to the next N frames of that direction) ----
  void dropFrames(Dir d, unsigned n);
  void duplicateFrames(Dir d, unsigned n);
  void delayFrames(Dir d, unsigned n, uint32_t ms);  // holds the stream behind it too
  void corruptFrames(Dir d, unsigned n, Corruption c);
  void setDropRate(Dir d, unsigned percent);          // 0..100, deterministic generator
  void setSplitWrites(bool on);                       // write to the PC one byte at a time
  void failTxStatus(unsigned n);   // next n TX requests: not delivered, status 1
  void clearFaults();
  // Parses a comma list, as the program's --faults: drop=N[:pc], dup=N[:pc], delay=N:MS[:pc],
  // corrupt=checksum|bit|length|noise[:N], droprate=P, split, noack=N, modem-silent,
  // adapter-silent, late-txstatus (txStatusAfterReply), version-delay=MS, no-version.
  // ":pc" selects the PC-to-modem direction. False on a bad item (none applied).
  bool applyFaults(const std::string& list);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv::sim
