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

#define QV_EXIT_LINK_WORDS "port absent or busy, modem or adapter silent"

const CommandInfo kCommands[] = {
    {Command::Demo, "demo", "--seconds",
     "usage: qvlink demo [--seconds S]\n"
     "Runs the built-in simulator on a pseudo-terminal with a temporary QV121032.ini, connects\n"
     "J1939 and J1708 clients through QV121032, shows decoded live traffic for S seconds\n"
     "(default 4), requests the VIN, sends a 1785-byte message by RTS/CTS and prints a summary.\n"
     "The simulated serial line runs at 115200 baud 8N1, so the times shown are a real link's.\n"
     "  -t S, --seconds S   live traffic time\n"
     "Exit codes: 0 every step worked; 1 a step failed (the reason is printed);\n"
     "            2 bad command line.\n"},
    {Command::Monitor, "monitor",
     "--device --protocol --pgn --id --source --mid --adapter-filter --count --seconds --log --pcap",
     "usage: qvlink monitor [--device N] [--protocol J1939|J1708|CAN] [filters] [--count C]\n"
     "                      [--seconds S] [--log FILE|-] [--pcap FILE|-]\n"
     "Prints one line per received message: time, identifier, PGN or MID, data in hex, meaning.\n"
     "  -d N, --device N     device of QV121032.ini (default: the first it lists)\n"
     "  -c C, --count C      stop after C messages shown\n"
     "  -t S, --seconds S    stop after S seconds (without -c or -t: until Ctrl-C)\n"
     "Filters (any given value of one kind passes; kinds combine with AND):\n"
     "  --pgn P              J1939 PGN, repeatable (J1939, CAN)\n"
     "  --id ID[/MASK]       identifier in hex as candump writes it, 29-bit, repeatable;\n"
     "                       passes when id & MASK == ID & MASK (MASK default 1FFFFFFF)\n"
     "  --source SA          source address, repeatable (J1939, CAN)\n"
     "  --mid M              J1708 MID\n"
     "  --adapter-filter     also have the adapter filter (RP1210 filter commands: --pgn and\n"
     "                       --source on J1939, --id on CAN, --mid on J1708); without it the\n"
     "                       adapter passes everything and the filters run here\n"
     "The summary on stderr says how many messages were shown and how many filtered out.\n"
     "Captures (single CAN frames; a reassembled long message is printed, not captured):\n"
     "  --log FILE           candump log \"(time) qv0 ID#DATA\" (canplayer, log2asc, python-can)\n"
     "  --pcap FILE          pcap, link type 227 (SocketCAN), for Wireshark and tshark. Debian's\n"
     "                       tshark 4.0 shows the J1939 fields only when told to:\n"
     "                         tshark -r FILE -d can.subdissector,j1939\n"
     "                       (Wireshark: Decode As..., CAN next level dissector J1939)\n"
     "  FILE -               standard output, for a pipe (the message lines are then not printed):\n"
     "                         --log - | canplayer ...     --pcap - | wireshark -k -i -\n"
     "A reassembled long message prints as \"PGN 65226 from 00, 28 bytes, reassembled\".\n"
     "Exit codes: 0 done; 1 failed (fewer than C messages, capture not written);\n"
     "            2 bad command line; 3 QV121032.ini missing or the device not in it;\n"
     "            4 link: " QV_EXIT_LINK_WORDS ",\n"
     "              or link lost while monitoring.\n"},
    {Command::Send, "send",
     "--device --protocol --pgn --priority --source --dest --bam --rts --id --extended --repeat --interval",
     "usage: qvlink send [--device N] --pgn P [--priority 0-7] [--source SA] [--dest DA]\n"
     "                   [--bam | --rts] HEX\n"
     "       qvlink send [--device N] ID#HEX            (candump/cansend form)\n"
     "       qvlink send [--device N] --protocol CAN --id ID [--extended] HEX\n"
     "       qvlink send [--device N] --protocol J1708 HEX\n"
     "Sends a message and waits for the adapter to take it.\n"
     "  --pgn P         J1939 PGN. A peer-to-peer PGN (PDU format below 240) has 00 as its low\n"
     "                  byte; the destination goes in --dest. A broadcast PGN takes no --dest\n"
     "                  unless the data is long (RTS/CTS to that address).\n"
     "  --dest DA       destination (default FF, global)\n"
     "  --bam, --rts    data of 9 to 1785 bytes: --bam broadcasts it, --rts (or --dest alone)\n"
     "                  sends it by RTS/CTS to --dest; up to 8 bytes go in one frame\n"
     "  ID#HEX          one CAN frame: 8 hex digits are a 29-bit identifier (sent as J1939:\n"
     "                  priority, PGN, destination and source taken from it), 3 an 11-bit one\n"
     "                  (sent as CAN); at most 8 data bytes; 18FECAF9#0102030405060708\n"
     "  --id ID         CAN identifier in hex (0x optional); above 7FF it is 29-bit\n"
     "  -n N, --repeat N     send N times          --interval MS  pause between sends\n"
     "J1708 bytes are the RP1210 J1708 message as given (priority, MID, data).\n"
     "Numbers: decimal or 0x hex; identifiers: hex. HEX: 0102AB, \"01 02 AB\", 01:02:AB, 01.02.AB.\n"
     "Anything that would not go out as written (a PGN's low byte dropped, long data without\n"
     "--bam or a destination, no data) is refused with the reason.\n"
     "Exit codes: 0 sent; 1 the adapter did not take it; 2 bad command line;\n"
     "            3 QV121032.ini missing or the device not in it;\n"
     "            4 link: " QV_EXIT_LINK_WORDS ".\n"},
    {Command::Request, "request", "--device --pgn --source --dest --timeout",
     "usage: qvlink request PGN [--device N] [--dest DA] [--source SA] [--timeout MS]\n"
     "       qvlink request --pgn PGN ...\n"
     "Sends a J1939 request (PGN 59904) for PGN to DA (default FF, global) and prints the\n"
     "answers that arrive within MS milliseconds (default 3000): messages of that PGN from DA\n"
     "(from anyone for a global request, once per source) addressed to SA or to all. Messages\n"
     "received before the request, or addressed elsewhere, are not answers. A request to one\n"
     "address ends at its answer. Long answers print as\n"
     "\"PGN 65260 from 00, 18 bytes, reassembled\".\n"
     "  -t MS, --timeout MS  how long to wait       --source SA  our address (default F9)\n"
     "Exit codes: 0 answered; 1 no answer in time; 2 bad command line;\n"
     "            3 QV121032.ini missing or the device not in it;\n"
     "            4 link: " QV_EXIT_LINK_WORDS ", link lost while waiting.\n"},
    {Command::Status, "status", "--device --protocol",
     "usage: qvlink status [--device N] [--protocol J1939|J1708|CAN]\n"
     "Connects a client and prints the RP1210 hardware status block and the library version.\n"
     "Exit codes: 0 done; 1 the status call failed; 2 bad command line;\n"
     "            3 QV121032.ini missing or the device not in it;\n"
     "            4 link: " QV_EXIT_LINK_WORDS ".\n"},
    {Command::Version, "version", "",
     "usage: qvlink version\n"
     "Prints the version of qvlink and of the QV121032 library it loads.\n"
     "Exit codes: 0 done; 1 the library cannot be loaded; 2 bad command line.\n"},
    {Command::Devices, "devices", "",
     "usage: qvlink devices\n"
     "Lists the devices and protocols of QV121032.ini ([VendorInformation] Devices and Protocols\n"
     "and their sections) in the profile directory ($QV_PROFILE_DIR, default /etc/qvlink).\n"
     "Exit codes: 0 done; 2 bad command line; 3 QV121032.ini missing or with a bad entry.\n"},
};

