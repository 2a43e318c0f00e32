// Transmit path: records to radio frames, the send primitives over writeBusy and the writer.
#pragma once
#include <cstddef>
#include <cstdint>

#include "QV_API.h"
#include "context.h"
#include "device_protocol.h"

namespace qv::driver {

struct OutgoingFrame {
  uint8_t protocol = 0;  // chooses the reply to wait for
  uint8_t frame[proto::kMaxOutgoingFrame] = {};
  uint32_t size = 0;     // start byte to checksum
  uint8_t transportMode = 0;
};

// 0 sent (or confirmed when blocking); 137 writer busy; 141 J1939 long message refused by
// transport mode 16 or a frame that does not fit 128 bytes; 142 no reply after resends;
// 152 long transfer failed.
int TransmitMessage(Device& d, MessageRecord& rec);
// rec.protocol, data in rec.body[0..rec.length-1]. 0, or SendFrame's result (137/142); 141 when
// the payload does not fit one frame.
int SendDeviceCommand(Device& d, uint8_t command, MessageRecord& rec);
// 0 handed over (rfAck off) or acknowledged; 137 writer busy; 142 no acknowledgement; 141 too long.
int SendAcknowledgedCommand(Device& d, uint8_t command, MessageRecord& rec);
// 0 handed over (or acknowledged in rfAck mode); 137 writer busy 150 ms; 142 no TX status.
int SendFrame(Device& d, OutgoingFrame& f);
// Takes replyWaitLock. 0 reply seen (or nothing to wait for); 137 writer busy; 142 no reply
// after 10 attempts / wait failure.
int SendFrameAndWait(Device& d, OutgoingFrame& f, bool acknowledged);
// 0 chunk accepted and sent; 137 writer busy; 142 no progress report.
int SendChunkAndWait(Device& d, OutgoingFrame& f);
// 0 transfer done; 152 any step failed or unknown transport mode. rec.length becomes N.
int SendLongJ1939(Device& d, MessageRecord& rec);
// Empties the receive queue of a protocol code under both queue locks; unknown codes do nothing.
void ClearReceiveQueue(Device& d, uint8_t protocol);

// Next frame identifier, 1..255 (0 skipped).
uint8_t NextFrameId(Device& d);
// Builds a TX request to rfAddress with frame id 0 carrying payload; false when it does not fit.
bool MakeTxFrame(Device& d, OutgoingFrame& f, uint8_t protocol, const uint8_t* payload, size_t n);
// Claims the transmit buffer: polls writeBusy `polls` times `sleepMs` apart; true once claimed.
bool ClaimTransmitBuffer(Device& d, uint32_t polls, uint32_t sleepMs);
// Copies the frame into txBuffer, sets txLength and wakes the writer (writeBusy already set).
void HandOver(Device& d, const OutgoingFrame& f);

}  // namespace qv::driver
