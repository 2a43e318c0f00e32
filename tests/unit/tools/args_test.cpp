// Command-line parsing: every command's options, and the errors a user can make. Each table
// row is one command line and what it must give.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "args.h"

namespace qv::tools {
namespace {

using Args = std::vector<std::string>;

TEST(ParseNumber, DecimalHexAndLimits) {
  const struct {
    std::string text;
    uint32_t max;
    std::optional<uint32_t> want;
  } rows[] = {
      {"61444", 0x3FFFF, 61444u},       {"0xF004", 0x3FFFF, 0xF004u},  {"0XfeEC", 0x3FFFF, 0xFEECu},
      {"0x3FFFF", 0x3FFFF, 0x3FFFFu},   {"0x40000", 0x3FFFF, {}},      {"99999999999999999999", 0xFFFFFFFF, {}},
      {"", 10, {}},                     {"0x", 10, {}},                {"12a", 1000, {}},
      {"-1", 1000, {}},                 {" 1", 1000, {}},
  };
  for (const auto& r : rows) EXPECT_EQ(ParseNumber(r.text, r.max), r.want) << r.text;
}

TEST(ParseHex, WithOrWithoutPrefix) {
  const struct {
    std::string text;
    std::optional<uint32_t> want;
  } rows[] = {{"18FEF100", 0x18FEF100u}, {"0x7df", 0x7DFu}, {"100", 0x100u}, {"1FFFFFFF", 0x1FFFFFFFu},
              {"20000000", {}},          {"", {}},          {"0x", {}},      {"12g", {}}};
  for (const auto& r : rows) EXPECT_EQ(ParseHex(r.text, 0x1FFFFFFF), r.want) << r.text;
}

TEST(ParseHexBytes, SeparatorsAndBadDigits) {
  const struct {
    std::string text;
    std::optional<std::vector<uint8_t>> want;
  } rows[] = {
      {"0102ab", std::vector<uint8_t>{1, 2, 0xAB}}, {"01 02:AB,ff", std::vector<uint8_t>{1, 2, 0xAB, 0xFF}},
      {"11.22.33", std::vector<uint8_t>{0x11, 0x22, 0x33}}, {"", std::vector<uint8_t>{}},
      {"012", {}},                                   {"0g", {}},
  };
  for (const auto& r : rows) EXPECT_EQ(ParseHexBytes(r.text), r.want) << r.text;
}

TEST(ParseIdFilter, IdAndMask) {
  const struct {
    std::string text;
    std::optional<IdFilter> want;
  } rows[] = {
      {"18FEF100", IdFilter{0x18FEF100, 0x1FFFFFFF}}, {"00FEF100/00FFFF00", IdFilter{0x00FEF100, 0x00FFFF00}},
      {"7DF:7FF", IdFilter{0x7DF, 0x7FF}},            {"0x18FEF100/0xFF", IdFilter{0x18FEF100, 0xFF}},
      {"18FEF100/", {}},                              {"/FF", {}},
      {"20000000", {}},                               {"18FEF100/20000000", {}},
  };
  for (const auto& r : rows) EXPECT_EQ(ParseIdFilter(r.text), r.want) << r.text;
}

// Every field, one per line, so a row's expectation is checked whole.
std::string Dump(const Options& o) {
  std::ostringstream s;
  auto opt = [&](const char* n, const auto& v) {
    s << n << '=';
    if (v) s << static_cast<long long>(*v);
    else s << '-';
    s << '\n';
  };
  auto list = [&](const char* n, const auto& v) {
    s << n << '=';
    for (const auto& x : v) s << static_cast<long long>(x) << ' ';
    s << '\n';
  };
  s << "command=" << CommandName(o.command) << "\nhelp=" << o.help << '\n';
  opt("device", o.device);
  s << "protocol=" << ProtocolName(o.protocol) << " given=" << o.protocolGiven << '\n';
  opt("pgn", o.pgn);
  list("pgns", o.pgns);
  s << "ids=";
  for (const auto& f : o.ids) s << std::hex << f.id << '/' << f.mask << std::dec << ' ';
  s << '\n';
  list("sources", o.sources);
  s << "adapterFilter=" << o.adapterFilter << '\n';
  opt("mid", o.mid);
  opt("canId", o.canId);
  s << "extended=" << o.extended << " frame=" << o.frameGiven << '\n';
  opt("count", o.count);
  opt("seconds", o.seconds);
  s << "log=" << o.logPath << "\npcap=" << o.pcapPath << "\npriority=" << int(o.priority) << "\nsource=" << int(o.source)
    << "\ndest=" << int(o.destination) << " given=" << o.destinationGiven << "\nbam=" << o.bam << " rts=" << o.rts
    << "\nrepeat=" << o.repeat << " interval=" << o.intervalMs << "\ntimeout=" << o.timeoutMs << '\n';
  list("data", o.data);
  return s.str();
}

struct Accepted {
  Args args;
  std::function<void(Options&)> expect;  // applied to the defaults with the command set
};

TEST(ParseArgs, AcceptedCommandLines) {
  const std::vector<Accepted> rows = {
      {{"monitor"}, [](Options&) {}},
      {{"monitor", "--device", "101", "--protocol", "j1939", "--pgn", "0xF004", "--count", "3", "--seconds", "9", "--log",
        "a.log", "--pcap", "a.pcap"},
       [](Options& o) { o.device = 101, o.protocolGiven = true, o.pgn = 0xF004, o.pgns = {0xF004}, o.count = 3,
         o.seconds = 9, o.logPath = "a.log", o.pcapPath = "a.pcap"; }},
      // --opt=VALUE, short forms, a value joined to a short form.
      {{"monitor", "--device=101", "-c", "5", "-t7", "--pgn=61444"},
       [](Options& o) { o.device = 101, o.count = 5, o.seconds = 7, o.pgn = 61444, o.pgns = {61444}; }},
      {{"monitor", "-d", "102", "-c=2"}, [](Options& o) { o.device = 102, o.count = 2; }},
      // Several PGNs, sources and identifiers.
      {{"monitor", "--pgn", "61444", "--pgn", "65265", "--source", "0", "--source", "0x22", "--id", "18FEF100/FFFF00",
        "--id", "0CF00400"},
       [](Options& o) { o.pgn = 61444, o.pgns = {61444, 65265}, o.sources = {0, 0x22}, o.source = 0x22,
         o.ids = {{0x18FEF100, 0xFFFF00}, {0x0CF00400, 0x1FFFFFFF}}; }},
      {{"monitor", "--log", "-"}, [](Options& o) { o.logPath = "-"; }},
      {{"monitor", "--pcap=-", "--log", "x.log"}, [](Options& o) { o.pcapPath = "-", o.logPath = "x.log"; }},
      {{"monitor", "--pgn", "61444", "--adapter-filter"},
       [](Options& o) { o.pgn = 61444, o.pgns = {61444}, o.adapterFilter = true; }},
      {{"monitor", "--protocol", "CAN", "--id", "7DF", "--adapter-filter"},
       [](Options& o) { o.protocol = Protocol::Can, o.protocolGiven = true, o.ids = {{0x7DF, 0x1FFFFFFF}},
         o.adapterFilter = true; }},
      {{"monitor", "--protocol", "J1708", "--mid", "128", "--adapter-filter"},
       [](Options& o) { o.protocol = Protocol::J1708, o.protocolGiven = true, o.mid = 128, o.adapterFilter = true; }},
      {{"send", "--pgn", "0xEF00", "--dest", "0", "--priority", "3", "01", "02", "0304"},
       [](Options& o) { o.pgn = 0xEF00, o.pgns = {0xEF00}, o.destination = 0, o.destinationGiven = true,
         o.priority = 3, o.data = {1, 2, 3, 4}; }},
      // Long data: --dest alone means RTS/CTS; --bam broadcasts.
      {{"send", "--pgn", "0xEF00", "--dest", "5", std::string(20, 'A')},
       [](Options& o) { o.pgn = 0xEF00, o.pgns = {0xEF00}, o.destination = 5, o.destinationGiven = true,
         o.rts = true, o.data = std::vector<uint8_t>(10, 0xAA); }},
      {{"send", "--pgn", "65280", "--bam", std::string(20, 'A')},
       [](Options& o) { o.pgn = 65280, o.pgns = {65280}, o.bam = true, o.data = std::vector<uint8_t>(10, 0xAA); }},
      {{"send", "--pgn", "65226", "--dest", "0", "--rts", std::string(20, 'A')},
       [](Options& o) { o.pgn = 65226, o.pgns = {65226}, o.destination = 0, o.destinationGiven = true, o.rts = true,
         o.data = std::vector<uint8_t>(10, 0xAA); }},
      {{"send", "--pgn", "65280", "-n", "10", "--interval", "100", "11"},
       [](Options& o) { o.pgn = 65280, o.pgns = {65280}, o.repeat = 10, o.intervalMs = 100, o.data = {0x11}; }},
      // candump's ID#DATA: a 29-bit identifier goes out as J1939 with its parts...
      {{"send", "18FECAF9#0102030405060708"},
       [](Options& o) { o.frameGiven = true, o.canId = 0x18FECAF9, o.extended = true, o.priority = 6, o.pgn = 0xFECA,
         o.pgns = {0xFECA}, o.source = 0xF9, o.destination = 0xFF, o.data = {1, 2, 3, 4, 5, 6, 7, 8}; }},
      {{"send", "0CEF05F9#11.22"},  // PDU1: the PS byte is the destination
       [](Options& o) { o.frameGiven = true, o.canId = 0x0CEF05F9, o.extended = true, o.priority = 3, o.pgn = 0xEF00,
         o.pgns = {0xEF00}, o.source = 0xF9, o.destination = 0x05, o.data = {0x11, 0x22}; }},
      // ... an 11-bit one as CAN, as does any identifier with --protocol CAN.
      {{"send", "7DF#0201"},
       [](Options& o) { o.frameGiven = true, o.canId = 0x7DF, o.protocol = Protocol::Can, o.data = {2, 1}; }},
      {{"send", "--protocol", "CAN", "18DA00F1#"},
       [](Options& o) { o.frameGiven = true, o.canId = 0x18DA00F1, o.extended = true, o.protocol = Protocol::Can,
         o.protocolGiven = true; }},
      {{"send", "--protocol", "CAN", "--id", "18FEF100", "AA"},
       [](Options& o) { o.protocol = Protocol::Can, o.protocolGiven = true, o.canId = 0x18FEF100, o.extended = true,
         o.data = {0xAA}; }},
      {{"send", "--protocol", "CAN", "--id", "0x7DF", "AA"},
       [](Options& o) { o.protocol = Protocol::Can, o.protocolGiven = true, o.canId = 0x7DF, o.data = {0xAA}; }},
      {{"send", "--protocol", "J1708", "08 80 BE"},
       [](Options& o) { o.protocol = Protocol::J1708, o.protocolGiven = true, o.data = {8, 0x80, 0xBE}; }},
      {{"request", "65260", "--dest", "0x00", "--timeout", "500"},
       [](Options& o) { o.pgn = 65260, o.pgns = {65260}, o.destination = 0, o.destinationGiven = true,
         o.timeoutMs = 500; }},
      {{"request", "--pgn", "0xFEEC", "-t", "700"},
       [](Options& o) { o.pgn = 0xFEEC, o.pgns = {0xFEEC}, o.timeoutMs = 700; }},
      {{"request", "--pgn=65260"}, [](Options& o) { o.pgn = 65260, o.pgns = {65260}; }},
      {{"demo", "-t", "2"}, [](Options& o) { o.seconds = 2; }},
      {{"status", "--protocol", "J1708"}, [](Options& o) { o.protocol = Protocol::J1708, o.protocolGiven = true; }},
  };
  for (const auto& row : rows) {
    std::string line;
    for (const auto& a : row.args) line += a + " ";
    const auto r = ParseArgs(row.args);
    ASSERT_TRUE(r.ok) << line << ": " << r.error;
    Options want;
    want.command = r.options.command;
    EXPECT_EQ(std::string(CommandName(want.command)), row.args[0]) << line;
    row.expect(want);
    EXPECT_EQ(Dump(r.options), Dump(want)) << line;
  }
}

TEST(ParseArgs, HelpForEveryCommandNamesItsExitCodes) {
  const struct {
    const char* command;
    std::vector<std::string> mentions;
  } rows[] = {
      {"demo", {"Exit codes: 0", "1 a step failed", "2 bad command line", "115200 baud"}},
      {"monitor",
       {"Exit codes: 0", "1 failed", "2 bad command line", "3 QV121032.ini", "4 link", "link lost",
        "tshark -r FILE -d can.subdissector,j1939", "--log - | canplayer", "--id ID[/MASK]", "--adapter-filter",
        "-c C, --count C", "-t S, --seconds S", "filtered out", "PGN 65226 from 00, 28 bytes, reassembled"}},
      {"send",
       {"Exit codes: 0", "1 the adapter", "2 bad command line", "3 QV121032.ini", "4 link", "ID#HEX", "--repeat N",
        "--interval MS", "--rts"}},
      {"request", {"Exit codes: 0", "1 no answer", "2 bad command line", "3 QV121032.ini", "4 link", "--pgn PGN", "-t MS"}},
      {"status", {"Exit codes: 0", "1 the status", "2 bad command line", "3 QV121032.ini", "4 link"}},
      {"version", {"Exit codes: 0", "1 the library", "2 bad command line"}},
      {"devices", {"Exit codes: 0", "2 bad command line", "3 QV121032.ini"}},
  };
  for (const auto& row : rows) {
    const auto r = ParseArgs({row.command, "--help"});
    ASSERT_TRUE(r.ok) << row.command;
    EXPECT_TRUE(r.options.help);
    const std::string help = HelpText(r.options.command);
    EXPECT_NE(help.find(std::string("usage: qvlink ") + row.command), std::string::npos) << row.command;
    for (const auto& m : row.mentions) EXPECT_NE(help.find(m), std::string::npos) << row.command << ": " << m;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 92u) << row.command << ": " << line;
    const auto h = ParseArgs({"help", row.command});
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.options.command, r.options.command);
    EXPECT_TRUE(ParseArgs({row.command, "-h"}).options.help);
  }
  const auto overview = ParseArgs({"--help"});
  ASSERT_TRUE(overview.ok);
  EXPECT_EQ(overview.options.command, Command::None);
  for (const char* m : {"monitor", "Exit codes: 0", "2 bad command line", "3 configuration", "4 link", "--opt=VALUE"})
    EXPECT_NE(HelpText(Command::None).find(m), std::string::npos) << m;
  // --help wins over anything around it, even a bad value.
  EXPECT_TRUE(ParseArgs({"monitor", "--device", "x", "--help"}).ok);
  EXPECT_TRUE(ParseArgs({"monitor", "--help", "--device", "x"}).ok);
}

