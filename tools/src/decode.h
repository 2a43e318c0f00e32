// Decoding of what RP1210_ReadMessage hands back, and of the few vehicle messages the tool
// shows in plain words (engine speed, vehicle speed, DM1 faults, VIN, J1708 engine data).
// Every parser takes the byte count the read returned and never looks past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv::tools {

inline constexpr uint32_t kPgnRequest = 59904;
inline constexpr uint32_t kPgnTpCm = 60416;
inline constexpr uint32_t kPgnTpDt = 60160;
inline constexpr uint32_t kPgnAddressClaimed = 60928;
inline constexpr uint32_t kPgnEec1 = 61444;
inline constexpr uint32_t kPgnCcvs = 65265;
inline constexpr uint32_t kPgnDm1 = 65226;
inline constexpr uint32_t kPgnVin = 65260;
inline constexpr uint8_t kMidEngine = 128;
inline constexpr uint8_t kPidEngineSpeed = 190;
inline constexpr uint8_t kPidRoadSpeed = 84;

// A J1939 message in the RP1210 receive layout: time stamp (4, big-endian), echo byte when
// echo is on, PGN (3, least significant first), how/priority, source, destination, data.
// The destination of a PDU2 message (PF 240 and above) reads 0xFF: they are broadcasts.
struct J1939Message {
  uint32_t timeStamp = 0;
  bool echoed = false;
  uint32_t pgn = 0;
  uint8_t priority = 0;
  uint8_t source = 0;
  uint8_t destination = 0;
  std::vector<uint8_t> data;
};
std::optional<J1939Message> ParseJ1939Read(const uint8_t* buf, size_t count, bool echoOn);

// A J1708 message as delivered: time stamp (4), echo byte when echo is on, MID, parameters,
// and the checksum byte that makes the sum of the message 0 modulo 256.
struct J1708Message {
  uint32_t timeStamp = 0;
  bool echoed = false;
  uint8_t mid = 0;
  std::vector<uint8_t> body;  // after the MID, checksum removed when it checked out
  bool checksumOk = false;
};
std::optional<J1708Message> ParseJ1708Read(const uint8_t* buf, size_t count, bool echoOn);

// A raw CAN frame as delivered: time stamp (4), echo byte when echo is on, type byte
// (0 standard, else extended), identifier (4, big-endian), data.
struct CanMessage {
  uint32_t timeStamp = 0;
  bool echoed = false;
  bool extended = false;
  uint32_t id = 0;
  std::vector<uint8_t> data;
};
std::optional<CanMessage> ParseCanRead(const uint8_t* buf, size_t count, bool echoOn);

// 29-bit identifier of a J1939 message: priority, data page bits, PF, PS (destination when
// PF < 240, else the PGN's low byte), source.
uint32_t J1939CanId(uint8_t priority, uint32_t pgn, uint8_t source, uint8_t destination);

// EEC1 bytes 4-5, 0.125 rpm per bit; absent when too short or flagged not available/error.
std::optional<double> Eec1EngineSpeedRpm(const std::vector<uint8_t>& data);
// CCVS bytes 2-3, 1/256 km/h per bit.
std::optional<double> CcvsVehicleSpeedKmh(const std::vector<uint8_t>& data);

struct Dm1Fault {
  uint32_t spn = 0;
  uint8_t fmi = 0;
  uint8_t occurrences = 0;
  bool conversionMethod = false;
};
struct Dm1 {
  uint8_t lamps = 0;       // byte 1: protect, amber, red, malfunction lamp pairs
  uint8_t flashLamps = 0;  // byte 2
  std::vector<Dm1Fault> faults;
};
// Absent when shorter than the two lamp bytes. Fault slots that are all zero (no fault) or
// all 0xFF (padding) are skipped; a trailing partial slot is ignored.
std::optional<Dm1> DecodeDm1(const std::vector<uint8_t>& data);

// The VIN text up to the first '*' (or the end). Absent when empty or not printable ASCII.
std::optional<std::string> DecodeVin(const std::vector<uint8_t>& data);

// J1587 parameters of a J1708 message body (after the MID, checksum removed): PIDs 0-127
// carry 1 byte, 128-191 2 bytes, 192-253 a count byte and that many bytes; 254 and 255 are
// not parameters this tool reads, so parsing stops. Absent when a parameter runs past the end.
struct J1587Param {
  uint8_t pid = 0;
  std::vector<uint8_t> value;
};
std::optional<std::vector<J1587Param>> ParseJ1587(const std::vector<uint8_t>& body);
// PID 190, 0.25 rpm per bit (little-endian); PID 84, 0.805 km/h per bit.
std::optional<double> J1587EngineSpeedRpm(const std::vector<J1587Param>& params);
std::optional<double> J1587RoadSpeedKmh(const std::vector<J1587Param>& params);

// "F0 7D 7D" (upper case, one space between bytes).
std::string HexBytes(const uint8_t* p, size_t n);
inline std::string HexBytes(const std::vector<uint8_t>& v) { return HexBytes(v.data(), v.size()); }
// One monitor line per message, candump-like: "(sec.usec) ID  PGN/MID ...  [n] data  meaning".
// A J1939 message of more than 8 bytes was reassembled from a transport session and has no
// identifier of its own: "(sec.usec) PGN 65226 from 00, 28 bytes, reassembled  data  meaning"
// (" to DA" after the source for an RTS/CTS session).
std::string J1939Line(int64_t seconds, int32_t microseconds, const J1939Message& m);
std::string J1708Line(int64_t seconds, int32_t microseconds, const J1708Message& m);
std::string CanLine(int64_t seconds, int32_t microseconds, const CanMessage& m);
// Plain words for the messages above ("EEC1 engine 1000.0 rpm"); empty for other PGNs.
std::string DescribeJ1939(const J1939Message& m);
std::string DescribeJ1708(const J1708Message& m);

}  // namespace qv::tools
