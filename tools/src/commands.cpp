#include "commands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "capture.h"
#include "decode.h"
#include "device_config.h"
#include "qvlink/platform/clock.h"
#include "session.h"

#ifndef QVLINK_VERSION
#define QVLINK_VERSION "0.0.0"
#endif

namespace qv::tools {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) { gInterrupted = 1; }

const char* ProtocolString(Protocol p) {
  switch (p) {
    case Protocol::J1939: return "J1939";
    case Protocol::J1708: return "J1708";
    case Protocol::Can: return "CAN";
  }
  return "J1939";
}

// Picks the device: the command line's, else the INI's first.
bool ResolveDevice(const Options& o, int16_t* device, int* exitCode) {
  if (o.device) {
    *device = *o.device;
    return true;
  }
  std::string why;
  if (!DefaultDevice(device, &why)) {
    PrintError(why);
    *exitCode = kExitConfig;
    return false;
  }
  return true;
}

bool Elapsed(uint32_t start, uint32_t ms) { return qv::platform::TickMs() - start >= ms; }

}  // namespace

void PrintError(const std::string& line) { std::fprintf(stderr, "qvlink: %s\n", line.c_str()); }

bool LoadLibrary(Rp1210Library& lib) {
  if (lib.loaded()) return true;
  std::string why;
  if (lib.load("QV121032", &why)) return true;
  PrintError(why);
  return false;
}

namespace {

// What every traffic command starts with: the device chosen, the library loaded, one client.
struct Client {
  Rp1210Library lib;
  Session session{lib};
  int16_t device = 0;

  // Returns kExitOk, or prints the reason and returns the exit code.
  int open(const Options& o, Protocol protocol) {
    int code = kExitOk;
    if (!ResolveDevice(o, &device, &code)) return code;
    if (!LoadLibrary(lib)) return kExitFailure;
    return session.open(device, protocol);
  }
};

}  // namespace

int Session::open(int16_t device, Protocol protocol) {
  close();
  std::string why;
  if (!CheckDeviceConfigured(device, &why)) {
    PrintError(why);
    return kExitConfig;
  }
  const int16_t r = lib_.connect(device, ProtocolString(protocol));
  if (!IsClientId(r)) {
    int code = kExitLink;
    PrintError(DescribeConnectFailure(lib_, r, device, &code));
    return code;
  }
  client_ = r;
  protocol_ = protocol;
  uint8_t none[1] = {0};
  lib_.command(3, client_, none, 0);  // set all filters to pass
  return kExitOk;
}

int Session::close() {
  if (client_ == 0) return 0;
  const int r = lib_.disconnect(client_);
  client_ = 0;
  return r;
}

int Session::read(std::vector<uint8_t>& buf) const {
  if (client_ == 0) return 0;
  // A filler with bit 7 clear (byte 8's bit 7 would ask the library to mask the priority
  // away) that no message begins with: a read that wrote nothing is told from a message.
  buf.assign(kReadBufferSize, kReadFiller);
  const int n = lib_.read(client_, buf.data(), static_cast<int16_t>(buf.size()), false);
  if (n < 0) return n;  // RP1210's own convention: the code negated
  // This library returns its error codes as they are, as a length would be: a link error
  // is the code with the buffer left as it was.
  if (IsLinkError(n)) {
    bool untouched = true;
    for (size_t i = 0; i < 10; ++i) untouched = untouched && buf[i] == kReadFiller;
    if (untouched) return -n;
  }
  return n;
}

int Session::command(int16_t number, std::vector<uint8_t> data) const {
  if (client_ == 0) return kErrInvalidClientId;
  return lib_.command(number, client_, data.empty() ? nullptr : data.data(), static_cast<int16_t>(data.size()));
}

bool IsLinkError(int code) {
  return code == kErrHardwareNotResponding || code == kErrDllNotInitialized || code == kErrInvalidClientId ||
         code == kErrInvalidDevice;
}

std::vector<uint8_t> J1939Transmit(uint32_t pgn, uint8_t priority, bool bam, uint8_t source, uint8_t destination,
                                   const std::vector<uint8_t>& data) {
  std::vector<uint8_t> m = {static_cast<uint8_t>(pgn), static_cast<uint8_t>(pgn >> 8),
                            static_cast<uint8_t>((pgn >> 16) & 0x03),
                            static_cast<uint8_t>((priority & 0x07) | (bam ? 0x80 : 0)), source, destination};
  m.insert(m.end(), data.begin(), data.end());
  return m;
}

