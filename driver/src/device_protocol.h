// The adapter message protocol carried as RF data: its message types, commands and options
// (each named once here, beside QV_PROTOCOL_* and QV_CMD_* of QV_API.h), frame builders and
// payload encoders for what the driver sends, bounds-checked views of what the adapter sends back.
#pragma once
#include <cstddef>
#include <cstdint>

#include "QV_API.h"

namespace qv::driver::proto {

constexpr size_t kMaxOutgoingFrame = 128;
constexpr size_t kTxRequestOverhead = 9;  // 7E, length(2), 01, id, dest(2), options, checksum
constexpr size_t kMaxTxPayload = kMaxOutgoingFrame - kTxRequestOverhead;  // 119

// Message types PC to adapter.
constexpr uint8_t kTypeVehicleMessage = 0x14;    // a message for the vehicle bus
constexpr uint8_t kTypeLongChunk = 0x23;         // one chunk of a long J1939 message
constexpr uint8_t kTypeLongAnnouncement = 0x24;  // announces a long J1939 message (RTS or BAM)

constexpr uint8_t kAckRequested = 0x80;  // on the protocol code: the adapter acknowledges the command

// Device commands beside the ones a client passes through SendQVCommand (QV_CMD_* in QV_API.h).
constexpr uint8_t kCmdKeepAlive = 17;         // device side: the answer to a keep-alive request
constexpr uint8_t kCmdPassList = 24;          // J1939 pass list
constexpr uint8_t kCmdStart30 = 30;           // device side: sent after the protocol options
constexpr uint8_t kStart30Go = 0x01;          // its one data byte
constexpr uint8_t kCmdProgressReport = 32;    // J1939: payload bytes received of a long message
constexpr uint8_t kCmdChannelHandOver = 33;   // VKL: move to another radio channel

// Sub-commands of QV_CMD_MODEM on the device side.
constexpr uint8_t kModemSetChannel = 3;  // radio channel
constexpr uint8_t kModemQueryDh = 32;    // asks for the modem's destination high word
constexpr uint8_t kModemReset = 39;      // resets the modem

// Adapter to PC message types (marker cleared).
constexpr uint8_t kMarker = 0x80;               // set on every message type the adapter sends
constexpr uint8_t kTypeCommandAck = 16;         // a command was taken (J1939: the filter command)
constexpr uint8_t kTypeKeepAliveRequest = 17;   // device side: asks the PC to answer
constexpr uint8_t kTypeCanFilterAck = 17;       // J1939 side: the CAN filter command was taken
constexpr uint8_t kTypeTransmitted = 31;        // echo of a message sent on the bus
constexpr uint8_t kTypeSendProgress = 32;       // progress of a long message the PC sends
constexpr uint8_t kTypeTransportNotice = 37;    // a J1939 transport control message seen on the bus
constexpr uint8_t kTypeLongChunkIn = 38;        // one chunk of a long message the PC receives

// The message type with the adapter's marker cleared.
constexpr uint8_t Unmarked(uint8_t type) { return static_cast<uint8_t>(type & ~kMarker); }

// Kinds of a send progress message (its first data byte).
constexpr uint8_t kProgressRtsAccepted = 16;  // the adapter took the RTS/CTS chunk
constexpr uint8_t kProgressRtsSent = 17;      // the RTS/CTS chunk went out on the bus
constexpr uint8_t kProgressBamAccepted = 32;  // the adapter took the BAM chunk
constexpr uint8_t kProgressBamSent = 33;      // the BAM chunk went out on the bus

constexpr size_t kChunkPayloadMax = 49;  // 7 transport packets of 7 bytes
constexpr uint8_t kChunkRts = 0x10;      // chunk kind RTS/CTS (high nibble of the sequence byte)
constexpr uint8_t kChunkBam = 0x20;      // chunk kind BAM
// transportMode of a long message record.
constexpr uint8_t kTransportRts = 0x00;      // send by RTS/CTS
constexpr uint8_t kTransportBam = 0x80;      // send by BAM
constexpr uint8_t kTransportRefused = 16;    // set by the adapter: the destination refused it

// TX request 0x01 carrying `payload`; returns the frame size (payload + 9) or 0 when it would
// not fit in outSize or in the 128-byte transmit buffer.
size_t BuildTxRequest(uint8_t* out, size_t outSize, uint8_t frameId, uint16_t dest, const uint8_t* payload, size_t n);
// AT command 0x08 with two command letters and parameter bytes; returns frame size or 0.
size_t BuildAtCommand(uint8_t* out, size_t outSize, uint8_t frameId, const char cmd[2], const uint8_t* params, size_t n);
// Puts a frame identifier into a built TX request (byte 4) and keeps the checksum valid.
void SetFrameId(uint8_t* frame, size_t frameSize, uint8_t frameId);

// RF payload encoders; each returns the payload size, or 0 when out is too small.
size_t EncodeVehicleMessage(uint8_t* out, size_t outSize, uint8_t protocol, const uint8_t* data, size_t len);
size_t EncodeCommandMessage(uint8_t* out, size_t outSize, uint8_t protocol, const uint8_t* data, size_t len,
                            const char* name1, const char* name2);  // names only for VKL (0x10), else nullptr
size_t EncodeDeviceCommand(uint8_t* out, size_t outSize, uint8_t protocol, uint8_t command, const uint8_t* data, size_t len);
// Announcement: bam selects BAM; identifier is the 4-byte J1939 identifier of the message.
size_t EncodeLongAnnouncement(uint8_t* out, size_t outSize, bool bam, const uint8_t identifier[4], uint8_t dest,
                              uint8_t source, uint16_t size);
// Chunk j (1-based) of `count` chunks of a long message of `total` data bytes.
size_t EncodeLongChunk(uint8_t* out, size_t outSize, bool bam, const uint8_t* data, size_t total, size_t j);
size_t ChunkCount(size_t total);                 // total / 49 rounded up
size_t ChunkPayloadSize(size_t total, size_t j); // payload bytes of chunk j

// View of an adapter frame as it lies in rxFrameQueue (no checksum).
struct RxHead {
  uint8_t apiId;
  uint8_t protocol;    // as sent (bit 7 may be set)
  uint8_t type;        // marker cleared
  bool marked;
  size_t protocolOffset;  // 8 (0x81) or 14 (0x80)
};
// False when the frame is too short for its layout.
bool ReadRxHead(const uint8_t* frame, size_t n, RxHead& head);

// Batch splitting. A rebuilt J1939 entry of record (type, body n) is n + 11 bytes.
constexpr size_t kRebuiltHeader = 11;
struct BatchRecord {
  uint8_t type;
  uint8_t length;
  const uint8_t* body;
};
// Walks the records of a J1939 batch frame (first record type at offset 9, length at 10).
// Calls fn for each complete record; stops at a record whose body runs past the frame and
// returns the number of records dropped that way (0 or 1).
template <typename Fn>
size_t ForEachBatchRecord(const uint8_t* frame, size_t n, Fn&& fn) {
  size_t off = 9;
  while (off + 2 <= n) {
    BatchRecord r{frame[off], frame[off + 1], frame + off + 2};
    if (off + 2 + r.length > n) return 1;
    fn(r);
    off += 2 + static_cast<size_t>(r.length);
  }
  return off < n ? 1 : 0;  // a lone trailing type byte
}
// Builds the rebuilt entry into out (at least n + 11 bytes); returns its size.
size_t BuildRebuiltEntry(uint8_t* out, size_t outSize, const BatchRecord& r);

}  // namespace qv::driver::proto
