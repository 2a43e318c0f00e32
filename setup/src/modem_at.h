// AT exchange with the PC's radio modem: AT Command frames (0x08, frame id 0x53) out,
// AT Command Response frames (0x88) parsed back into the four modem values.
#pragma once
#include <cstddef>
#include <cstdint>

#include "setup_state.h"

namespace qv::setup {

constexpr uint8_t kAtFrameId = 0x53;
constexpr int kQueryRounds = 10;           // event-processing rounds after the query delay
constexpr double kQueryDelayS = 0.1;
constexpr double kSetMyDelayS = 1.0;
constexpr double kWriteDelayS = 4.0;

// No-answer values, set before each query.
constexpr uint32_t kNoSerHigh = 0xFFFFFFFFu;
constexpr uint32_t kNoSerLow = 0;
constexpr uint16_t kNoModemMY = 0;
constexpr uint8_t kNoModemCH = 0;

// Writes one API frame of `count` data bytes into buffer and gives its size, count + 6; gives 0
// (nothing written) when the frame does not fit bufferSize.
size_t Build_XBee_Msg(uint8_t* buffer, size_t bufferSize, uint8_t apiId, uint8_t frameId,
                      const uint8_t* data, size_t count);

// Each sends one query and gives 1 when the value was received, else 0.
int ReadSH(SetupState& s);
int ReadSL(SetupState& s);
int ReadMY(SetupState& s);
int ReadCH(SetupState& s);

// The address SetModemMY derives from SL: its low 16 bits, 0xFFFE/0xFFFF with the top bit cleared.
uint16_t ModemAddressFromSerialLow(uint32_t serialLow);

// Sets MY from SL, stores it with WR, reads it back; 1 when the modem reports it.
int SetModemMY(SetupState& s);

// Receive callback: reads every waiting byte; callbackData is the SetupState.
void ProcessCOM(int port, int eventMask, void* callbackData);
// The parser step for one received byte (what ProcessCOM does per byte).
void ProcessRxByte(SetupState& s, uint8_t b);
// One checked frame body; count is the body length minus one.
void ProcessModemMessage(SetupState& s, const uint8_t* body, int32_t count);

}  // namespace qv::setup