namespace {

template <typename T>
bool Contains(const std::vector<T>& list, T value) {
  for (const T& v : list)
    if (v == value) return true;
  return false;
}

bool IdPasses(const Options& o, uint32_t id) {
  if (o.ids.empty()) return true;
  for (const auto& f : o.ids)
    if ((id & f.mask) == (f.id & f.mask)) return true;
  return false;
}

// The J1939 view of a CAN identifier, for --pgn and --source on raw CAN frames.
uint32_t PgnOfId(uint32_t id) {
  const uint32_t pf = (id >> 16) & 0xFF;
  return (id >> 8) & (pf < 240 ? 0x3FF00u : 0x3FFFFu);
}

bool J1939Passes(const Options& o, const J1939Message& m) {
  if (!o.pgns.empty() && !Contains(o.pgns, m.pgn)) return false;
  if (!o.sources.empty() && !Contains(o.sources, m.source)) return false;
  // A reassembled message matches by the identifier it would have as one frame.
  return IdPasses(o, J1939CanId(m.priority, m.pgn, m.source, m.destination));
}

bool CanPasses(const Options& o, const CanMessage& m) {
  if (!o.pgns.empty() && (!m.extended || !Contains(o.pgns, PgnOfId(m.id)))) return false;
  if (!o.sources.empty() && (!m.extended || !Contains(o.sources, static_cast<uint8_t>(m.id & 0xFF)))) return false;
  return IdPasses(o, m.id);
}

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

// The RP1210 filter command for the monitor's filters, or 0 with no data when there is none.
int16_t AdapterFilterCommand(const Options& o, std::vector<uint8_t>* data) {
  data->clear();
  if (!o.adapterFilter) return 0;
  if (o.protocol == Protocol::J1939) {
    // Set_Message_Filtering_For_J1939: flags (1 PGN, 4 source), PGN (3), priority, source, destination.
    const std::vector<std::optional<uint32_t>> pgns =
        o.pgns.empty() ? std::vector<std::optional<uint32_t>>{std::nullopt}
                       : std::vector<std::optional<uint32_t>>(o.pgns.begin(), o.pgns.end());
    const std::vector<std::optional<uint8_t>> sources =
        o.sources.empty() ? std::vector<std::optional<uint8_t>>{std::nullopt}
                          : std::vector<std::optional<uint8_t>>(o.sources.begin(), o.sources.end());
    for (const auto& pgn : pgns)
      for (const auto& sa : sources) {
        const uint32_t p = pgn.value_or(0);
        data->insert(data->end(), {static_cast<uint8_t>((pgn ? 0x01 : 0) | (sa ? 0x04 : 0)), static_cast<uint8_t>(p),
                                   static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p >> 16), 0, sa.value_or(0), 0});
      }
    return 4;
  }
  if (o.protocol == Protocol::Can) {
    // Set_Message_Filtering_For_CAN: per entry type (0 11-bit, 1 29-bit), mask (4), header (4).
    bool standard = true;
    for (const auto& f : o.ids) standard = standard && f.id <= 0x7FF && (f.mask & 0x1FFFF800u) == 0x1FFFF800u;
    for (const auto& f : o.ids) {
      data->push_back(standard ? 0 : 1);
      PutBe32(*data, standard ? f.mask & 0x7FF : f.mask);
      PutBe32(*data, f.id & f.mask);
    }
    return 5;
  }
  // Set_Message_Filtering_For_J1708: the MIDs to pass.
  data->push_back(*o.mid);
  return 7;
}

// A path as a shell reads it back: quoted only when it needs to be.
std::string ShellWord(const std::string& s) {
  bool plain = !s.empty();
  for (char c : s)
    plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("._/-+=:,@%", c) != nullptr);
  if (plain) return s;
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Reads the next message into `buf`: its size when one came; 0, after a short pause so the
// caller's loop does not spin, when none did; -1 with `linkError` set when the link is gone.
int ReadOrPause(const Session& s, std::vector<uint8_t>& buf, int& linkError) {
  const int n = s.read(buf);
  if (n < 0 && IsLinkError(-n)) {
    linkError = -n;
    return -1;
  }
  if (n <= 0) {
    qv::platform::SleepMs(2);
    return 0;
  }
  return n;
}

// One read as the monitor shows it: whether it passes the monitor's own filter, its line, and
// the CAN frame a capture records (none for J1708).
struct ShownRead {
  bool passes = true;
  std::string line;
  std::optional<CanFrame> frame;
};

