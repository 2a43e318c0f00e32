#include "device_protocol.h"

#include <cstring>

#include "api_frame.h"
#include "j1939_transport.h"

namespace qv::driver::proto {

size_t BuildTxRequest(uint8_t* out, size_t outSize, uint8_t frameId, uint16_t dest, const uint8_t* payload, size_t n) {
  uint8_t data[kMaxOutgoingFrame];
  if (n > kMaxTxPayload) return 0;
  data[0] = qv::frame::kApiTxRequest16;
  data[1] = frameId;
  data[2] = static_cast<uint8_t>(dest >> 8);
  data[3] = static_cast<uint8_t>(dest & 0xFF);
  data[4] = 0x00;
  if (n) std::memcpy(data + 5, payload, n);
  return qv::frame::BuildFrame(out, outSize, data, n + 5);
}

size_t BuildAtCommand(uint8_t* out, size_t outSize, uint8_t frameId, const char cmd[2], const uint8_t* params, size_t n) {
  uint8_t data[kMaxOutgoingFrame];
  if (n + 4 + 4 > kMaxOutgoingFrame) return 0;
  data[0] = qv::frame::kApiAtCommand;
  data[1] = frameId;
  data[2] = static_cast<uint8_t>(cmd[0]);
  data[3] = static_cast<uint8_t>(cmd[1]);
  if (n) std::memcpy(data + 4, params, n);
  return qv::frame::BuildFrame(out, outSize, data, n + 4);
}

void SetFrameId(uint8_t* frame, size_t frameSize, uint8_t frameId) {
  if (frameSize < 9) return;
  const uint8_t old = frame[4];
  frame[4] = frameId;
  // The checksum drops by what the identifier byte gained.
  frame[frameSize - 1] = static_cast<uint8_t>(frame[frameSize - 1] - (frameId - old));
}

size_t EncodeVehicleMessage(uint8_t* out, size_t outSize, uint8_t protocol, const uint8_t* data, size_t len) {
  if (outSize < len + 3) return 0;
  out[0] = protocol;
  out[1] = kTypeVehicleMessage;
  out[2] = static_cast<uint8_t>(len & 0xFF);
  if (len) std::memcpy(out + 3, data, len);
  return len + 3;
}

size_t EncodeCommandMessage(uint8_t* out, size_t outSize, uint8_t protocol, const uint8_t* data, size_t len,
                            const char* name1, const char* name2) {
  // Byte 1 is the record's first data byte; an empty record still sends it (as 0).
  const size_t n1 = name1 ? std::strlen(name1) + 1 : 0;
  const size_t n2 = name2 ? std::strlen(name2) + 1 : 0;
  const size_t rest = len > 1 ? len - 1 : 0;
  const size_t total = 2 + n1 + n2 + rest;
  if (outSize < total) return 0;
  out[0] = protocol;
  out[1] = len ? data[0] : 0;
  size_t o = 2;
  if (n1) { std::memcpy(out + o, name1, n1); o += n1; }
  if (n2) { std::memcpy(out + o, name2, n2); o += n2; }
  if (rest) std::memcpy(out + o, data + 1, rest);
  return total;
}

size_t EncodeDeviceCommand(uint8_t* out, size_t outSize, uint8_t protocol, uint8_t command, const uint8_t* data, size_t len) {
  if (outSize < len + 2) return 0;
  out[0] = protocol;
  out[1] = command;
  if (len) std::memcpy(out + 2, data, len);
  return len + 2;
}

size_t EncodeLongAnnouncement(uint8_t* out, size_t outSize, bool bam, const uint8_t identifier[4], uint8_t dest,
                              uint8_t source, uint16_t size) {
  if (outSize < 15) return 0;
  const uint8_t pf = identifier[1];
  out[0] = QV_PROTOCOL_J1939;
  out[1] = kTypeLongAnnouncement;
  out[2] = 12;
  out[3] = bam ? 0x1C : 0x18;
  out[4] = tp::kPfTransportControl;
  out[5] = bam ? 0xFF : dest;
  out[6] = source;
  out[7] = bam ? 0x20 : 0x10;
  out[8] = static_cast<uint8_t>(size & 0xFF);
  out[9] = static_cast<uint8_t>(size >> 8);
  out[10] = static_cast<uint8_t>((size + 6) / 7);
  out[11] = bam ? 0xFF : 0x07;
  out[12] = pf >= 240 ? identifier[2] : 0;
  out[13] = pf;
  out[14] = 0;
  return 15;
}

size_t ChunkCount(size_t total) { return (total + kChunkPayloadMax - 1) / kChunkPayloadMax; }

size_t ChunkPayloadSize(size_t total, size_t j) {
  if (j == 0 || j > ChunkCount(total)) return 0;
  const size_t start = (j - 1) * kChunkPayloadMax;
  const size_t left = total - start;
  return left < kChunkPayloadMax ? left : kChunkPayloadMax;
}

size_t EncodeLongChunk(uint8_t* out, size_t outSize, bool bam, const uint8_t* data, size_t total, size_t j) {
  const size_t count = ChunkCount(total);
  const size_t n = ChunkPayloadSize(total, j);
  if (n == 0) return 0;
  const bool last = j == count;
  const size_t pad = last ? 7 - (n % 7) : 0;
  const size_t size = 4 + n + pad;
  if (outSize < size) return 0;
  const uint8_t s = j == 1 ? 0 : (last ? 2 : 1);
  out[0] = QV_PROTOCOL_J1939;
  out[1] = kTypeLongChunk;
  out[2] = static_cast<uint8_t>(n + 1);
  out[3] = static_cast<uint8_t>(s + (bam ? kChunkBam : kChunkRts));
  std::memcpy(out + 4, data + (j - 1) * kChunkPayloadMax, n);
  std::memset(out + 4 + n, 0xFF, pad);
  return size;
}

bool ReadRxHead(const uint8_t* frame, size_t n, RxHead& head) {
  if (n < 4) return false;
  head.apiId = frame[3];
  head.protocolOffset =
      head.apiId == qv::frame::kApiRxPacket64 ? qv::frame::kRxPacket64DataOffset : qv::frame::kRxPacket16DataOffset;
  if (n < head.protocolOffset + 2) return false;
  head.protocol = frame[head.protocolOffset];
  head.marked = (frame[head.protocolOffset + 1] & kMarker) != 0;
  head.type = static_cast<uint8_t>(frame[head.protocolOffset + 1] & 0x7F);
  return true;
}

size_t BuildRebuiltEntry(uint8_t* out, size_t outSize, const BatchRecord& r) {
  const size_t size = kRebuiltHeader + r.length;
  if (outSize < size) return 0;
  std::memset(out, 0, kRebuiltHeader);
  out[1] = static_cast<uint8_t>((r.length + 8) >> 8);
  out[2] = static_cast<uint8_t>((r.length + 8) & 0xFF);
  out[9] = r.type;
  out[10] = r.length;
  if (r.length) std::memcpy(out + 11, r.body, r.length);
  return size;
}

}  // namespace qv::driver::proto
