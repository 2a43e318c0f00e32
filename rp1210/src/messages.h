// RP1210 message send and read, and the translation to and from the driver's MessageRecord.
#pragma once
#include <cstdint>

#include "QV_API.h"
#include "context.h"

namespace qv::rp1210 {

enum class Layout : uint8_t { PassThrough, J1939, Can };

struct ProtocolChoice {
  int code;  // -1: none matched
  Layout layout;
};

ProtocolChoice SendProtocol(const char* protocolName);
ProtocolChoice ReadProtocol(const char* protocolName);

// Fills a zeroed record for a send; returns 0 or the refusal code (141, 160).
int BuildSendRecord(const ProtocolChoice& p, const uint8_t* m, int n, uint8_t block, uint8_t appPacketizing,
                    MessageRecord* r);

// Converts a delivered J1939 message d[0..L-1] to the RP1210 receive format; returns L + 2.
// out must hold L + 2 bytes (at most QV_MESSAGE_RETURNED_DATA_MAX + 2).
int ConvertJ1939Received(const uint8_t* d, uint32_t length, uint8_t echoFlag, uint8_t savedTransport,
                         uint8_t claimedAddress, uint8_t* out);

int16_t SendMessage(int16_t nClientID, const char* message, int16_t nMessageSize, int16_t nBlockOnSend);
int16_t ReadMessage(int16_t nClientID, char* buffer, int16_t nBufferSize, int16_t nBlockOnRead);

// Send without the trace line (address claim).
int InternalSend(const ClientSlot& slot, const uint8_t* message, int size, uint8_t block);

}  // namespace qv::rp1210
