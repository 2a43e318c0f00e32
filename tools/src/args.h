// Command line of qvlink: the commands, their options, and the help text of each.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qv::tools {

enum class Command { None, Demo, Monitor, Send, Request, Status, Version, Devices };
enum class Protocol { J1939, J1708, Can };

struct Options {
  Command command = Command::None;
  bool help = false;                     // print the command's help (or the overview) and exit 0
  std::optional<int16_t> device;         // absent: the first of [VendorInformation] Devices
  Protocol protocol = Protocol::J1939;
  bool protocolGiven = false;
  std::optional<uint32_t> pgn;           // monitor filter, send PGN, request PGN
  std::optional<uint8_t> mid;            // monitor filter (J1708)
  std::optional<uint32_t> canId;         // send --protocol CAN
  bool extended = false;                 // send --protocol CAN: 29-bit identifier
  std::optional<uint32_t> count;         // monitor: stop after this many messages
  std::optional<uint32_t> seconds;       // monitor: stop after; demo: live traffic time
  std::string logPath;                   // candump log
  std::string pcapPath;                  // pcap, link type 227
  uint8_t priority = 6;
  uint8_t source = 0xF9;
  uint8_t destination = 0xFF;
  bool bam = false;                      // long J1939 send by broadcast instead of RTS/CTS
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
// Hex bytes: "0102AB", "01 02 AB", "01:02:ab" (pieces joined); absent on an odd digit count
// or a non-hex character.
std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text);

}  // namespace qv::tools
