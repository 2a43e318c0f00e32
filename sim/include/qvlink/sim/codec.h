// Byte-level codec of the radio link as the far side sees it: API frames, RF payload pieces,
// J1939 identifiers and J1708 checksums. Kept apart from the driver's own encoders on purpose,
// so a layout mistake cannot hide on both ends of the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qv::sim {

using Bytes = std::vector<uint8_t>;

// API identifiers on the serial line.
inline constexpr uint8_t kApiTxRequest16 = 0x01;
inline constexpr uint8_t kApiAtCommand = 0x08;
inline constexpr uint8_t kApiRx64 = 0x80;
inline constexpr uint8_t kApiRx16 = 0x81;
inline constexpr uint8_t kApiAtResponse = 0x88;
inline constexpr uint8_t kApiTxStatus = 0x89;

// 0xFF minus the 8-bit sum of `body` (API identifier up to the last data byte).
uint8_t frameChecksum(const uint8_t* body, size_t n);

// Whole frame: 7E, length (big-endian), body, checksum. No escaping.
Bytes encodeFrame(const Bytes& body);
Bytes encodeFrame(uint8_t apiId, const Bytes& data);

// Modem-side frames.
Bytes encodeAtResponse(uint8_t frameId, char c0, char c1, uint8_t status, const Bytes& value);
Bytes encodeTxStatus(uint8_t frameId, uint8_t status);
Bytes encodeRx16(uint16_t source, uint8_t rssi, uint8_t options, const Bytes& rf);
Bytes encodeRx64(uint64_t source, uint8_t rssi, uint8_t options, const Bytes& rf);
// PC-side frames (handy for test clients).
Bytes encodeAtCommand(uint8_t frameId, char c0, char c1, const Bytes& param = {});
Bytes encodeTxRequest(uint8_t frameId, uint16_t dest, const Bytes& rf, uint8_t options = 0);

// Stream parser: feed bytes in any pieces, take checked frame bodies (API id onward, no
// checksum). Bytes before a delimiter, bad checksums and over-long headers are counted.
class FrameParser {
 public:
  static constexpr size_t kMaxBody = 1024;
  void feed(const uint8_t* p, size_t n);
  std::optional<Bytes> next();  // oldest complete body
  uint32_t badChecksums() const { return badChecksums_; }
  uint32_t skippedBytes() const { return skippedBytes_; }
  uint32_t oversize() const { return oversize_; }

 private:
  int state_ = 0;
  size_t length_ = 0;
  Bytes body_;
  std::vector<Bytes> ready_;
  uint32_t badChecksums_ = 0, skippedBytes_ = 0, oversize_ = 0;
};

// J1939 identifier in the adapter's 4-byte layout: priority << 2, PF, PS, SA.
struct J1939Id {
  uint8_t priority = 6;
  uint32_t pgn = 0;  // 18 bits; PS of a PDU1 PGN is replaced by the destination
  uint8_t sa = 0;
  uint8_t da = 0xFF;  // used only when PF < 240
};
Bytes encodeJ1939Id(const J1939Id& id);
J1939Id decodeJ1939Id(const uint8_t* four);  // da = PS for PDU1, 0xFF for PDU2
uint32_t pgnOf(const uint8_t* four);

// Checksum byte that makes the sum of a J1708 message 0 modulo 256.
uint8_t j1708Checksum(const uint8_t* p, size_t n);

// 4-byte big-endian helpers.
void putBe32(Bytes& out, uint32_t v);
uint32_t getBe32(const uint8_t* p);

}  // namespace qv::sim