// Nothing when no parser makes sense of the read; the caller counts it as dropped. A read the
// filter turns away is not formatted.
std::optional<ShownRead> ShowRead(const Options& o, const uint8_t* data, size_t n, int64_t sec,
                                  int32_t usec) {
  const ShownRead turnedAway{false, {}, std::nullopt};
  if (o.protocol == Protocol::J1939) {
    const auto m = ParseJ1939Read(data, n, false);
    if (!m) return std::nullopt;
    if (!J1939Passes(o, *m)) return turnedAway;
    return ShownRead{true, J1939Line(sec, usec, *m), ToCanFrame(*m, sec, usec)};
  }
  if (o.protocol == Protocol::J1708) {
    const auto m = ParseJ1708Read(data, n, false);
    if (!m) return std::nullopt;
    if (o.mid && m->mid != *o.mid) return turnedAway;
    return ShownRead{true, J1708Line(sec, usec, *m), std::nullopt};
  }
  const auto m = ParseCanRead(data, n, false);
  if (!m) return std::nullopt;
  if (!CanPasses(o, *m)) return turnedAway;
  return ShownRead{true, CanLine(sec, usec, *m), ToCanFrame(*m, sec, usec)};
}

}  // namespace

int RunMonitor(const Options& o) {
  CandumpWriter log;
  PcapWriter pcap;
  if (!o.logPath.empty() && !log.open(o.logPath)) {
    PrintError("cannot write the log file " + o.logPath);
    return kExitFailure;
  }
  if (!o.pcapPath.empty() && !pcap.open(o.pcapPath)) {
    PrintError("cannot write the pcap file " + o.pcapPath);
    return kExitFailure;
  }
  // Standard output carries a capture: the message lines would spoil it.
  const bool quiet = o.logPath == "-" || o.pcapPath == "-";
  Client c;
  if (const int code = c.open(o, o.protocol); code != kExitOk) return code;
  Session& s = c.session;
  const int16_t device = c.device;
  std::vector<uint8_t> filter;
  if (const int16_t number = AdapterFilterCommand(o, &filter); number != 0) {
    const int r = s.command(number, filter);
    if (r != 0) {
      PrintError("the adapter filter was refused (" + c.lib.errorName(r) + "); leave out --adapter-filter to filter here");
      return kExitFailure;
    }
  }
  gInterrupted = 0;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  std::fprintf(stderr, "qvlink: monitoring %s on device %d%s\n", ProtocolString(o.protocol), device,
               o.count || o.seconds ? "" : " (Ctrl-C stops)");
  std::vector<uint8_t> buf;
  uint32_t shown = 0, filtered = 0, dropped = 0;  // dropped: reads no parser could make sense of
  int linkError = 0;
  const uint32_t start = qv::platform::TickMs();
  bool writeFailed = false;
  while (!gInterrupted && !(o.count && shown >= *o.count) && !(o.seconds && Elapsed(start, *o.seconds * 1000))) {
    const int n = ReadOrPause(s, buf, linkError);
    if (n < 0) break;
    if (n == 0) continue;
    int64_t sec = 0;
    int32_t usec = 0;
    qv::platform::NowUnix(&sec, &usec);
    const auto shownRead = ShowRead(o, buf.data(), static_cast<size_t>(n), sec, usec);
    if (!shownRead) {
      ++dropped;
      continue;
    }
    if (!shownRead->passes) {
      ++filtered;
      continue;
    }
    if (!quiet) {
      std::printf("%s\n", shownRead->line.c_str());
      std::fflush(stdout);
    }
    if (const auto& frame = shownRead->frame) {
      if (log.isOpen() && !log.write(*frame)) writeFailed = true;
      if (pcap.isOpen() && !pcap.write(*frame)) writeFailed = true;
    }
    ++shown;
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  log.close();
  pcap.close();
  const std::string lost = linkError != 0 ? c.lib.errorName(linkError) : std::string();
  s.close();
  std::fprintf(stderr, "qvlink: %u messages, %u filtered out, dropped %u\n", shown, filtered, dropped);
  if (!o.pcapPath.empty() && o.pcapPath != "-" && ::isatty(STDERR_FILENO))
    std::fprintf(stderr, "qvlink: to see the J1939 fields: tshark -r %s -d can.subdissector,j1939\n",
                 ShellWord(o.pcapPath).c_str());
  if (linkError != 0) {
    PrintError("link lost (" + lost + "): the adapter or its port went away");
    return kExitLink;
  }
  if (writeFailed) {
    PrintError("writing the capture file failed (disk full?)");
    return kExitFailure;
  }
  if (o.count && shown < *o.count) {
    PrintError("stopped after " + std::to_string(shown) + " of " + std::to_string(*o.count) + " messages");
    return kExitFailure;
  }
  return kExitOk;
}

int RunSend(const Options& o) {
  std::vector<uint8_t> msg;
  if (o.protocol == Protocol::J1939) {
    msg = J1939Transmit(*o.pgn, o.priority, o.bam, o.source, o.destination, o.data);
  } else if (o.protocol == Protocol::J1708) {
    msg = o.data;
  } else {
    // Type (0 standard, 1 extended), then the identifier in 4 bytes, most significant first,
    // for both kinds: the adapter reads a 4-byte identifier whatever the type (00 00 07 DF
    // becomes its 11-bit form 80 00 07 DF), so a 2-byte standard identifier would be misread.
    const uint32_t id = o.extended ? *o.canId & 0x1FFFFFFFu : *o.canId & 0x7FFu;
    msg = {static_cast<uint8_t>(o.extended ? 1 : 0), static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16),
           static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
    msg.insert(msg.end(), o.data.begin(), o.data.end());
  }
  Client c;
  if (const int code = c.open(o, o.protocol); code != kExitOk) return code;
  Session& s = c.session;
  const Rp1210Library& lib = c.lib;
  const bool isLong = o.protocol == Protocol::J1939 && o.data.size() > 8;
  if (isLong)
    std::printf("sending %zu bytes by %s to %02X ...\n", o.data.size(), o.bam ? "BAM" : "RTS/CTS", o.destination);
  gInterrupted = 0;
  if (o.repeat > 1) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
  }
  const uint32_t start = qv::platform::TickMs();
  uint32_t sent = 0;
  int r = 0;
  for (uint32_t k = 0; k < o.repeat && !gInterrupted; ++k) {
    if (k > 0 && o.intervalMs > 0) {
      const uint32_t due = start + k * o.intervalMs;  // paced from the start, so no drift
      for (int32_t left; !gInterrupted && (left = static_cast<int32_t>(due - qv::platform::TickMs())) > 0;)
        qv::platform::SleepMs(static_cast<uint32_t>(std::min<int32_t>(50, left)));
      if (gInterrupted) break;
    }
    r = lib.send(s.client(), msg.data(), static_cast<int16_t>(msg.size()), true);
    if (r != 0) break;
    ++sent;
  }
  const uint32_t took = qv::platform::TickMs() - start;
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  s.close();
  if (r != 0) {
    const std::string which = o.repeat > 1 ? " (after " + std::to_string(sent) + " of " + std::to_string(o.repeat) + ")" : "";
    PrintError("send failed" + which + " (" + lib.errorName(r) + "): " +
               (r == kErrHardwareNotResponding ? "the adapter did not confirm; check it is powered and in range"
                                               : "the adapter refused or lost the message"));
    return kExitFailure;
  }
  if (o.repeat > 1)
    std::printf("sent %zu bytes %u times in %u ms\n", o.data.size(), sent, static_cast<unsigned>(took));
  else
    std::printf("sent %zu bytes in %u ms\n", o.data.size(), static_cast<unsigned>(took));
  if (sent < o.repeat) {
    PrintError("interrupted after " + std::to_string(sent) + " of " + std::to_string(o.repeat) + " sends");
    return kExitFailure;
  }
  return kExitOk;
}

