#include "decode.h"

#include <cstdio>

namespace qv::tools {
namespace {

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// SAE "not available" and "error" ranges of a 16-bit value start at 0xFB00.
std::optional<double> Scaled16(const std::vector<uint8_t>& d, size_t at, double perBit) {
  if (d.size() < at + 2) return std::nullopt;
  const unsigned raw = d[at] | d[at + 1] << 8;
  if (raw >= 0xFB00) return std::nullopt;
  return raw * perBit;
}

const J1587Param* FindPid(const std::vector<J1587Param>& params, uint8_t pid) {
  for (const auto& p : params)
    if (p.pid == pid) return &p;
  return nullptr;
}

std::string Format(const char* fmt, double v) {
  char b[48];
  std::snprintf(b, sizeof b, fmt, v);
  return b;
}

}  // namespace

std::optional<J1939Message> ParseJ1939Read(const uint8_t* buf, size_t count, bool echoOn) {
  const size_t header = echoOn ? 11 : 10;
  if (buf == nullptr || count < header) return std::nullopt;
  J1939Message m;
  m.timeStamp = Be32(buf);
  size_t at = 4;
  if (echoOn) m.echoed = buf[at++] != 0;
  m.pgn = buf[at] | buf[at + 1] << 8 | (buf[at + 2] & 0x03u) << 16;
  m.priority = buf[at + 3] & 0x07;
  m.source = buf[at + 4];
  // PDU2 messages are broadcasts; the library's byte there is a placeholder (0 or the PGN's low byte).
  m.destination = ((m.pgn >> 8) & 0xFF) >= 240 ? 0xFF : buf[at + 5];
  m.data.assign(buf + header, buf + count);
  return m;
}

std::optional<J1708Message> ParseJ1708Read(const uint8_t* buf, size_t count, bool echoOn) {
  const size_t header = echoOn ? 5 : 4;
  if (buf == nullptr || count < header + 1) return std::nullopt;
  J1708Message m;
  m.timeStamp = Be32(buf);
  if (echoOn) m.echoed = buf[4] != 0;
  const uint8_t* msg = buf + header;
  const size_t n = count - header;
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + msg[i]);
  m.mid = msg[0];
  // A message of MID and checksum alone is too short to have summed to 0 by design.
  m.checksumOk = n >= 2 && sum == 0;
  m.body.assign(msg + 1, msg + (m.checksumOk ? n - 1 : n));
  return m;
}

std::optional<CanMessage> ParseCanRead(const uint8_t* buf, size_t count, bool echoOn) {
  const size_t header = echoOn ? 10 : 9;
  if (buf == nullptr || count < header) return std::nullopt;
  CanMessage m;
  m.timeStamp = Be32(buf);
  size_t at = 4;
  if (echoOn) m.echoed = buf[at++] != 0;
  m.extended = buf[at++] != 0;
  const uint32_t raw = Be32(buf + at);
  m.id = m.extended ? raw & 0x1FFFFFFFu : raw & 0x7FFu;
  m.data.assign(buf + header, buf + count);
  return m;
}

uint32_t J1939CanId(uint8_t priority, uint32_t pgn, uint8_t source, uint8_t destination) {
  const uint32_t pf = (pgn >> 8) & 0xFF;
  const uint32_t ps = pf < 240 ? destination : (pgn & 0xFF);
  return (static_cast<uint32_t>(priority & 0x07) << 26) | (((pgn >> 16) & 0x03) << 24) | pf << 16 |
         ps << 8 | source;
}

std::optional<double> Eec1EngineSpeedRpm(const std::vector<uint8_t>& data) { return Scaled16(data, 3, 0.125); }

std::optional<double> CcvsVehicleSpeedKmh(const std::vector<uint8_t>& data) {
  return Scaled16(data, 1, 1.0 / 256.0);
}

std::optional<Dm1> DecodeDm1(const std::vector<uint8_t>& data) {
  if (data.size() < 2) return std::nullopt;
  Dm1 d;
  d.lamps = data[0];
  d.flashLamps = data[1];
  for (size_t at = 2; at + 4 <= data.size(); at += 4) {
    const uint8_t* f = &data[at];
    const bool zero = (f[0] | f[1] | f[2] | f[3]) == 0;
    const bool pad = (f[0] & f[1] & f[2] & f[3]) == 0xFF;
    if (zero || pad) continue;
    Dm1Fault fault;
    fault.spn = f[0] | f[1] << 8 | static_cast<uint32_t>(f[2] >> 5) << 16;
    fault.fmi = f[2] & 0x1F;
    fault.conversionMethod = (f[3] & 0x80) != 0;
    fault.occurrences = f[3] & 0x7F;
    d.faults.push_back(fault);
  }
  return d;
}

std::optional<std::string> DecodeVin(const std::vector<uint8_t>& data) {
  std::string vin;
  for (uint8_t c : data) {
    if (c == '*') break;
    if (c < 0x20 || c > 0x7E) return std::nullopt;
    vin.push_back(static_cast<char>(c));
  }
  if (vin.empty()) return std::nullopt;
  return vin;
}

std::optional<std::vector<J1587Param>> ParseJ1587(const std::vector<uint8_t>& body) {
  std::vector<J1587Param> out;
  size_t at = 0;
  while (at < body.size()) {
    const uint8_t pid = body[at++];
    if (pid >= 254) break;
    size_t len = 1;
    if (pid >= 128 && pid < 192) {
      len = 2;
    } else if (pid >= 192) {
      if (at >= body.size()) return std::nullopt;
      len = body[at++];
    }
    if (body.size() - at < len) return std::nullopt;
    out.push_back({pid, std::vector<uint8_t>(body.begin() + static_cast<std::ptrdiff_t>(at),
                                             body.begin() + static_cast<std::ptrdiff_t>(at + len))});
    at += len;
  }
  return out;
}

