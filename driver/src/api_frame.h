// API frames of the radio modem: 0x7E, big-endian 16-bit length L, L bytes from the API
// identifier on, checksum 0xFF minus the 8-bit sum of those L bytes. Nothing is escaped.
// Shared by the driver and the setup program; the one place for the radio modem's constants.
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

// What the driver relies on inside those frames.
constexpr uint8_t kAtFrameId = 0x14;        // every driver AT command expecting an answer
constexpr uint8_t kAtFrameIdNoAnswer = 0;   // the "ID" write
constexpr uint8_t kTxFrameIdNone = 0;       // TX request without a TX status
constexpr uint8_t kTxStatusNoAck = 1;       // any other status counts as delivered
constexpr uint16_t kRxPacket16DataOffset = 8;   // RF data offset in a 0x81 frame
constexpr uint16_t kRxPacket64DataOffset = 14;  // RF data offset in a 0x80 frame
constexpr uint16_t kTxStatusOffset = 5;         // status byte of a 0x89 frame
constexpr uint32_t kFrameResetWaitMs = 10;      // the modem's settling time after "FR"

// 0xFF minus the 8-bit sum of `count` bytes starting at the API identifier.
uint8_t FrameChecksum(const uint8_t* apiIdOn, size_t count);

// True when the `count` bytes from the API identifier plus the checksum byte that follows
// them sum to 0xFF (mod 256). Reads count + 1 bytes.
bool FrameChecksumValid(const uint8_t* apiIdOn, size_t count);

// Writes one whole frame carrying `count` frame-data bytes (API identifier first) into out.
// Returns the frame size count + 4, or 0 when count is 0, above 0xFFFF, or out is too small.
size_t BuildFrame(uint8_t* out, size_t outSize, const uint8_t* frameData, size_t count);

}  // namespace qv::frame