int RunRequest(const Options& o) {
  Client c;
  if (const int code = c.open(o, Protocol::J1939); code != kExitOk) return code;
  Session& s = c.session;
  const Rp1210Library& lib = c.lib;
  const uint32_t pgn = *o.pgn;
  std::vector<uint8_t> buf;
  // What arrived before the request went out cannot answer it.
  for (int i = 0; i < 10000 && s.read(buf) > 0; ++i) {
  }
  const auto req = J1939Transmit(kPgnRequest, 6, false, o.source, o.destination,
                                 {static_cast<uint8_t>(pgn), static_cast<uint8_t>(pgn >> 8), static_cast<uint8_t>(pgn >> 16)});
  const int r = lib.send(s.client(), req.data(), static_cast<int16_t>(req.size()), true);
  if (r != 0) {
    PrintError("request not sent (" + lib.errorName(r) + "): check the adapter is powered and in range");
    return kExitFailure;
  }
  uint32_t answers = 0;
  std::vector<uint8_t> answered;  // sources that answered a global request
  int linkError = 0;
  const uint32_t start = qv::platform::TickMs();
  while (!Elapsed(start, o.timeoutMs)) {
    const int n = ReadOrPause(s, buf, linkError);
    if (n < 0) break;
    if (n == 0) continue;
    const auto m = ParseJ1939Read(buf.data(), static_cast<size_t>(n), false);
    if (!m || m->pgn != pgn) continue;
    // An answer comes from the node asked, addressed to us or to all; a global request gets
    // one answer per node, so a node's periodic broadcasts after it are not answers.
    if (o.destination != 0xFF && m->source != o.destination) continue;
    if (m->destination != 0xFF && m->destination != o.source) continue;
    if (o.destination == 0xFF && Contains(answered, m->source)) continue;
    answered.push_back(m->source);
    int64_t sec = 0;
    int32_t usec = 0;
    qv::platform::NowUnix(&sec, &usec);
    std::printf("%s\n", J1939Line(sec, usec, *m).c_str());
    std::fflush(stdout);
    ++answers;
    if (o.destination != 0xFF) break;  // a specific address answers once
  }
  if (linkError != 0) {
    PrintError("link lost (" + lib.errorName(linkError) + "): the adapter or its port went away");
    return kExitLink;
  }
  if (answers == 0) {
    PrintError("no answer for PGN " + std::to_string(pgn) + " within " + std::to_string(o.timeoutMs) + " ms");
    return kExitFailure;
  }
  return kExitOk;
}

