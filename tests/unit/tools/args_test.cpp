// Command-line parsing: every command's options, and the errors a user can make.
#include <gtest/gtest.h>

#include "args.h"

namespace qv::tools {
namespace {

ParseResult P(std::vector<std::string> a) { return ParseArgs(a); }

TEST(ParseNumber, DecimalHexAndLimits) {
  EXPECT_EQ(ParseNumber("61444", 0x3FFFF), 61444u);
  EXPECT_EQ(ParseNumber("0xF004", 0x3FFFF), 0xF004u);
  EXPECT_EQ(ParseNumber("0XfeEC", 0x3FFFF), 0xFEECu);
  EXPECT_EQ(ParseNumber("0x3FFFF", 0x3FFFF), 0x3FFFFu);
  EXPECT_FALSE(ParseNumber("0x40000", 0x3FFFF));
  EXPECT_FALSE(ParseNumber("99999999999999999999", 0xFFFFFFFF));
  EXPECT_FALSE(ParseNumber("", 10));
  EXPECT_FALSE(ParseNumber("0x", 10));
  EXPECT_FALSE(ParseNumber("12a", 1000));
  EXPECT_FALSE(ParseNumber("-1", 1000));
  EXPECT_FALSE(ParseNumber(" 1", 1000));
}

TEST(ParseHexBytes, SeparatorsAndBadDigits) {
  EXPECT_EQ(ParseHexBytes("0102ab"), (std::vector<uint8_t>{1, 2, 0xAB}));
  EXPECT_EQ(ParseHexBytes("01 02:AB,ff"), (std::vector<uint8_t>{1, 2, 0xAB, 0xFF}));
  EXPECT_EQ(ParseHexBytes(""), std::vector<uint8_t>{});
  EXPECT_FALSE(ParseHexBytes("012"));
  EXPECT_FALSE(ParseHexBytes("0g"));
}

TEST(ParseArgs, MonitorWithEveryOption) {
  const auto r = P({"monitor", "--device", "101", "--protocol", "j1939", "--pgn", "0xF004", "--count", "3",
                    "--seconds", "9", "--log", "a.log", "--pcap", "a.pcap"});
  ASSERT_TRUE(r.ok) << r.error;
  const Options& o = r.options;
  EXPECT_EQ(o.command, Command::Monitor);
  EXPECT_EQ(o.device, 101);
  EXPECT_EQ(o.protocol, Protocol::J1939);
  EXPECT_EQ(o.pgn, 0xF004u);
  EXPECT_EQ(o.count, 3u);
  EXPECT_EQ(o.seconds, 9u);
  EXPECT_EQ(o.logPath, "a.log");
  EXPECT_EQ(o.pcapPath, "a.pcap");
  EXPECT_FALSE(P({"monitor"}).options.device);  // taken from the INI later
}

TEST(ParseArgs, SendRequestAndTheirDefaults) {
  auto r = P({"send", "--pgn", "0xEF00", "--dest", "0", "--priority", "3", "01", "02", "0304"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.data, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(r.options.destination, 0);
  EXPECT_EQ(r.options.priority, 3);
  EXPECT_EQ(r.options.source, 0xF9);
  EXPECT_FALSE(r.options.bam);
  r = P({"send", "--protocol", "CAN", "--id", "0x18FEF100", "AA"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.options.extended);  // an id above 11 bits is extended
  r = P({"request", "65260", "--dest", "0x00", "--timeout", "500"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.pgn, 65260u);
  EXPECT_EQ(r.options.destination, 0);
  EXPECT_EQ(r.options.timeoutMs, 500u);
  EXPECT_EQ(P({"request", "0xFEEC"}).options.destination, 0xFF);
}

TEST(ParseArgs, HelpForEveryCommand) {
  for (const char* c : {"demo", "monitor", "send", "request", "status", "version", "devices"}) {
    const auto r = P({c, "--help"});
    ASSERT_TRUE(r.ok) << c;
    EXPECT_TRUE(r.options.help);
    EXPECT_NE(HelpText(r.options.command).find(std::string("usage: qvlink ") + c), std::string::npos) << c;
    const auto h = P({"help", c});
    ASSERT_TRUE(h.ok);
    EXPECT_EQ(h.options.command, r.options.command);
  }
  const auto overview = P({"--help"});
  ASSERT_TRUE(overview.ok);
  EXPECT_EQ(overview.options.command, Command::None);
  EXPECT_NE(HelpText(Command::None).find("monitor"), std::string::npos);
  // --help wins over anything after it, even a bad value.
  EXPECT_TRUE(P({"monitor", "--help", "--device", "x"}).ok);
}

TEST(ParseArgs, ErrorsSayWhatIsWrong) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no command given (try qvlink --help)"},
      {{"frobnicate"}, "unknown command 'frobnicate' (try qvlink --help)"},
      {{"help", "frobnicate"}, "unknown command 'frobnicate' (try qvlink --help)"},
      {{"monitor", "--bogus"}, "monitor: unknown option --bogus"},
      {{"monitor", "--device"}, "monitor: --device needs a value"},
      {{"monitor", "--device", "0"}, "monitor: bad value '0' for --device (1 to 32767)"},
      {{"monitor", "--device", "40000"}, "monitor: bad value '40000' for --device (1 to 32767)"},
      {{"monitor", "--protocol", "KWP"}, "monitor: bad value 'KWP' for --protocol (J1939, J1708 or CAN)"},
      {{"monitor", "--pgn", "0x40000"}, "monitor: bad value '0x40000' for --pgn (0 to 0x3FFFF)"},
      {{"monitor", "--count", "0"}, "monitor: bad value '0' for --count (1 or more)"},
      {{"monitor", "--protocol", "J1708", "--pgn", "1"}, "monitor: --pgn applies to J1939 and CAN only"},
      {{"monitor", "--mid", "128"}, "monitor: --mid applies to J1708 only"},
      {{"monitor", "--protocol", "J1708", "--pcap", "x"}, "monitor: --log and --pcap hold CAN frames; J1708 has none"},
      {{"monitor", "extra"}, "monitor: unexpected argument 'extra'"},
      {{"version", "--device", "1"}, "version: unknown option --device"},
      {{"request"}, "request: give exactly one PGN"},
      {{"request", "1", "2"}, "request: give exactly one PGN"},
      {{"request", "0x40000"}, "request: bad PGN '0x40000' (0 to 0x3FFFF)"},
      {{"send", "01"}, "send: --pgn is required for J1939"},
      {{"send", "--pgn", "1", "0G"}, "send: bad hex data '0G'"},
      {{"send", "--pgn", "1", "--priority", "8"}, "send: bad value '8' for --priority (0 to 7)"},
      {{"send", "--pgn", "1", std::string(20, 'A')}, "send: a long message to the global address needs --bam (or give --dest)"},
      {{"send", "--pgn", "1", "--bam", std::string(1786 * 2, 'A')}, "send: J1939 data is at most 1785 bytes"},
      {{"send", "--protocol", "J1708"}, "send: J1708 message is 1 to 21 bytes"},
      {{"send", "--protocol", "CAN", "01"}, "send: --id is required for CAN"},
      {{"send", "--protocol", "CAN", "--id", "1", "010203040506070809"}, "send: CAN data is at most 8 bytes"},
      {{"monitor", "--log", ""}, "monitor: bad value '' for --log (a file name)"},
  };
  for (const auto& [args, error] : cases) {
    const auto r = ParseArgs(args);
    EXPECT_FALSE(r.ok) << error;
    EXPECT_EQ(r.error, error);
  }
}

}  // namespace
}  // namespace qv::tools