std::optional<double> J1587EngineSpeedRpm(const std::vector<J1587Param>& params) {
  const J1587Param* p = FindPid(params, kPidEngineSpeed);
  if (p == nullptr || p->value.size() != 2) return std::nullopt;
  const unsigned raw = p->value[0] | p->value[1] << 8;
  if (raw == 0xFFFF) return std::nullopt;
  return raw * 0.25;
}

std::optional<double> J1587RoadSpeedKmh(const std::vector<J1587Param>& params) {
  const J1587Param* p = FindPid(params, kPidRoadSpeed);
  if (p == nullptr || p->value.size() != 1 || p->value[0] == 0xFF) return std::nullopt;
  return p->value[0] * 0.805;
}

std::string HexBytes(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) {
    if (i) s.push_back(' ');
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 0x0F]);
  }
  return s;
}

std::string DescribeJ1939(const J1939Message& m) {
  switch (m.pgn) {
    case kPgnEec1: {
      const auto rpm = Eec1EngineSpeedRpm(m.data);
      return rpm ? Format("EEC1 engine %.1f rpm", *rpm) : "EEC1 engine speed n/a";
    }
    case kPgnCcvs: {
      const auto kmh = CcvsVehicleSpeedKmh(m.data);
      return kmh ? Format("CCVS vehicle %.1f km/h", *kmh) : "CCVS vehicle speed n/a";
    }
    case kPgnDm1: {
      const auto dm1 = DecodeDm1(m.data);
      if (!dm1) return "DM1 (short)";
      std::string s = "DM1";
      if (dm1->faults.empty()) s += " no active faults";
      for (const auto& f : dm1->faults) {
        char b[64];
        std::snprintf(b, sizeof b, " SPN %u FMI %u (x%u)", static_cast<unsigned>(f.spn), f.fmi, f.occurrences);
        s += b;
      }
      if (dm1->lamps & 0x0C) s += ", amber lamp";
      if (dm1->lamps & 0x30) s += ", red lamp";
      return s;
    }
    case kPgnVin: {
      const auto vin = DecodeVin(m.data);
      return vin ? "VIN " + *vin : "VIN (unreadable)";
    }
    case kPgnAddressClaimed: return "address claimed";
    case kPgnRequest:
      if (m.data.size() >= 3) {
        char b[40];
        std::snprintf(b, sizeof b, "request PGN %u", m.data[0] | m.data[1] << 8 | (m.data[2] & 3u) << 16);
        return b;
      }
      return "request (short)";
    default: return {};
  }
}

std::string DescribeJ1708(const J1708Message& m) {
  std::string s;
  if (!m.checksumOk) s = "bad checksum";
  const auto params = ParseJ1587(m.body);
  if (!params) return s.empty() ? "malformed parameters" : s;
  if (m.mid == kMidEngine) {
    if (const auto rpm = J1587EngineSpeedRpm(*params)) s += (s.empty() ? "" : ", ") + Format("engine %.1f rpm", *rpm);
    if (const auto kmh = J1587RoadSpeedKmh(*params)) s += (s.empty() ? "" : ", ") + Format("road %.1f km/h", *kmh);
  }
  return s;
}

namespace {

std::string Stamp(int64_t seconds, int32_t microseconds) {
  char b[40];
  std::snprintf(b, sizeof b, "(%lld.%06d)", static_cast<long long>(seconds), static_cast<int>(microseconds));
  return b;
}

std::string WithMeaning(std::string line, const std::string& meaning) {
  if (!meaning.empty()) line += "  " + meaning;
  return line;
}

}  // namespace

std::string J1939Line(int64_t seconds, int32_t microseconds, const J1939Message& m) {
  char b[96];
  if (m.data.size() > 8) {
    // Reassembled by the adapter from a transport session: it never was one frame on the bus.
    char to[8] = "";
    if (m.destination != 0xFF) std::snprintf(to, sizeof to, " to %02X", m.destination);
    std::snprintf(b, sizeof b, " PGN %u from %02X%s, %zu bytes, reassembled  ", static_cast<unsigned>(m.pgn),
                  m.source, to, m.data.size());
    return WithMeaning(Stamp(seconds, microseconds) + b + HexBytes(m.data), DescribeJ1939(m));
  }
  std::snprintf(b, sizeof b, " %08X  PGN %6u SA %02X DA %02X P%u  [%zu] ",
                static_cast<unsigned>(J1939CanId(m.priority, m.pgn, m.source, m.destination)),
                static_cast<unsigned>(m.pgn), m.source, m.destination, m.priority, m.data.size());
  return WithMeaning(Stamp(seconds, microseconds) + b + HexBytes(m.data), DescribeJ1939(m));
}

std::string J1708Line(int64_t seconds, int32_t microseconds, const J1708Message& m) {
  char b[48];
  std::snprintf(b, sizeof b, " MID %3u  [%zu] ", m.mid, m.body.size());
  return WithMeaning(Stamp(seconds, microseconds) + b + HexBytes(m.body), DescribeJ1708(m));
}

std::string CanLine(int64_t seconds, int32_t microseconds, const CanMessage& m) {
  char b[48];
  if (m.extended) std::snprintf(b, sizeof b, " %08X  [%zu] ", static_cast<unsigned>(m.id), m.data.size());
  else std::snprintf(b, sizeof b, " %03X       [%zu] ", static_cast<unsigned>(m.id), m.data.size());
  return Stamp(seconds, microseconds) + b + HexBytes(m.data);
}

}  // namespace qv::tools