const char kOverview[] =
    "usage: qvlink COMMAND [options]     (qvlink COMMAND --help for one command)\n"
    "  demo       the whole link against the built-in simulator, with a summary\n"
    "  monitor    print received J1939, J1708 or CAN messages; filters; --log, --pcap captures\n"
    "  send       send a J1939, J1708 or CAN message (--pgn P HEX, or ID#HEX as cansend)\n"
    "  request    send a J1939 request for a PGN and print the answers\n"
    "  status     hardware status of a device\n"
    "  version    versions of qvlink and QV121032\n"
    "  devices    devices and protocols listed in QV121032.ini\n"
    "Options take their value as --opt VALUE or --opt=VALUE; -d is --device, -c --count,\n"
    "-t --seconds (monitor, demo) or --timeout (request), -n --repeat (send).\n"
    "Exit codes: 0 done; 1 the operation failed (the reason is printed); 2 bad command line;\n"
    "            3 configuration: QV121032.ini missing, device unknown, bad entry;\n"
    "            4 link: " QV_EXIT_LINK_WORDS ", link lost.\n";

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
  return option != "--bam" && option != "--rts" && option != "--extended" && option != "--adapter-filter";
}

// The long option a short one stands for in this command; empty when it has none.
std::string LongForm(Command c, char letter) {
  switch (letter) {
    case 'd': return "--device";
    case 'c': return "--count";
    case 't': return c == Command::Request ? "--timeout" : "--seconds";
    case 'n': return "--repeat";
    default: return {};
  }
}