int RunStatus(const Options& o) {
  Client c;
  if (const int code = c.open(o, o.protocol); code != kExitOk) return code;
  Session& s = c.session;
  const Rp1210Library& lib = c.lib;
  const int16_t device = c.device;
  uint8_t st[16] = {};
  const int r = lib.hardwareStatus(s.client(), st);
  char v[4] = {};
  lib.readVersion(v);
  std::printf("device %d, port %s, client %d (%s)\n", device, DevicePort(device).c_str(), s.client(),
              ProtocolString(o.protocol));
  std::printf("status block: %s\n", HexBytes(st, 16).c_str());
  std::printf("  device 0x%02X, clients %u\n", st[0], st[1]);
  std::printf("  J1939 0x%02X (%u clients), J1708 0x%02X (%u clients), CAN 0x%02X (%u clients)\n", st[2], st[3], st[4],
              st[5], st[6], st[7]);
  std::printf("QV121032 version %u.%c, RP1210 API %c.%c\n", static_cast<unsigned char>(v[0]), v[1], v[2], v[3]);
  s.close();
  if (r != 0) {
    PrintError("hardware status failed (" + lib.errorName(r) + ")");
    return kExitFailure;
  }
  return kExitOk;
}

int RunVersion(const Options&) {
  std::printf("qvlink %s\n", QVLINK_VERSION);
  Rp1210Library lib;
  if (!LoadLibrary(lib)) return kExitFailure;
  char v[4] = {};
  lib.readVersion(v);
  std::printf("QV121032 version %u.%c, RP1210 API %c.%c\n", static_cast<unsigned char>(v[0]), v[1], v[2], v[3]);
  return kExitOk;
}

int RunDevices(const Options&) {
  const IniInventory inv = ReadInventory();
  if (!inv.fileFound) {
    PrintError(std::string(kIniName) + " not found at " + inv.path + ": set QV_PROFILE_DIR or run QvLink Setup");
    return kExitConfig;
  }
  std::printf("%s (%s)\n", inv.vendor.empty() ? "(no vendor name)" : inv.vendor.c_str(), inv.path.c_str());
  std::printf("devices:\n");
  for (const auto& d : inv.devices) {
    if (!d.present) continue;
    std::printf("  %-5d %s  %s  [%s]\n", d.id, d.name.c_str(), d.description.c_str(), d.params.c_str());
  }
  std::printf("protocols:\n");
  for (const auto& p : inv.protocols) {
    if (!p.present) continue;
    std::printf("  %-5d %-8s %s, %s, devices %s\n", p.id, p.string.c_str(), p.description.c_str(), p.speed.c_str(),
                p.devices.c_str());
  }
  for (const auto& problem : inv.problems) PrintError(problem);
  return inv.problems.empty() ? kExitOk : kExitConfig;
}

}  // namespace qv::tools
