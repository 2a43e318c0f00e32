#include "args.h"

#include <cctype>
#include <cstring>

namespace qv::tools {
namespace {

struct CommandInfo {
  Command command;
  const char* name;
  const char* options;  // space-separated option names the command accepts
  const char* help;
};

const CommandInfo kCommands[] = {
    {Command::Demo, "demo", "--seconds",
     "usage: qvlink demo [--seconds S]\n"
     "Runs the built-in simulator on a pseudo-terminal with a temporary QV121032.ini, connects\n"
     "J1939 and J1708 clients through QV121032, shows decoded live traffic for S seconds\n"
     "(default 4), requests the VIN, sends a 1785-byte message by RTS/CTS and prints a summary.\n"
     "Exit 0 when every step worked, 1 otherwise (the reason is printed).\n"},
    {Command::Monitor, "monitor", "--device --protocol --pgn --mid --count --seconds --log --pcap",
     "usage: qvlink monitor [--device N] [--protocol J1939|J1708|CAN] [--pgn P] [--mid M]\n"
     "                      [--count C] [--seconds S] [--log FILE] [--pcap FILE]\n"
     "Prints one line per received message: time, source, PGN or MID, data in hex, meaning.\n"
     "  --pgn P      only this J1939 PGN (J1939, CAN)     --mid M     only this MID (J1708)\n"
     "  --count C    stop after C messages                --seconds S stop after S seconds\n"
     "  --log FILE   candump log (\"(time) qv0 ID#DATA\")   --pcap FILE pcap, SocketCAN (227)\n"
     "Without --count or --seconds it runs until interrupted. --device defaults to the first\n"
     "device of QV121032.ini. Reassembled long messages (more than 8 bytes) are printed but\n"
     "not captured: a capture holds single CAN frames.\n"},
    {Command::Send, "send", "--device --protocol --pgn --priority --source --dest --bam --id --extended",
     "usage: qvlink send [--device N] --pgn P [--priority 0-7] [--source SA] [--dest DA] [--bam] HEX\n"
     "       qvlink send [--device N] --protocol J1708 HEX\n"
     "       qvlink send [--device N] --protocol CAN --id ID [--extended] HEX\n"
     "Sends one message and waits for the adapter to take it. J1939 data of 9 to 1785 bytes\n"
     "travel by RTS/CTS to --dest (default 0xFF, global, which needs --bam) or by BAM with --bam.\n"
     "J1708 bytes are the RP1210 J1708 message as given (priority, MID, data).\n"
     "Numbers: decimal or 0x hex. HEX: 0102AB, \"01 02 AB\" or 01:02:AB.\n"},
    {Command::Request, "request", "--device --source --dest --timeout",
     "usage: qvlink request PGN [--device N] [--dest DA] [--source SA] [--timeout MS]\n"
     "Sends a J1939 request (PGN 59904) for PGN to DA (default 0xFF, global) and prints every\n"
     "answer that arrives within MS milliseconds (default 3000); exit 1 when none came.\n"},
    {Command::Status, "status", "--device --protocol",
     "usage: qvlink status [--device N] [--protocol J1939|J1708|CAN]\n"
     "Connects a client and prints the RP1210 hardware status block and the library version.\n"},
    {Command::Version, "version", "",
     "usage: qvlink version\n"
     "Prints the version of qvlink and of the QV121032 library it loads.\n"},
    {Command::Devices, "devices", "",
     "usage: qvlink devices\n"
     "Lists the devices and protocols of QV121032.ini ([VendorInformation] Devices and Protocols\n"
     "and their sections) in the profile directory ($QV_PROFILE_DIR, default /etc/qvlink).\n"},
};

const char kOverview[] =
    "usage: qvlink COMMAND [options]     (qvlink COMMAND --help for one command)\n"
    "  demo       the whole link against the built-in simulator, with a summary\n"
    "  monitor    print received J1939, J1708 or CAN messages; --log, --pcap captures\n"
    "  send       send one J1939, J1708 or CAN message\n"
    "  request    send a J1939 request for a PGN and print the answers\n"
    "  status     hardware status of a device\n"
    "  version    versions of qvlink and QV121032\n"
    "  devices    devices and protocols listed in QV121032.ini\n";

const CommandInfo* FindCommand(const std::string& name) {
  for (const auto& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

const CommandInfo* InfoOf(Command command) {
  for (const auto& c : kCommands)
    if (c.command == command) return &c;
  return nullptr;
}

bool Accepts(const CommandInfo& c, const std::string& option) {
  const std::string list = std::string(" ") + c.options + " ";
  return list.find(" " + option + " ") != std::string::npos;
}

bool TakesValue(const std::string& option) {
  return option != "--bam" && option != "--extended";
}

bool EqualsNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

const char* CommandName(Command c) {
  const CommandInfo* info = InfoOf(c);
  return info ? info->name : "";
}

const char* ProtocolName(Protocol p) {
  switch (p) {
    case Protocol::J1939: return "J1939";
    case Protocol::J1708: return "J1708";
    case Protocol::Can: return "CAN";
  }
  return "";
}

std::string HelpText(Command c) {
  const CommandInfo* info = InfoOf(c);
  return info ? info->help : kOverview;
}

std::optional<uint32_t> ParseNumber(const std::string& text, uint32_t max) {
  size_t at = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    at = 2;
    base = 16;
  }
  if (at >= text.size()) return std::nullopt;
  uint64_t v = 0;
  for (; at < text.size(); ++at) {
    const int c = std::tolower(static_cast<unsigned char>(text[at]));
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return std::nullopt;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    if (v > max) return std::nullopt;
  }
  return static_cast<uint32_t>(v);
}

std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == ',') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits.push_back(c);
  }
  if (digits.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  for (size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

ParseResult ParseArgs(const std::vector<std::string>& args) {
  ParseResult r;
  Options& o = r.options;
  auto fail = [&](std::string why) {
    r.ok = false;
    r.error = std::move(why);
    return r;
  };
  if (args.empty()) return fail("no command given (try qvlink --help)");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    o.help = true;
    if (args.size() > 1) {
      const CommandInfo* c = FindCommand(args[1]);
      if (c == nullptr) return fail("unknown command '" + args[1] + "' (try qvlink --help)");
      o.command = c->command;
    }
    r.ok = true;
    return r;
  }
  const CommandInfo* cmd = FindCommand(args[0]);
  if (cmd == nullptr) return fail("unknown command '" + args[0] + "' (try qvlink --help)");
  o.command = cmd->command;

  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
      r.ok = true;
      return r;
    }
    if (a.size() < 2 || a[0] != '-' || a[1] != '-') {
      positional.push_back(a);
      continue;
    }
    if (!Accepts(*cmd, a)) return fail(std::string(cmd->name) + ": unknown option " + a);
    std::string v;
    if (TakesValue(a)) {
      if (i + 1 >= args.size()) return fail(std::string(cmd->name) + ": " + a + " needs a value");
      v = args[++i];
    }
    auto number = [&](uint32_t min, uint32_t max) -> std::optional<uint32_t> {
      const auto n = ParseNumber(v, max);
      if (!n || *n < min) return std::nullopt;
      return n;
    };
    auto bad = [&](const char* range) {
      return fail(std::string(cmd->name) + ": bad value '" + v + "' for " + a + " (" + range + ")");
    };
    if (a == "--device") {
      const auto n = number(1, 32767);
      if (!n) return bad("1 to 32767");
      o.device = static_cast<int16_t>(*n);
    } else if (a == "--protocol") {
      if (EqualsNoCase(v, "J1939")) o.protocol = Protocol::J1939;
      else if (EqualsNoCase(v, "J1708")) o.protocol = Protocol::J1708;
      else if (EqualsNoCase(v, "CAN")) o.protocol = Protocol::Can;
      else return bad("J1939, J1708 or CAN");
      o.protocolGiven = true;
    } else if (a == "--pgn") {
      const auto n = number(0, 0x3FFFF);
      if (!n) return bad("0 to 0x3FFFF");
      o.pgn = *n;
    } else if (a == "--mid") {
      const auto n = number(0, 255);
      if (!n) return bad("0 to 255");
      o.mid = static_cast<uint8_t>(*n);
    } else if (a == "--count") {
      const auto n = number(1, 100000000);
      if (!n) return bad("1 or more");
      o.count = *n;
    } else if (a == "--seconds") {
      const auto n = number(1, 86400);
      if (!n) return bad("1 to 86400");
      o.seconds = *n;
    } else if (a == "--timeout") {
      const auto n = number(1, 600000);
      if (!n) return bad("1 to 600000 ms");
      o.timeoutMs = *n;
    } else if (a == "--priority") {
      const auto n = number(0, 7);
      if (!n) return bad("0 to 7");
      o.priority = static_cast<uint8_t>(*n);
    } else if (a == "--source" || a == "--dest") {
      const auto n = number(0, 255);
      if (!n) return bad("0 to 255");
      (a == "--source" ? o.source : o.destination) = static_cast<uint8_t>(*n);
    } else if (a == "--id") {
      const auto n = number(0, 0x1FFFFFFF);
      if (!n) return bad("0 to 0x1FFFFFFF");
      o.canId = *n;
    } else if (a == "--log" || a == "--pcap") {
      if (v.empty()) return bad("a file name");
      (a == "--log" ? o.logPath : o.pcapPath) = v;
    } else if (a == "--bam") {
      o.bam = true;
    } else if (a == "--extended") {
      o.extended = true;
    }
  }

