// Command line of qvlink: the commands, their options, and the help text of each.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv::tools {

enum class Command { None, Demo, Monitor, Send, Request, Status, Version, Devices };
enum class Protocol { J1939, J1708, Can };

// monitor --id ID[/MASK]: a frame passes when (frame id & mask) == (id & mask).
struct IdFilter {
  uint32_t id = 0;
  uint32_t mask = 0x1FFFFFFF;
  bool operator==(const IdFilter& o) const { return id == o.id && mask == o.mask; }
};

struct Options {
  Command command = Command::None;
  bool help = false;                     // print the command's help (or the overview) and exit 0
  std::optional<int16_t> device;         // absent: the first of [VendorInformation] Devices
  Protocol protocol = Protocol::J1939;
  bool protocolGiven = false;
  std::optional<uint32_t> pgn;           // send PGN, request PGN; monitor: the first --pgn
  std::vector<uint32_t> pgns;            // monitor: any of these (J1939, CAN)
  std::vector<IdFilter> ids;             // monitor: any of these
  std::vector<uint8_t> sources;          // monitor: any of these source addresses
  bool adapterFilter = false;            // monitor: send the filters to the adapter as well
  std::optional<uint8_t> mid;            // monitor filter (J1708)
  std::optional<uint32_t> canId;         // send --protocol CAN, or the ID of ID#DATA
  bool extended = false;                 // send --protocol CAN: 29-bit identifier
  bool frameGiven = false;               // send ID#DATA (candump/cansend form)
  std::optional<uint32_t> count;         // monitor: stop after this many messages
  std::optional<uint32_t> seconds;       // monitor: stop after; demo: live traffic time
  std::string logPath;                   // candump log; "-" standard output
  std::string pcapPath;                  // pcap, link type 227; "-" standard output
  uint8_t priority = 6;
  uint8_t source = 0xF9;
  uint8_t destination = 0xFF;
  bool destinationGiven = false;
  bool bam = false;                      // long J1939 send by broadcast
  bool rts = false;                      // long J1939 send by RTS/CTS (also implied by --dest)
  uint32_t repeat = 1;                   // send: how many times
  uint32_t intervalMs = 0;               // send: pause between repeats
  uint32_t timeoutMs = 3000;             // request: wait for the answer
  std::vector<uint8_t> data;             // send: message bytes
};

struct ParseResult {
  bool ok = false;
  std::string error;  // one line, without the program name
  Options options;
};

// args excludes the program name.
ParseResult ParseArgs(const std::vector<std::string>& args);

const char* CommandName(Command c);
const char* ProtocolName(Protocol p);
// Overview for Command::None.
std::string HelpText(Command c);

// Decimal, or hexadecimal with 0x; the whole text must be a number no greater than max.
std::optional<uint32_t> ParseNumber(const std::string& text, uint32_t max);
// Hexadecimal with or without 0x (CAN identifiers, as candump and cansend write them).
std::optional<uint32_t> ParseHex(const std::string& text, uint32_t max);
// Hex bytes: "0102AB", "01 02 AB", "01:02:ab", "01.02.ab" (pieces joined); absent on an odd
// digit count or a non-hex character.
std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text);
// "ID/MASK" or "ID:MASK" or "ID", hex; absent when either is not a 29-bit hex number.
std::optional<IdFilter> ParseIdFilter(const std::string& text);

// True for a J1939 PGN whose PDU format is below 240: its low byte is the destination.
inline bool IsPdu1(uint32_t pgn) { return ((pgn >> 8) & 0xFF) < 240; }

}  // namespace qv::tools