TEST(ParseArgs, ErrorsSayWhatIsWrong) {
  const std::string a20(20, 'A');
  const std::vector<std::pair<Args, std::string>> rows = {
      {{}, "no command given (try qvlink --help)"},
      {{"frobnicate"}, "unknown command 'frobnicate' (try qvlink --help)"},
      {{"help", "frobnicate"}, "unknown command 'frobnicate' (try qvlink --help)"},
      {{"monitor", "--bogus"}, "monitor: unknown option --bogus"},
      {{"monitor", "--bogus=1"}, "monitor: unknown option --bogus"},
      {{"monitor", "-x"}, "monitor: unknown option -x"},
      {{"send", "-c", "1"}, "send: unknown option -c"},
      {{"monitor", "--device"}, "monitor: --device needs a value"},
      {{"monitor", "-c"}, "monitor: --count needs a value"},
      {{"monitor", "--adapter-filter=1"}, "monitor: --adapter-filter takes no value"},
      {{"monitor", "--device", "0"}, "monitor: bad value '0' for --device (1 to 32767)"},
      {{"monitor", "--device=40000"}, "monitor: bad value '40000' for --device (1 to 32767)"},
      {{"monitor", "--protocol", "KWP"}, "monitor: bad value 'KWP' for --protocol (J1939, J1708 or CAN)"},
      {{"monitor", "--pgn", "0x40000"}, "monitor: bad value '0x40000' for --pgn (0 to 0x3FFFF)"},
      {{"monitor", "--count", "0"}, "monitor: bad value '0' for --count (1 or more)"},
      {{"monitor", "--id", "18FEF100/xyz"}, "monitor: bad value '18FEF100/xyz' for --id (hex ID or ID/MASK, 29-bit)"},
      {{"monitor", "--protocol", "J1708", "--pgn", "1"}, "monitor: --pgn applies to J1939 and CAN only"},
      {{"monitor", "--protocol", "J1708", "--source", "1"}, "monitor: --source applies to J1939 and CAN only (J1708: --mid)"},
      {{"monitor", "--protocol", "J1708", "--id", "1"}, "monitor: --id applies to J1939 and CAN only"},
      {{"monitor", "--mid", "128"}, "monitor: --mid applies to J1708 only"},
      {{"monitor", "--protocol", "J1708", "--pcap", "x"}, "monitor: --log and --pcap hold CAN frames; J1708 has none"},
      {{"monitor", "--log", "-", "--pcap", "-"},
       "monitor: --log - and --pcap - both want standard output; give one of them a file"},
      {{"monitor", "--adapter-filter"}, "monitor: --adapter-filter on J1939 takes --pgn or --source"},
      {{"monitor", "--protocol", "CAN", "--adapter-filter", "--pgn", "1"}, "monitor: --adapter-filter on CAN takes --id"},
      {{"monitor", "--protocol", "J1708", "--adapter-filter"}, "monitor: --adapter-filter on J1708 takes --mid"},
      {{"monitor", "--adapter-filter", "--pgn", "1", "--pgn", "2", "--pgn", "3", "--source", "1", "--source", "2",
        "--source", "3", "--source", "4", "--source", "5", "--source", "6", "--source", "7"},
       "monitor: --adapter-filter holds at most 20 entries (21 asked); leave it out to filter here"},
      {{"monitor", "extra"}, "monitor: unexpected argument 'extra'"},
      {{"monitor", "--log", ""}, "monitor: bad value '' for --log (a file name, or - for standard output)"},
      {{"version", "--device", "1"}, "version: unknown option --device"},
      {{"request"}, "request: give exactly one PGN (request PGN or request --pgn PGN)"},
      {{"request", "1", "2"}, "request: give exactly one PGN (request PGN or request --pgn PGN)"},
      {{"request", "1", "--pgn", "2"}, "request: give exactly one PGN (request PGN or request --pgn PGN)"},
      {{"request", "--pgn", "1", "--pgn", "2"}, "request: --pgn given twice (one PGN per request)"},
      {{"request", "0x40000"}, "request: bad PGN '0x40000' (0 to 0x3FFFF)"},
      {{"send", "01"}, "send: --pgn is required for J1939 (or give the frame as ID#HEX)"},
      {{"send", "--pgn", "1", "0G"}, "send: bad hex data '0G'"},
      {{"send", "--pgn", "65280", "--priority", "8"}, "send: bad value '8' for --priority (0 to 7)"},
      {{"send", "--pgn", "65280"}, "send: no data: give the message bytes in hex after the options"},
      // A PGN or destination that would not go out as written.
      {{"send", "--pgn", "0xEF12", "--dest", "5", "01"},
       "send: PGN 61202 (0xEF12) is peer-to-peer (PDU1): its low byte is the destination and would be dropped; "
       "use --pgn 0xEF00 --dest 0x12"},
      {{"send", "--pgn", "0x1EF12", "01"},
       "send: PGN 126738 (0x1EF12) is peer-to-peer (PDU1): its low byte is the destination and would be dropped; "
       "use --pgn 0x1EF00 --dest 0x12"},
      {{"send", "--pgn", "65280", "--dest", "5", "01"},
       "send: PGN 65280 (0xFF00) is a broadcast (PDU2) and has no destination; leave out --dest"},
      // Data longer than a frame without a way to carry it.
      {{"send", "--pgn", "65280", a20}, "send: 10 bytes are more than one frame: give --bam (broadcast) or --dest DA (RTS/CTS)"},
      {{"send", "--pgn", "65280", "--rts", a20}, "send: --rts needs --dest DA (RTS/CTS goes to one node)"},
      {{"send", "--pgn", "0xEF00", "--dest", "0", "--bam", a20},
       "send: --bam broadcasts to every node; leave out --dest (or use --rts)"},
      {{"send", "--pgn", "65280", "--bam", "--rts", a20}, "send: give --bam or --rts, not both"},
      {{"send", "--pgn", "65280", "--bam", "0102"}, "send: --bam and --rts are for more than 8 bytes; 2 bytes go in one frame"},
      {{"send", "--pgn", "65280", "--bam", std::string(1786 * 2, 'A')}, "send: J1939 data is at most 1785 bytes"},
      {{"send", "--pgn", "1", "--pgn", "2", "01"}, "send: --pgn given twice (one PGN per send)"},
      {{"send", "--pgn", "65280", "--repeat", "0", "01"}, "send: bad value '0' for --repeat (1 to 1000000)"},
      // ID#DATA.
      {{"send", "18FECAF9#010203040506070809"},
       "send: ID#HEX is one CAN frame of at most 8 bytes (9 given); for a long J1939 message use --pgn with --bam or --dest"},
      {{"send", "18FECA#01"}, "send: bad identifier '18FECA' in ID#HEX (3 hex digits: 11-bit, 8: 29-bit)"},
      {{"send", "3FFFFFFF#01"}, "send: bad identifier '3FFFFFFF' in ID#HEX (3 hex digits: 11-bit, 8: 29-bit)"},
      {{"send", "18FECAF9#0G"}, "send: bad hex data '0G'"},
      {{"send", "123#R"}, "send: '123#R' is not a classic CAN data frame (ID#HEX, at most 8 bytes)"},
      {{"send", "123##1"}, "send: '123##1' is not a classic CAN data frame (ID#HEX, at most 8 bytes)"},
      {{"send", "18FECAF9#01", "02"}, "send: ID#HEX is the whole frame; give nothing else after the options"},
      {{"send", "--pgn", "65280", "18FECAF9#01"},
       "send: ID#HEX gives the identifier; leave out --pgn, --priority, --source, --dest, --id, --bam and --rts"},
      {{"send", "--protocol", "J1939", "7DF#01"},
       "send: an 11-bit identifier is a CAN frame; use --protocol CAN (or leave --protocol out)"},
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
    EXPECT_EQ(r.error, error);
  }
}

}  // namespace
}  // namespace qv::tools