  const std::string name = cmd->name;
  switch (o.command) {
    case Command::Request: {
      if (positional.size() != 1) return fail("request: give exactly one PGN");
      const auto pgn = ParseNumber(positional[0], 0x3FFFF);
      if (!pgn) return fail("request: bad PGN '" + positional[0] + "' (0 to 0x3FFFF)");
      o.pgn = *pgn;
      break;
    }
    case Command::Send: {
      std::string joined;
      for (const auto& p : positional) joined += p;
      const auto bytes = ParseHexBytes(joined);
      if (!bytes) return fail("send: bad hex data '" + joined + "'");
      o.data = *bytes;
      if (o.protocol == Protocol::J1939) {
        if (!o.pgn) return fail("send: --pgn is required for J1939");
        if (o.data.size() > 1785) return fail("send: J1939 data is at most 1785 bytes");
        if (o.data.size() > 8 && !o.bam && o.destination == 0xFF)
          return fail("send: a long message to the global address needs --bam (or give --dest)");
      } else if (o.protocol == Protocol::J1708) {
        if (o.data.empty() || o.data.size() > 21) return fail("send: J1708 message is 1 to 21 bytes");
      } else {
        if (!o.canId) return fail("send: --id is required for CAN");
        if (*o.canId > 0x7FF) o.extended = true;
        if (o.data.size() > 8) return fail("send: CAN data is at most 8 bytes");
      }
      break;
    }
    default:
      if (!positional.empty()) return fail(name + ": unexpected argument '" + positional[0] + "'");
      break;
  }
  if (o.command == Command::Monitor) {
    if (o.mid && o.protocol != Protocol::J1708) return fail("monitor: --mid applies to J1708 only");
    if (o.pgn && o.protocol == Protocol::J1708) return fail("monitor: --pgn applies to J1939 and CAN only");
    if (o.protocol == Protocol::J1708 && (!o.logPath.empty() || !o.pcapPath.empty()))
      return fail("monitor: --log and --pcap hold CAN frames; J1708 has none");
  }
  r.ok = true;
  return r;
}

}  // namespace qv::tools