bool EqualsNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string Hex(uint32_t v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*X", digits, static_cast<unsigned>(v));
  return b;
}

std::string PgnText(uint32_t pgn) { return std::to_string(pgn) + " (0x" + Hex(pgn, 4) + ")"; }

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

std::optional<uint32_t> ParseHex(const std::string& text, uint32_t max) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return ParseNumber(text, max);
  return ParseNumber("0x" + text, max);
}

std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == ':' || c == ',' || c == '.') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits.push_back(c);
  }
  if (digits.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  for (size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

std::optional<IdFilter> ParseIdFilter(const std::string& text) {
  const size_t cut = text.find_first_of("/:");
  IdFilter f;
  const auto id = ParseHex(text.substr(0, cut), 0x1FFFFFFF);
  if (!id) return std::nullopt;
  f.id = *id;
  if (cut != std::string::npos) {
    const auto mask = ParseHex(text.substr(cut + 1), 0x1FFFFFFF);
    if (!mask) return std::nullopt;
    f.mask = *mask;
  }
  return f;
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
  const std::string name = cmd->name;
  // --help wins over anything, even a bad value before it.
  for (size_t i = 1; i < args.size(); ++i)
    if (args[i] == "--help" || args[i] == "-h") {
      o.help = true;
      r.ok = true;
      return r;
    }

  std::vector<std::string> positional;
  bool sourceGiven = false, priorityGiven = false, pgnGiven = false;
  for (size_t i = 1; i < args.size(); ++i) {
    std::string a = args[i];
    std::optional<std::string> inlineValue;
    if (a.size() >= 2 && a[0] == '-' && a[1] != '-') {
      // -c 5, -c5, -c=5
      const std::string full = LongForm(o.command, a[1]);
      if (full.empty() || !Accepts(*cmd, full)) return fail(name + ": unknown option " + a.substr(0, 2));
      if (a.size() > 2) inlineValue = a.substr(a[2] == '=' ? 3 : 2);
      a = full;
    } else if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
      const size_t eq = a.find('=');
      if (eq != std::string::npos) {
        inlineValue = a.substr(eq + 1);
        a = a.substr(0, eq);
      }
    } else {
      positional.push_back(a);
      continue;
    }
    if (!Accepts(*cmd, a)) return fail(name + ": unknown option " + a);
    std::string v;
    if (TakesValue(a)) {
      if (inlineValue) {
        v = *inlineValue;
      } else {
        if (i + 1 >= args.size()) return fail(name + ": " + a + " needs a value");
        v = args[++i];
      }
    } else if (inlineValue) {
      return fail(name + ": " + a + " takes no value");
    }
    auto number = [&](uint32_t min, uint32_t max) -> std::optional<uint32_t> {
      const auto n = ParseNumber(v, max);
      if (!n || *n < min) return std::nullopt;
      return n;
    };
    auto bad = [&](const char* range) { return fail(name + ": bad value '" + v + "' for " + a + " (" + range + ")"); };
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
      if (pgnGiven && o.command != Command::Monitor) return fail(name + ": --pgn given twice (one PGN per " + name + ")");
      pgnGiven = true;
      if (!o.pgn) o.pgn = *n;
      o.pgns.push_back(*n);
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
      priorityGiven = true;
    } else if (a == "--source") {
      const auto n = number(0, 255);
      if (!n) return bad("0 to 255");
      o.source = static_cast<uint8_t>(*n);
      o.sources.push_back(static_cast<uint8_t>(*n));
      sourceGiven = true;
    } else if (a == "--dest") {
      const auto n = number(0, 255);
      if (!n) return bad("0 to 255");
      o.destination = static_cast<uint8_t>(*n);
      o.destinationGiven = true;
    } else if (a == "--id") {
      if (o.command == Command::Monitor) {
        const auto f = ParseIdFilter(v);
        if (!f) return bad("hex ID or ID/MASK, 29-bit");
        o.ids.push_back(*f);
      } else {
        const auto n = ParseHex(v, 0x1FFFFFFF);
        if (!n) return bad("hex, 0 to 1FFFFFFF");
        o.canId = *n;
      }
    } else if (a == "--repeat") {
      const auto n = number(1, 1000000);
      if (!n) return bad("1 to 1000000");
      o.repeat = *n;
    } else if (a == "--interval") {
      const auto n = number(0, 3600000);
      if (!n) return bad("0 to 3600000 ms");
      o.intervalMs = *n;
    } else if (a == "--log" || a == "--pcap") {
      if (v.empty()) return bad("a file name, or - for standard output");
      (a == "--log" ? o.logPath : o.pcapPath) = v;
    } else if (a == "--bam") {
      o.bam = true;
    } else if (a == "--rts") {
      o.rts = true;
    } else if (a == "--extended") {
      o.extended = true;
    } else if (a == "--adapter-filter") {
      o.adapterFilter = true;
    }
  }

  switch (o.command) {
    case Command::Request: {
      if (positional.size() > 1 || (positional.size() == 1 && pgnGiven) || (positional.empty() && !pgnGiven))
        return fail("request: give exactly one PGN (request PGN or request --pgn PGN)");
      if (!pgnGiven) {
        const auto pgn = ParseNumber(positional[0], 0x3FFFF);
        if (!pgn) return fail("request: bad PGN '" + positional[0] + "' (0 to 0x3FFFF)");
        o.pgn = *pgn;
        o.pgns = {*pgn};
      }
      break;
    }
    case Command::Send: {
      bool frameForm = false;
      for (const auto& p : positional) frameForm = frameForm || p.find('#') != std::string::npos;
      if (frameForm) {
        if (positional.size() != 1) return fail("send: ID#HEX is the whole frame; give nothing else after the options");
        const std::string& f = positional[0];
        const size_t hash = f.find('#');
        const std::string idText = f.substr(0, hash);
        const std::string dataText = f.substr(hash + 1);
        if (dataText.find('#') != std::string::npos || (!dataText.empty() && (dataText[0] == 'R' || dataText[0] == 'r')))
          return fail("send: '" + f + "' is not a classic CAN data frame (ID#HEX, at most 8 bytes)");
        const auto id = ParseHex(idText, 0x1FFFFFFF);
        if (!id || (idText.size() != 3 && idText.size() != 8))
          return fail("send: bad identifier '" + idText + "' in ID#HEX (3 hex digits: 11-bit, 8: 29-bit)");
        const auto bytes = ParseHexBytes(dataText);
        if (!bytes) return fail("send: bad hex data '" + dataText + "'");
        if (bytes->size() > 8)
          return fail("send: ID#HEX is one CAN frame of at most 8 bytes (" + std::to_string(bytes->size()) +
                      " given); for a long J1939 message use --pgn with --bam or --dest");
        if (pgnGiven || priorityGiven || sourceGiven || o.destinationGiven || o.canId || o.bam || o.rts)
          return fail("send: ID#HEX gives the identifier; leave out --pgn, --priority, --source, --dest, --id, --bam and --rts");
        o.frameGiven = true;
        o.data = *bytes;
        o.canId = *id;
        o.extended = idText.size() == 8;
        if (!o.extended) {
          if (o.protocolGiven && o.protocol != Protocol::Can)
            return fail("send: an 11-bit identifier is a CAN frame; use --protocol CAN (or leave --protocol out)");
          o.protocol = Protocol::Can;
        } else if (o.protocol == Protocol::J1708) {
          return fail("send: ID#HEX is a CAN frame; J1708 has none");
        }
        if (o.protocol == Protocol::J1939) {
          // The identifier's parts, as J1939CanId puts them together again.
          const uint32_t pf = (*id >> 16) & 0xFF;
          o.priority = static_cast<uint8_t>((*id >> 26) & 0x07);
          o.source = static_cast<uint8_t>(*id & 0xFF);
          if (pf < 240) {
            o.pgn = (*id >> 8) & 0x3FF00u;
            o.destination = static_cast<uint8_t>((*id >> 8) & 0xFF);
          } else {
            o.pgn = (*id >> 8) & 0x3FFFFu;
            o.destination = 0xFF;
          }
          o.pgns = {*o.pgn};
        }
        break;
      }
      std::string joined;
      for (const auto& p : positional) joined += p;
      const auto bytes = ParseHexBytes(joined);
      if (!bytes) return fail("send: bad hex data '" + joined + "'");
      o.data = *bytes;
      if (o.protocol == Protocol::J1939) {
        if (!o.pgn) return fail("send: --pgn is required for J1939 (or give the frame as ID#HEX)");
        const uint32_t pgn = *o.pgn;
        if (o.data.empty()) return fail("send: no data: give the message bytes in hex after the options");
        if (o.data.size() > 1785) return fail("send: J1939 data is at most 1785 bytes");
        if (IsPdu1(pgn) && (pgn & 0xFF) != 0)
          return fail("send: PGN " + PgnText(pgn) + " is peer-to-peer (PDU1): its low byte is the destination and would be dropped; use --pgn 0x" +
                      Hex(pgn & 0x3FF00u, 4) + " --dest 0x" + Hex(pgn & 0xFF, 2));
        const bool isLong = o.data.size() > 8;
        if (o.bam && o.rts) return fail("send: give --bam or --rts, not both");
        if (!isLong && (o.bam || o.rts))
          return fail("send: --bam and --rts are for more than 8 bytes; " + std::to_string(o.data.size()) +
                      " bytes go in one frame");
        if (isLong && o.bam && o.destination != 0xFF)
          return fail("send: --bam broadcasts to every node; leave out --dest (or use --rts)");
        if (isLong && o.rts && o.destination == 0xFF) return fail("send: --rts needs --dest DA (RTS/CTS goes to one node)");
        if (isLong && !o.bam && o.destination == 0xFF)
          return fail("send: " + std::to_string(o.data.size()) +
                      " bytes are more than one frame: give --bam (broadcast) or --dest DA (RTS/CTS)");
        if (!isLong && !IsPdu1(pgn) && o.destinationGiven)
          return fail("send: PGN " + PgnText(pgn) + " is a broadcast (PDU2) and has no destination; leave out --dest");
        if (isLong && !o.bam) o.rts = true;
      } else if (o.protocol == Protocol::J1708) {
        if (o.data.empty() || o.data.size() > 21) return fail("send: J1708 message is 1 to 21 bytes");
      } else {
        if (!o.canId) return fail("send: --id is required for CAN (or give the frame as ID#HEX)");
        if (*o.canId > 0x7FF) o.extended = true;
        if (o.data.empty()) return fail("send: no data: give the frame's bytes in hex after the options");
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
    if (!o.pgns.empty() && o.protocol == Protocol::J1708) return fail("monitor: --pgn applies to J1939 and CAN only");
    if (!o.sources.empty() && o.protocol == Protocol::J1708)
      return fail("monitor: --source applies to J1939 and CAN only (J1708: --mid)");
    if (!o.ids.empty() && o.protocol == Protocol::J1708) return fail("monitor: --id applies to J1939 and CAN only");
    if (o.protocol == Protocol::J1708 && (!o.logPath.empty() || !o.pcapPath.empty()))
      return fail("monitor: --log and --pcap hold CAN frames; J1708 has none");
    if (o.logPath == "-" && o.pcapPath == "-")
      return fail("monitor: --log - and --pcap - both want standard output; give one of them a file");
    if (o.adapterFilter) {
      size_t entries = 0;
      if (o.protocol == Protocol::J1939) {
        entries = (o.pgns.empty() ? 1 : o.pgns.size()) * (o.sources.empty() ? 1 : o.sources.size());
        if (o.pgns.empty() && o.sources.empty())
          return fail("monitor: --adapter-filter on J1939 takes --pgn or --source");
      } else if (o.protocol == Protocol::Can) {
        entries = o.ids.size();
        if (entries == 0) return fail("monitor: --adapter-filter on CAN takes --id");
      } else {
        if (!o.mid) return fail("monitor: --adapter-filter on J1708 takes --mid");
      }
      if (entries > 20)
        return fail("monitor: --adapter-filter holds at most 20 entries (" + std::to_string(entries) +
                    " asked); leave it out to filter here");
    }
  }
  r.ok = true;
  return r;
}

}  // namespace qv::tools
