#include "capture.h"

#include <cinttypes>

namespace qv::tools {
namespace {

void Le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void Le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

uint8_t Length(const CanFrame& f) { return f.length > 8 ? 8 : f.length; }

}  // namespace

std::optional<CanFrame> ToCanFrame(const J1939Message& m, int64_t seconds, int32_t microseconds) {
  if (m.data.size() > 8) return std::nullopt;
  CanFrame f;
  f.seconds = seconds;
  f.microseconds = microseconds;
  f.id = J1939CanId(m.priority, m.pgn, m.source, m.destination);
  f.extended = true;
  f.length = static_cast<uint8_t>(m.data.size());
  for (size_t i = 0; i < m.data.size(); ++i) f.data[i] = m.data[i];
  return f;
}

std::optional<CanFrame> ToCanFrame(const CanMessage& m, int64_t seconds, int32_t microseconds) {
  if (m.data.size() > 8) return std::nullopt;
  CanFrame f;
  f.seconds = seconds;
  f.microseconds = microseconds;
  f.id = m.id;
  f.extended = m.extended;
  f.length = static_cast<uint8_t>(m.data.size());
  for (size_t i = 0; i < m.data.size(); ++i) f.data[i] = m.data[i];
  return f;
}

std::string CandumpLine(const CanFrame& f, const char* iface) {
  char b[96];
  int n = std::snprintf(b, sizeof b, "(%" PRId64 ".%06" PRId32 ") %s ", f.seconds, f.microseconds, iface);
  if (n < 0) return {};
  std::string s(b, static_cast<size_t>(n));
  std::snprintf(b, sizeof b, f.extended ? "%08" PRIX32 "#" : "%03" PRIX32 "#",
                f.extended ? f.id & 0x1FFFFFFFu : f.id & 0x7FFu);
  s += b;
  static const char kDigits[] = "0123456789ABCDEF";
  for (uint8_t i = 0; i < Length(f); ++i) {
    s.push_back(kDigits[f.data[i] >> 4]);
    s.push_back(kDigits[f.data[i] & 0x0F]);
  }
  return s;
}

void PcapFileHeader(uint8_t out[24]) {
  Le32(out, kPcapMagic);
  Le16(out + 4, 2);
  Le16(out + 6, 4);
  Le32(out + 8, 0);       // zone
  Le32(out + 12, 0);      // sigfigs
  Le32(out + 16, 65535);  // snaplen
  Le32(out + 20, kLinkTypeSocketCan);
}

void PcapRecord(const CanFrame& f, uint8_t out[32]) {
  Le32(out, static_cast<uint32_t>(f.seconds));
  Le32(out + 4, static_cast<uint32_t>(f.microseconds));
  Le32(out + 8, 16);
  Le32(out + 12, 16);
  const uint32_t id = f.extended ? (f.id & 0x1FFFFFFFu) | kCanEffFlag : f.id & 0x7FFu;
  out[16] = static_cast<uint8_t>(id >> 24);
  out[17] = static_cast<uint8_t>(id >> 16);
  out[18] = static_cast<uint8_t>(id >> 8);
  out[19] = static_cast<uint8_t>(id);
  out[20] = Length(f);
  out[21] = out[22] = out[23] = 0;
  for (int i = 0; i < 8; ++i) out[24 + i] = i < Length(f) ? f.data[i] : 0;
}

bool CaptureFile::open(const std::string& path, const char* mode) {
  close();
  owned_ = path != "-";
  file_ = owned_ ? std::fopen(path.c_str(), mode) : stdout;
  return file_ != nullptr;
}

bool CaptureFile::put(const void* data, size_t n) {
  return file_ != nullptr && std::fwrite(data, 1, n, file_) == n && std::fflush(file_) == 0;
}

void CaptureFile::close() {
  if (file_ != nullptr) {
    if (owned_) std::fclose(file_);
    else std::fflush(file_);
  }
  file_ = nullptr;
}

bool CandumpWriter::open(const std::string& path, const char* iface) {
  iface_ = iface;
  return file_.open(path, "w");
}

bool CandumpWriter::write(const CanFrame& f) {
  const std::string line = CandumpLine(f, iface_.c_str()) + "\n";
  return file_.put(line.data(), line.size());
}

bool PcapWriter::open(const std::string& path) {
  if (!file_.open(path, "wb")) return false;
  uint8_t header[24];
  PcapFileHeader(header);
  if (!file_.put(header, sizeof header)) {
    file_.close();
    return false;
  }
  return true;
}

bool PcapWriter::write(const CanFrame& f) {
  uint8_t rec[32];
  PcapRecord(f, rec);
  return file_.put(rec, sizeof rec);
}

}  // namespace qv::tools
