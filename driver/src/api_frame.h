// API frames of the radio modem: 0x7E, big-endian 16-bit length L, L bytes from the API
// identifier on, checksum 0xFF minus the 8-bit sum of those L bytes. Nothing is escaped.
// Shared by the driver and the setup program.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::frame {

constexpr uint8_t kStartDelimiter = 0x7E;
constexpr size_t kHeaderSize = 3;    // delimiter and length
constexpr size_t kOverhead = 4;      // header and checksum

// API identifiers the system sends or receives.
constexpr uint8_t kApiTxRequest16 = 0x01;
constexpr uint8_t kApiAtCommand = 0x08;
constexpr uint8_t kApiRxPacket64 = 0x80;
constexpr uint8_t kApiRxPacket16 = 0x81;
constexpr uint8_t kApiAtResponse = 0x88;
constexpr uint8_t kApiTxStatus = 0x89;

// 0xFF minus the 8-bit sum of `count` bytes starting at the API identifier.
uint8_t FrameChecksum(const uint8_t* apiIdOn, size_t count);

// True when the `count` bytes from the API identifier plus the checksum byte that follows
// them sum to 0xFF (mod 256). Reads count + 1 bytes.
bool FrameChecksumValid(const uint8_t* apiIdOn, size_t count);

// Writes one whole frame carrying `count` frame-data bytes (API identifier first) into out.
// Returns the frame size count + 4, or 0 when count is 0, above 0xFFFF, or out is too small.
size_t BuildFrame(uint8_t* out, size_t outSize, const uint8_t* frameData, size_t count);

}  // namespace qv::frame
