// Capture files that the field's tools read: the candump log (`candump -L`, canplayer) and
// classic pcap with link type 227 (SocketCAN), which Wireshark and tshark decode as J1939.
// Only classic CAN frames (at most 8 data bytes) are written; reassembled long messages have
// no single frame to stand for them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "decode.h"

namespace qv::tools {

struct CanFrame {
  int64_t seconds = 0;
  int32_t microseconds = 0;
  uint32_t id = 0;        // 29 or 11 bits, no flags
  bool extended = true;
  uint8_t length = 0;     // 0..8
  uint8_t data[8] = {};
};

// "(1436509052.249713) can0 18FEF100#0102030405060708": 8 hex digits for a 29-bit id, 3 for
// an 11-bit one. A length above 8 is written as 8.
std::string CandumpLine(const CanFrame& f, const char* iface);

// The frame a message stands for; absent for messages longer than 8 bytes.
std::optional<CanFrame> ToCanFrame(const J1939Message& m, int64_t seconds, int32_t microseconds);
std::optional<CanFrame> ToCanFrame(const CanMessage& m, int64_t seconds, int32_t microseconds);

inline constexpr uint32_t kPcapMagic = 0xA1B2C3D4;
inline constexpr uint32_t kLinkTypeSocketCan = 227;
inline constexpr uint32_t kCanEffFlag = 0x80000000u;

// Pcap global header (24 bytes) and one record (16-byte header + 16-byte SocketCAN frame),
// little-endian headers, the frame's identifier big-endian as the link type defines it.
void PcapFileHeader(uint8_t out[24]);
void PcapRecord(const CanFrame& f, uint8_t out[32]);

// A capture file flushed after every write, so a capture cut short by Ctrl-C or a lost
// adapter still holds everything seen up to then. The path "-" is standard output, which is
// flushed but never closed.
class CaptureFile {
 public:
  ~CaptureFile() { close(); }
  // Opens (truncating) `path` with fopen `mode`; false when it cannot be opened.
  bool open(const std::string& path, const char* mode);
  // Writes and flushes `n` bytes; false when the file is not open or the write failed.
  bool put(const void* data, size_t n);
  void close();
  bool isOpen() const { return file_ != nullptr; }

 private:
  std::FILE* file_ = nullptr;
  bool owned_ = false;
};

// candump -l log lines, one frame a line, on interface `iface`.
class CandumpWriter {
 public:
  bool open(const std::string& path, const char* iface = "qv0");
  bool write(const CanFrame& f);
  void close() { file_.close(); }
  bool isOpen() const { return file_.isOpen(); }

 private:
  CaptureFile file_;
  std::string iface_;
};

// A pcap file of SocketCAN frames; open() writes the file header.
class PcapWriter {
 public:
  bool open(const std::string& path);
  bool write(const CanFrame& f);
  void close() { file_.close(); }
  bool isOpen() const { return file_.isOpen(); }

 private:
  CaptureFile file_;
};

}  // namespace qv::tools
