// Receive path: queue entries to MessageRecords, the J1939 batch and chunk handlers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "QV_API.h"
#include "context.h"

namespace qv::driver {

constexpr size_t kEntryBufferSize = 128;         // every queue but J1939
constexpr size_t kJ1939EntryBufferSize = 1808;   // long-message echo entries: length + 19

// Returned length set in rec (also returned), 0 when there is no message; 136 unknown protocol.
int ReceiveMessage(Device& d, MessageRecord& rec);
// Length of the long message delivered, or 0 when none is complete.
int ReceiveLongMessage(Device& d, MessageRecord& rec);

// Dispatcher-thread handlers (frame as popped from rxFrameQueue, n its byte count). Each takes
// the locks it needs; data too short for its layout counts in malformedCount and is dropped.
// A J1939 batch frame: each complete record goes to HandleRecord.
void HandleBatch(Device& d, const uint8_t* frame, size_t n);
// One chunk of a long message being received: appended to its reassembly when in sequence.
void HandleChunk(Device& d, const uint8_t* frame, size_t n);
// One rebuilt J1939 entry (bytes 9 type, 10 length, 11.. body).
void HandleRecord(Device& d, const uint8_t* entry, size_t n);

// Resets reassembly and the long-echo copy (device open).
void ResetReceiveState(Device& d);

}  // namespace qv::driver
