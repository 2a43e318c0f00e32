// Command-line parsing: every command's options, and the errors a user can make. Each table
// row is one command line and what it must give.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "args.h"

namespace qv::tools {
namespace {

using Args = std::vector<std::string>;
using Fields = std::map<std::string, std::string>;

// Each option as text: numbers in decimal, an absent one "-", lists joined by commas.
std::string Text(long long v) { return std::to_string(v); }
std::string Text(const std::string& s) { return s; }
std::string Text(const IdFilter& f) {
  char b[24];
  std::snprintf(b, sizeof b, "%X/%X", f.id, f.mask);
  return b;
}
template <typename T>
std::string Text(const std::optional<T>& v) {
  return v ? Text(static_cast<long long>(*v)) : "-";
}
template <typename T>
std::string Text(const std::vector<T>& v) {
  std::string s;
  for (const auto& x : v) s += (s.empty() ? "" : ",") + Text(x);
  return s;
}

// Every option as name=value, so a row names only what differs from the defaults.
#define QV_FIELD(name) {#name, Text(o.name)}
Fields FieldsOf(const Options& o) {
  std::string data;
  char hex[3];
  for (uint8_t b : o.data) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    data += hex;
  }
  return {{"command", CommandName(o.command)}, {"protocol", ProtocolName(o.protocol)}, {"data", data},
          QV_FIELD(help),       QV_FIELD(device),      QV_FIELD(protocolGiven), QV_FIELD(pgn),
          QV_FIELD(pgns),       QV_FIELD(ids),         QV_FIELD(sources),       QV_FIELD(adapterFilter),
          QV_FIELD(mid),        QV_FIELD(canId),       QV_FIELD(extended),      QV_FIELD(frameGiven),
          QV_FIELD(count),      QV_FIELD(seconds),     QV_FIELD(logPath),       QV_FIELD(pcapPath),
          QV_FIELD(priority),   QV_FIELD(source),      QV_FIELD(destination),   QV_FIELD(destinationGiven),
          QV_FIELD(bam),        QV_FIELD(rts),         QV_FIELD(repeat),        QV_FIELD(intervalMs),
          QV_FIELD(timeoutMs)};
}
#undef QV_FIELD

TEST(ParseArgs, AcceptedCommandLines) {
  const std::string a20(20, 'A');
  // The command line, then the fields that differ from the defaults ("key=value ...").
  const std::vector<std::pair<Args, std::string>> rows = {
      {{"monitor"}, ""},
      {{"monitor", "--device", "101", "--protocol", "j1939", "--pgn", "0xF004", "--count", "3", "--seconds", "9",
        "--log", "a.log", "--pcap", "a.pcap"},
       "device=101 protocolGiven=1 pgn=61444 pgns=61444 count=3 seconds=9 logPath=a.log pcapPath=a.pcap"},
      // --opt=VALUE, short forms, a value joined to a short form.
      {{"monitor", "-d", "101", "-c=5", "-t7", "--pgn=0XfeEC"}, "device=101 count=5 seconds=7 pgn=65260 pgns=65260"},
      // Several PGNs, sources and identifiers; hex with or without 0x, a mask after / or :.
      {{"monitor", "--pgn", "61444", "--pgn", "0x3FFFF", "--source", "0", "--source", "0x22", "--id", "18FEF100/FFFF00",
        "--id", "0CF00400", "--id", "7DF:7FF", "--id", "0x1FFFFFFF/0xFF"},
       "pgn=61444 pgns=61444,262143 sources=0,34 source=34 ids=18FEF100/FFFF00,CF00400/1FFFFFFF,7DF/7FF,1FFFFFFF/FF"},
      {{"monitor", "--protocol", "CAN", "--id", "7DF", "--adapter-filter"},
       "protocol=CAN protocolGiven=1 ids=7DF/1FFFFFFF adapterFilter=1"},
      {{"monitor", "--protocol", "J1708", "--mid", "128", "--adapter-filter"},
       "protocol=J1708 protocolGiven=1 mid=128 adapterFilter=1"},
      // Data in pieces, with any of the separators.
      {{"send", "--pgn", "0xEF00", "--dest", "0", "--priority", "3", "01", "02:ab,FF", "03.04"},
       "pgn=61184 pgns=61184 destination=0 destinationGiven=1 priority=3 data=0102ABFF0304"},
      // Long data: --bam broadcasts, --rts goes to --dest (--dest alone: the send test).
      {{"send", "--pgn", "65280", "--bam", a20}, "pgn=65280 pgns=65280 bam=1 data=" + a20},
      {{"send", "--pgn", "65226", "--dest", "0", "--rts", a20},
       "pgn=65226 pgns=65226 destination=0 destinationGiven=1 rts=1 data=" + a20},
      {{"send", "--pgn", "65280", "-n", "10", "--interval", "100", "11"},
       "pgn=65280 pgns=65280 repeat=10 intervalMs=100 data=11"},
      // candump's ID#DATA (a 29-bit one as J1939: the send test): 11 bits, or --protocol CAN, is CAN.
      {{"send", "7DF#0201"}, "frameGiven=1 canId=2015 protocol=CAN data=0201"},
      {{"send", "--protocol", "CAN", "18DA00F1#"}, "frameGiven=1 canId=416940273 extended=1 protocol=CAN protocolGiven=1"},
      {{"demo", "-t", "2"}, "seconds=2"},
  };
  for (const auto& [args, changes] : rows) {
    const std::string line = args[0] + " row: " + changes;
    const auto r = ParseArgs(args);
    ASSERT_TRUE(r.ok) << line << ": " << r.error;
    Options defaults;
    defaults.command = r.options.command;
    Fields want = FieldsOf(defaults);
    EXPECT_EQ(want["command"], args[0]) << line;
    std::istringstream in(changes);
    for (std::string kv; in >> kv;) {
      const size_t eq = kv.find('=');
      ASSERT_TRUE(want.count(kv.substr(0, eq))) << line << ": no field " << kv;
      want[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    EXPECT_EQ(FieldsOf(r.options), want) << line;
  }
}

// Every command has its own help, reached two ways; --help wins over anything around it, even a
// bad value. Without a command it is the overview.
TEST(ParseArgs, HelpForEveryCommand) {
  for (const char* command : {"demo", "monitor", "send", "request", "status", "version", "devices"}) {
    const auto r = ParseArgs({command, "--device", "x", "-h"});
    ASSERT_TRUE(r.ok && r.options.help) << command;
    EXPECT_EQ(HelpText(r.options.command).rfind(std::string("usage: qvlink ") + command, 0), 0u);
    EXPECT_EQ(ParseArgs({"help", command}).options.command, r.options.command);
  }
  const auto overview = ParseArgs({"--help"});
  ASSERT_TRUE(overview.ok && overview.options.help);
  EXPECT_EQ(overview.options.command, Command::None);
}

// Each refusal by its line, or by its start ("...") where the rest is advice in the tool's words.
TEST(ParseArgs, ErrorsSayWhatIsWrong) {
  const std::string a20(20, 'A');
  const std::vector<std::pair<Args, std::string>> rows = {
      {{}, "no command given (try qvlink --help)"},
      {{"frobnicate"}, "unknown command 'frobnicate' (try qvlink --help)"},
      {{"help", "frobnicate"}, "unknown command 'frobnicate' (try qvlink --help)"},
      {{"monitor", "--bogus"}, "monitor: unknown option --bogus"},
      {{"monitor", "--bogus=1"}, "monitor: unknown option --bogus"},
      {{"send", "-c", "1"}, "send: unknown option -c"},
      {{"monitor", "-c"}, "monitor: --count needs a value"},
      {{"monitor", "--adapter-filter=1"}, "monitor: --adapter-filter takes no value"},
      {{"monitor", "--device", "0"}, "monitor: bad value '0' for --device (1 to 32767)"},
      {{"monitor", "--device=40000"}, "monitor: bad value '40000' for --device (1 to 32767)"},
      {{"monitor", "--protocol", "KWP"}, "monitor: bad value 'KWP' for --protocol (J1939, J1708 or CAN)"},
      {{"monitor", "--pgn", "0x40000"}, "monitor: bad value '0x40000' for --pgn (0 to 0x3FFFF)"},
      {{"monitor", "--count", "0"}, "monitor: bad value '0' for --count (1 or more)"},
      // Numbers: the whole text, decimal or 0x hex, within 32 bits.
      {{"monitor", "--count", ""}, "monitor: bad value '' for --count (1 or more)"},
      {{"monitor", "--count", "12a"}, "monitor: bad value '12a' for --count (1 or more)"},
      {{"monitor", "--id", "/FF"}, "monitor: bad value '/FF' for --id (hex ID or ID/MASK, 29-bit)"},
      {{"monitor", "--id", "20000000"}, "monitor: bad value '20000000' for --id (hex ID or ID/MASK, 29-bit)"},
      {{"monitor", "--id", "1/20000000"}, "monitor: bad value '1/20000000' for --id (hex ID or ID/MASK, 29-bit)"},
      {{"monitor", "--protocol", "J1708", "--pgn", "1"}, "monitor: --pgn applies to J1939 and CAN only"},
      {{"monitor", "--protocol", "J1708", "--source", "1"}, "monitor: --source applies to J1939 and CAN only (J1708: --mid)"},
      {{"monitor", "--protocol", "J1708", "--id", "1"}, "monitor: --id applies to J1939 and CAN only"},
      {{"monitor", "--mid", "128"}, "monitor: --mid applies to J1708 only"},
      {{"monitor", "--protocol", "J1708", "--pcap", "x"}, "monitor: --log and --pcap hold CAN frames; J1708 has none"},
      {{"monitor", "--log", "-", "--pcap", "-"}, "monitor: --log - and --pcap - both want standard output..."},
      {{"monitor", "--adapter-filter"}, "monitor: --adapter-filter on J1939 takes --pgn or --source"},
      {{"monitor", "--protocol", "CAN", "--adapter-filter", "--pgn", "1"}, "monitor: --adapter-filter on CAN takes --id"},
      {{"monitor", "--protocol", "J1708", "--adapter-filter"}, "monitor: --adapter-filter on J1708 takes --mid"},
      {{"monitor", "--adapter-filter", "--pgn", "1", "--pgn", "2", "--pgn", "3", "--source", "1", "--source", "2",
        "--source", "3", "--source", "4", "--source", "5", "--source", "6", "--source", "7"},
       "monitor: --adapter-filter holds at most 20 entries (21 asked)..."},
      {{"monitor", "extra"}, "monitor: unexpected argument 'extra'"},
      {{"monitor", "--log", ""}, "monitor: bad value '' for --log (a file name, or - for standard output)"},
      {{"request"}, "request: give exactly one PGN (request PGN or request --pgn PGN)"},
      {{"request", "1", "--pgn", "2"}, "request: give exactly one PGN (request PGN or request --pgn PGN)"},
      {{"request", "--pgn", "1", "--pgn", "2"}, "request: --pgn given twice (one PGN per request)"},
      {{"request", "0x40000"}, "request: bad PGN '0x40000' (0 to 0x3FFFF)"},
      {{"send", "01"}, "send: --pgn is required for J1939 (or give the frame as ID#HEX)"},
      {{"send", "--pgn", "1", "0G"}, "send: bad hex data '0G'"},
      {{"send", "--pgn", "1", "012"}, "send: bad hex data '012'"},
      {{"send", "--pgn", "65280", "--priority", "8"}, "send: bad value '8' for --priority (0 to 7)"},
      {{"send", "--pgn", "65280"}, "send: no data: give the message bytes in hex after the options"},
      // A PGN or destination that would not go out as written (0xEF12: qvlink's exit-code test).
      {{"send", "--pgn", "0x1EF12", "01"},
       "send: PGN 126738 (0x1EF12) is peer-to-peer (PDU1): its low byte is the destination and would be dropped; "
       "use --pgn 0x1EF00 --dest 0x12"},
      {{"send", "--pgn", "65280", "--dest", "5", "01"}, "send: PGN 65280 (0xFF00) is a broadcast (PDU2)..."},
      // Data longer than a frame without a way to carry it.
      {{"send", "--pgn", "65280", a20}, "send: 10 bytes are more than one frame: give --bam (broadcast) or --dest DA (RTS/CTS)"},
      {{"send", "--pgn", "65280", "--rts", a20}, "send: --rts needs --dest DA (RTS/CTS goes to one node)"},
      {{"send", "--pgn", "0xEF00", "--dest", "0", "--bam", a20}, "send: --bam broadcasts to every node..."},
      {{"send", "--pgn", "65280", "--bam", "--rts", a20}, "send: give --bam or --rts, not both"},
      {{"send", "--pgn", "65280", "--bam", "0102"}, "send: --bam and --rts are for more than 8 bytes; 2 bytes go in one frame"},
      {{"send", "--pgn", "65280", "--bam", std::string(1786 * 2, 'A')}, "send: J1939 data is at most 1785 bytes"},
      {{"send", "--pgn", "65280", "--repeat", "0", "01"}, "send: bad value '0' for --repeat (1 to 1000000)"},
      // ID#DATA.
      {{"send", "18FECAF9#010203040506070809"}, "send: ID#HEX is one CAN frame of at most 8 bytes (9 given)..."},
      {{"send", "18FECA#01"}, "send: bad identifier '18FECA' in ID#HEX (3 hex digits: 11-bit, 8: 29-bit)"},
      {{"send", "3FFFFFFF#01"}, "send: bad identifier '3FFFFFFF' in ID#HEX (3 hex digits: 11-bit, 8: 29-bit)"},
      {{"send", "18FECAF9#0G"}, "send: bad hex data '0G'"},
      {{"send", "123#R"}, "send: '123#R' is not a classic CAN data frame (ID#HEX, at most 8 bytes)"},
      {{"send", "18FECAF9#01", "02"}, "send: ID#HEX is the whole frame; give nothing else after the options"},
      {{"send", "--pgn", "65280", "18FECAF9#01"}, "send: ID#HEX gives the identifier; leave out --pgn..."},
      {{"send", "--protocol", "J1939", "7DF#01"}, "send: an 11-bit identifier is a CAN frame..."},
      {{"send", "--protocol", "J1708", "18FECAF9#01"}, "send: ID#HEX is a CAN frame; J1708 has none"},
      {{"send", "--protocol", "J1708"}, "send: J1708 message is 1 to 21 bytes"},
      {{"send", "--protocol", "CAN", "01"}, "send: --id is required for CAN (or give the frame as ID#HEX)"},
      {{"send", "--protocol", "CAN", "--id", "7DF"}, "send: no data: give the frame's bytes in hex after the options"},
      {{"send", "--protocol", "CAN", "--id", "1", "010203040506070809"}, "send: CAN data is at most 8 bytes"},
      {{"send", "--protocol", "CAN", "--id", "20000000", "01"}, "send: bad value '20000000' for --id (hex, 0 to 1FFFFFFF)"},
  };
  for (const auto& [args, error] : rows) {
    const auto r = ParseArgs(args);
    EXPECT_FALSE(r.ok) << error;
    const bool head = error.size() > 3 && error.compare(error.size() - 3, 3, "...") == 0;
    EXPECT_EQ(head ? r.error.substr(0, error.size() - 3) + "..." : r.error, error);
  }
}

}  // namespace
}  // namespace qv::tools
