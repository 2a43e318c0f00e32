#include "messages.h"

#include <cstdio>
#include <cstring>

#include "clients.h"
#include "driver_binding.h"
#include "trace_log.h"

namespace qv::rp1210 {
namespace {

constexpr int kJ1939HeaderBytes = 6;
constexpr int kJ1939ShortestRead = 10;  // the receive format's header with no data
constexpr int kCanTypeAndIdentifier = 5;  // type byte, then a 4-byte identifier for both kinds
constexpr int kCanMaxDataBytes = 8;

int TransmitRecord(MessageRecord* r) {
  if (!DriverBound()) return ERR_DLL_NOT_INITIALIZED;
  const QvTransmitMessageFn transmit = Ctx().binding.api.transmitMessage;
  const uint8_t device = Ctx().deviceId;
  const Unlocked waiting;  // a blocking send waits for its echo
  return transmit(device, r);
}

int Send(const ClientSlot& slot, const uint8_t* m, int n, uint8_t block) {
  const ProtocolChoice p = SendProtocol(slot.protocolName);
  if (p.code < 0) return ERR_INVALID_PROTOCOL;
  MessageRecord r;
  const int refused = BuildSendRecord(p, m, n, block, Ctx().appPacketizing, &r);
  if (refused != 0) return refused;
  return TransmitRecord(&r);
}

// A message the application's buffer cannot hold is refused and dropped: kept, it would stand
// in front of every later message of a client that always reads with the same buffer.
int Drop(ClientSlot& slot, int16_t nClientID, int size, int needed) {
  ++slot.droppedReads;
  if (TraceOn()) {
    char line[kConnectLineSize];
    std::snprintf(line, sizeof line, "RXDROP,ClientID=%d,Size=%d,Need=%d,Dropped=%u", nClientID, size, needed,
                  static_cast<unsigned>(slot.droppedReads));
    WriteTraceLine(line);
  }
  return ERR_MESSAGE_TOO_LONG;
}

// Copies a delivered message to the application whole, or drops it.
int Deliver(ClientSlot& slot, int16_t nClientID, const ProtocolChoice& p, const uint8_t* d, uint32_t length,
            uint8_t echoFlag, uint8_t* buffer, int size, uint8_t savedTransport) {
  if (p.layout == Layout::J1939) {
    uint8_t work[QV_MESSAGE_RETURNED_DATA_MAX + 2 + 8];
    const int total = ConvertJ1939Received(d, length, echoFlag, savedTransport, Ctx().claimedAddress, work);
    if (total > size) return Drop(slot, nClientID, size, total);
    std::memcpy(buffer, work, static_cast<size_t>(total));
    return total;
  }
  const int total = static_cast<int>(length);
  if (total > size) return Drop(slot, nClientID, size, total);
  std::memcpy(buffer, d, length);
  if (total < size) buffer[total] = 0;  // the record's trailing zero, when there is room for it
  return total;
}

int Read(int16_t nClientID, uint8_t* buffer, int16_t size, int16_t block) {
  ClientSlot* slot = FindClient(nClientID);
  if (slot == nullptr) return ERR_INVALID_CLIENT_ID;
  const ProtocolChoice p = ReadProtocol(slot->protocolName);
  if (p.code < 0) return ERR_INVALID_PROTOCOL;
  char protocolName[sizeof slot->protocolName];
  std::memcpy(protocolName, slot->protocolName, sizeof protocolName);
  // No room for even the shortest message: refuse before one is taken from the driver.
  if (buffer == nullptr || size <= 0 || (p.layout == Layout::J1939 && size < kJ1939ShortestRead))
    return ERR_MESSAGE_TOO_LONG;
  const uint8_t savedTransport = p.layout == Layout::J1939 ? (buffer[8] & 0x80) : 0;

  if (!DriverBound()) return ERR_DLL_NOT_INITIALIZED;
  MessageRecord r{};
  r.protocol = static_cast<uint8_t>(p.code);
  r.transportMode = savedTransport;
  r.blockFlag = static_cast<uint8_t>(block);
  const QvReceiveMessageFn receive = Ctx().binding.api.receiveMessage;
  const uint8_t device = Ctx().deviceId;
  int32_t got;
  {
    const Unlocked waiting;  // a blocking read waits for a message
    got = receive(device, &r);
  }
  // The client may have disconnected meanwhile (its slot free or taken by another).
  if (FindClient(nClientID) != slot || std::strcmp(slot->protocolName, protocolName) != 0) return 0;
  uint32_t length = QvReturnedLength(&r);
  // The link to the adapter is gone (the port went away under the open device): the
  // application must hear it, or a reading loop would wait for ever. A close of this client
  // that ends the read was caught above.
  if (got == ERR_HARDWARE_NOT_RESPONDING && length == 0) return ERR_HARDWARE_NOT_RESPONDING;
  // The driver's other error codes are positive too; they deliver nothing, and converting the
  // empty record would hand the application a message that never came.
  if (got <= 0 || length == 0) return 0;
  if (length > QV_MESSAGE_RETURNED_DATA_MAX) length = QV_MESSAGE_RETURNED_DATA_MAX;
  return Deliver(*slot, nClientID, p, QvReturnedData(&r), length, r.echoFlag, buffer, size, savedTransport);
}

}  // namespace

ProtocolChoice SendProtocol(const char* n) {
  if (Contains(n, "J1708")) return {QV_PROTOCOL_J1708, Layout::PassThrough};
  if (Contains(n, "IO")) return {QV_PROTOCOL_IO, Layout::PassThrough};
  if (Contains(n, "Device")) return {QV_PROTOCOL_DEVICE, Layout::PassThrough};
  if (Contains(n, "VKL")) return {QV_PROTOCOL_VKL, Layout::PassThrough};
  if (Contains(n, "J1939")) return {QV_PROTOCOL_J1939, Layout::J1939};
  if (Contains(n, "CAN")) return {QV_PROTOCOL_J1939, Layout::Can};
  if (Contains(n, "Network")) return {QV_PROTOCOL_NETWORK, Layout::PassThrough};
  return {-1, Layout::PassThrough};
}

ProtocolChoice ReadProtocol(const char* n) {
  if (Contains(n, "J1708")) return {QV_PROTOCOL_J1708, Layout::PassThrough};
  if (Contains(n, "Device")) return {QV_PROTOCOL_DEVICE, Layout::PassThrough};
  if (Contains(n, "ATEC")) return {QV_PROTOCOL_ATEC, Layout::PassThrough};
  if (Contains(n, "VKL")) return {QV_PROTOCOL_VKL, Layout::PassThrough};
  if (Contains(n, "J1939")) return {QV_PROTOCOL_J1939, Layout::J1939};
  if (Contains(n, "IO")) return {QV_PROTOCOL_IO, Layout::PassThrough};
  if (Contains(n, "CAN")) return {QV_PROTOCOL_J1939, Layout::Can};
  if (Contains(n, "Network")) return {QV_PROTOCOL_NETWORK, Layout::PassThrough};
  return {-1, Layout::PassThrough};
}

int BuildSendRecord(const ProtocolChoice& p, const uint8_t* m, int n, uint8_t block, uint8_t appPacketizing,
                    MessageRecord* r) {
  std::memset(r, 0, sizeof *r);
  if (n < 0 || (n > 0 && m == nullptr)) return ERR_MESSAGE_NOT_SENT;
  r->protocol = static_cast<uint8_t>(p.code);
  r->blockFlag = block;
  switch (p.layout) {
    case Layout::PassThrough:
      if (n > QV_MESSAGE_BODY_SIZE) return ERR_MESSAGE_TOO_LONG;
      if (n > 0) std::memcpy(r->body, m, static_cast<size_t>(n));
      r->length = static_cast<uint32_t>(n);
      return 0;
    case Layout::J1939:
      if (n < kJ1939HeaderBytes) return ERR_MESSAGE_NOT_SENT;
      if (n - 2 > QV_MESSAGE_BODY_SIZE) return ERR_MESSAGE_TOO_LONG;
      r->body[0] = static_cast<uint8_t>((m[3] << 2) & 0x1C);
      r->body[1] = m[1];
      r->body[2] = m[1] < 240 ? m[5] : m[0];
      r->body[3] = m[4];
      std::memcpy(r->body + 4, m + 6, static_cast<size_t>(n - 6));
      r->length = static_cast<uint32_t>(n - 2);
      r->sourceAddress = m[4];
      r->destAddress = m[5];
      r->transportMode = appPacketizing != 0 ? 16 : ((m[3] & 0x80) ? 0x80 : 0);
      return 0;
    case Layout::Can:
      // One classic CAN frame: a longer one would leave as a J1939 transport message.
      if (n < kCanTypeAndIdentifier) return ERR_MESSAGE_NOT_SENT;
      if (n - kCanTypeAndIdentifier > kCanMaxDataBytes) return ERR_MESSAGE_TOO_LONG;
      std::memcpy(r->body, m + 1, static_cast<size_t>(n - 1));
      r->length = static_cast<uint32_t>(n - 1);
      if (m[0] == 0)
        r->body[0] = static_cast<uint8_t>(r->body[0] | 0x80);
      else
        r->body[0] = static_cast<uint8_t>(r->body[0] & 0x7F);
      return 0;
  }
  return 0;
}

int ConvertJ1939Received(const uint8_t* d, uint32_t length, uint8_t echoFlag, uint8_t savedTransport,
                         uint8_t claimed, uint8_t* out) {
  const int L = static_cast<int>(length);
  // A short delivery is read as if zero-padded, so a header byte never comes from past it.
  auto at = [&](int i) -> uint8_t { return i < L ? d[i] : 0; };
  const uint8_t mask = savedTransport == 0x80 ? 0x80 : 0x7F;
  uint8_t header[11];
  int headerSize;
  int dataFrom;
  for (int i = 0; i < 4; ++i) header[i] = at(i);
  if (echoFlag == 0) {
    const uint8_t id0 = at(4), id1 = at(5), id2 = at(6), id3 = at(7);
    header[4] = id1 >= 240 ? id2 : 0;
    header[5] = id1;
    header[6] = 0;
    header[7] = static_cast<uint8_t>((static_cast<int8_t>(id0) >> 2) & mask);
    header[8] = id3;
    if (L <= 16)
      header[9] = id1 < 240 ? id2 : 0;
    else
      header[9] = id1 < 240 ? claimed : id2;
    headerSize = 10;
    dataFrom = 8;
  } else {
    const uint8_t echo = at(4), id0 = at(5), id1 = at(6), id2 = at(7), id3 = at(8);
    header[4] = echo;
    header[5] = id1 >= 240 ? id2 : 0;
    header[6] = id1;
    header[7] = 0;
    header[8] = static_cast<uint8_t>((static_cast<int8_t>(id0) >> 2) & mask);
    header[9] = id3;
    header[10] = id1 >= 240 ? id2 : (echo == 1 ? id2 : claimed);
    headerSize = 11;
    dataFrom = 9;
  }
  const int total = L + 2;
  const int fromHeader = total < headerSize ? total : headerSize;
  std::memcpy(out, header, static_cast<size_t>(fromHeader));
  if (L > dataFrom) std::memcpy(out + headerSize, d + dataFrom, static_cast<size_t>(L - dataFrom));
  return total;
}

int InternalSend(const ClientSlot& slot, const uint8_t* message, int size, uint8_t block) {
  return Send(slot, message, size, block);
}

int16_t SendMessage(int16_t nClientID, const char* message, int16_t nMessageSize, int16_t nBlockOnSend) {
  const auto* m = reinterpret_cast<const uint8_t*>(message);
  const ClientSlot* slot = FindClient(nClientID);
  const int result =
      slot == nullptr ? ERR_INVALID_CLIENT_ID : Send(*slot, m, nMessageSize, static_cast<uint8_t>(nBlockOnSend));
  if (TraceOn()) {
    char head[kCallHeadSize];
    std::snprintf(head, sizeof head, "SendMSG,ClientID=%d,Block=%d,Size=%d,RET=%d,MSG=", nClientID, nBlockOnSend,
                  nMessageSize, result);
    WriteTraceCall(head, m, nMessageSize);
  }
  return static_cast<int16_t>(result);
}

int16_t ReadMessage(int16_t nClientID, char* buffer, int16_t nBufferSize, int16_t nBlockOnRead) {
  auto* b = reinterpret_cast<uint8_t*>(buffer);
  const int result = Read(nClientID, b, nBufferSize, nBlockOnRead);
  if (result != 0 && TraceOn()) {
    const int shown = result < nBufferSize ? result : nBufferSize;
    char head[kCallHeadSize];
    std::snprintf(head, sizeof head, "RXMSG,ClientID=%d,Block=%d,Size=%d,Ret=%d,MSG=", nClientID, nBlockOnRead,
                  nBufferSize, result);
    WriteTraceCall(head, b, shown);
  }
  return static_cast<int16_t>(result);
}

}  // namespace qv::rp1210
