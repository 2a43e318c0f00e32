// RP1210 commands: filters, echo, J1708 mode, address claim, pass-through device commands.
#pragma once
#include <cstdint>

#include "context.h"

namespace qv::rp1210 {

int16_t SendCommand(int16_t nCommandNumber, int16_t nClientID, char* data, int16_t nMessageSize);

// The command steps without the trace line (used by the disconnect of a HALDEX client).
int ForwardCommand(const ClientSlot& slot, int16_t nCommandNumber, const uint8_t* data, int16_t nMessageSize);

// Builds the J1939 list from 7-byte RP1210 filter entries and sends it (code 2, command 16).
// Returns ERR_MAX_FILTERS_EXCEEDED without touching the list when it would not fit.
int SendJ1939FilterList(const uint8_t* data, int size);

// Protocol code for commands from a stored protocol name; -1 when none matches.
int CommandProtocolCode(const char* protocolName);

}  // namespace qv::rp1210
