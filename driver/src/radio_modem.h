// What the driver relies on from the PC's radio modem (XBee, API mode without escapes).
#pragma once
#include <cstdint>

namespace qv::driver::modem {

constexpr uint8_t kAtFrameId = 0x14;        // every driver AT command expecting an answer
constexpr uint8_t kAtFrameIdNoAnswer = 0;   // the "ID" write
constexpr uint8_t kTxFrameIdNone = 0;       // TX request without a TX status
constexpr uint8_t kTxStatusNoAck = 1;       // any other status counts as delivered

constexpr uint16_t kRxPacket16DataOffset = 8;   // RF data offset in a 0x81 frame
constexpr uint16_t kRxPacket64DataOffset = 14;  // RF data offset in a 0x80 frame
constexpr uint16_t kTxStatusOffset = 5;         // status byte of a 0x89 frame

constexpr uint32_t kFrameResetWaitMs = 10;  // after "FR"

}  // namespace qv::driver::modem
