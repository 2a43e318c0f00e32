#include "receive.h"

#include <cstring>

#include "api_frame.h"
#include "device_protocol.h"
#include "j1939_transport.h"

namespace qv::driver {

namespace {

constexpr uint32_t kBlockingPollMs = 25;
constexpr size_t kStampedMin = 15;  // entry bytes up to and including the time stamp

void Malformed(Device& d) { d.malformedCount.fetch_add(1, std::memory_order_relaxed); }

uint32_t Pop(Device& d, ByteQueue& q, uint8_t* buf, size_t cap) {
  uint32_t size = 0;
  std::memset(buf, 0, cap < kEntryBufferSize ? cap : kEntryBufferSize);
  platform::LockGuard g(d.messageQueueLock);
  QueueTake(d, q, buf, cap, size);
  return size;
}

// Pops one entry; a blocking record waits for the data event until one arrives or the device
// stops. Returns the entry size, 0 for no message; `waited` tells whether a wait took place.
uint32_t ReadEntry(Device& d, const MessageRecord& rec, ByteQueue& q, EventId ev, uint8_t* buf, size_t cap, bool& waited) {
  waited = false;
  uint32_t size = Pop(d, q, buf, cap);
  if (size < 7 && rec.blockFlag) {
    waited = true;
    d.blockingReaders.fetch_add(1, std::memory_order_acq_rel);
    ResetEvent(d, ev);
    ResetEvent(d, kEvReadFinished);
    // An entry queued between the first pop and the reset would leave the event clear and the
    // read waiting for the next one: look once more before waiting.
    size = Pop(d, q, buf, cap);
    if (size == 0) {
      while (!d.stopFlag.load() && !d.threadsStopping()) {
        if (d.seam->wait(d, ev, kBlockingPollMs) == platform::WaitResult::Signalled) break;
      }
      size = Pop(d, q, buf, cap);
    }
    SetEvent(d, kEvReadFinished);
    d.blockingReaders.fetch_sub(1, std::memory_order_acq_rel);
  }
  return size < 7 ? 0 : size;
}

struct Out {
  uint8_t* p;
  size_t n = 0;
  void put(uint8_t b) {
    if (n < QV_MESSAGE_RETURNED_DATA_MAX) p[n++] = b;
  }
  void put(const uint8_t* s, size_t len) {
    for (size_t i = 0; i < len; ++i) put(s[i]);
  }
};

int Finish(MessageRecord& rec, size_t len) {
  QvSetReturnedLength(&rec, static_cast<uint32_t>(len));
  return static_cast<int>(len);
}

bool Contains(const uint8_t* text, size_t n, const char* pattern) {
  const size_t m = std::strlen(pattern);
  if (m == 0) return true;
  for (size_t i = 0; i + m <= n; ++i)
    if (std::memcmp(text + i, pattern, m) == 0) return true;
  return false;
}

int DeliverWhole(MessageRecord& rec, const uint8_t* e, uint32_t c) {
  Out o{QvReturnedData(&rec)};
  o.put(e + 3, c - 3);
  return Finish(rec, o.n);
}

bool IsEcho(uint8_t t) { return proto::Unmarked(t) == proto::kTypeTransmitted; }

}  // namespace

void ResetReceiveState(Device& d) {
  platform::LockGuard g(d.reassemblyLock);
  for (Reassembly* r : {&d.rts, &d.bam}) {
    r->size = 0;
    r->fill = kReassemblyHeader;
    r->lastSequence = 3;
    r->chunks = 0;
  }
  d.rts.state.store(kRtsIdle);
  d.bam.state.store(kBamIdle);
  d.longEchoLength = 0;
  d.pendingAck.store(0);
  d.lastDuplicateKey = 0;
}

int ReceiveLongMessage(Device& d, MessageRecord& rec) {
  platform::LockGuard g(d.reassemblyLock);
  Reassembly* r = nullptr;
  uint8_t idle = 0;
  if (d.bam.state.load() == kBamComplete) {
    r = &d.bam;
    idle = kBamIdle;
  } else if (d.rts.state.load() == kRtsComplete) {
    r = &d.rts;
    idle = kRtsIdle;
  } else {
    return 0;
  }
  const bool echo = d.echoSettingJ1939.load() != 0;
  rec.echoFlag = echo ? 1 : 0;
  Out o{QvReturnedData(&rec)};
  const size_t body = static_cast<size_t>(r->size) + kReassemblyHeader;  // at most 1808 by construction
  if (echo) {
    o.put(r->buffer, 4);
    o.put(0);
    o.put(r->buffer + 4, body - 4);
  } else {
    o.put(r->buffer, body);
  }
  r->state.store(idle);
  return Finish(rec, o.n);
}

int ReceiveMessage(Device& d, MessageRecord& rec) {
  QvSetReturnedLength(&rec, 0);
  uint8_t small[kEntryBufferSize];
  bool waited = false;
  switch (rec.protocol) {
    case QV_PROTOCOL_DEVICE:
    case QV_PROTOCOL_NETWORK:
    case QV_PROTOCOL_IO: {
      ByteQueue& q = rec.protocol == QV_PROTOCOL_DEVICE ? d.deviceQueue : rec.protocol == QV_PROTOCOL_NETWORK ? d.networkQueue : d.ioQueue;
      const EventId ev = rec.protocol == QV_PROTOCOL_DEVICE ? kEvDeviceData : rec.protocol == QV_PROTOCOL_NETWORK ? kEvNetworkData : kEvIoData;
      const uint32_t c = ReadEntry(d, rec, q, ev, small, sizeof small, waited);
      return c ? DeliverWhole(rec, small, c) : 0;
    }
    case QV_PROTOCOL_VKL: {
      const uint32_t c = ReadEntry(d, rec, d.vklQueue, kEvVklData, small, sizeof small, waited);
      if (!c) return 0;
      char name[kVklStringSize], p1[kVklStringSize], p2[kVklStringSize];
      {
        platform::LockGuard g(d.stateLock);
        std::memcpy(name, d.vklStrings[0], kVklStringSize);
        std::memcpy(p1, d.vklStrings[2], kVklStringSize);
        std::memcpy(p2, d.vklStrings[3], kVklStringSize);
      }
      name[kVklStringSize - 1] = p1[kVklStringSize - 1] = p2[kVklStringSize - 1] = 0;
      if (name[0]) {
        const size_t start = small[3] == qv::frame::kApiRxPacket16 ? 10 : 16;
        const uint8_t* text = small + start;
        const size_t tn = c > start ? c - start : 0;
        if (!Contains(text, tn, p1) || !Contains(text, tn, p2)) return 0;
      }
      return DeliverWhole(rec, small, c);
    }
    case QV_PROTOCOL_J1708: {
      const uint32_t c = ReadEntry(d, rec, d.j1708Queue, kEvJ1708Data, small, sizeof small, waited);
      if (!c) return 0;
      if (c < kStampedMin) {  // no room for the time stamp: dropped, never read past the entry
        Malformed(d);
        return 0;
      }
      Out o{QvReturnedData(&rec)};
      o.put(small + 11, 4);
      if (d.echoSettingJ1708.load()) o.put(small[9] == proto::kTypeTransmitted ? 1 : 0);
      o.put(small + 15, c - 15);
      return Finish(rec, o.n);
    }
    case QV_PROTOCOL_J1939: {
      const bool can = d.canMode.load() != 0;
      if (can) {
        d.protocolStatusCan.fetch_or(2);
      } else {
        d.protocolStatusJ1939.fetch_or(2);
        if (d.bam.state.load() == kBamComplete || (rec.transportMode == 0 && d.rts.state.load() == kRtsComplete))
          return ReceiveLongMessage(d, rec);
      }
      uint8_t big[kJ1939EntryBufferSize];
      const uint32_t c = ReadEntry(d, rec, d.j1939Queue, kEvJ1939Data, big, sizeof big, waited);
      // Woken by a completed long message: deliver it. An entry popped meanwhile is delivered
      // instead (not lost); the long message stays complete for the next call.
      if (!can && waited && !c && (d.bam.state.load() == kBamComplete || d.rts.state.load() == kRtsComplete))
        return ReceiveLongMessage(d, rec);
      if (!c) return 0;
      if (c < kStampedMin) {
        Malformed(d);
        return 0;
      }
      const bool echo = d.echoSettingJ1939.load() != 0;
      Out o{QvReturnedData(&rec)};
      o.put(big + 11, 4);
      if (echo) o.put(IsEcho(big[9]) ? 1 : 0);
      if (can) {
        const bool standard = (big[15] & 0x80) != 0;
        big[15] = static_cast<uint8_t>(big[15] & 0x7F);
        o.put(standard ? 0 : 1);
      } else {
        rec.echoFlag = echo ? 1 : 0;
      }
      o.put(big + 15, c - 15);
      return Finish(rec, o.n);
    }
    default:
      return ERR_INVALID_PROTOCOL;
  }
}

void HandleRecord(Device& d, const uint8_t* r, size_t n) {
  if (n < proto::kRebuiltHeader) return;
  const uint8_t t = r[9];
  if (proto::Unmarked(t) == proto::kTypeTransportNotice) {
    if (n < 27) {  // a TP.CM notice needs its identifier and 8 data bytes
      Malformed(d);
      return;
    }
    const uint8_t k = r[19];
    if (!d.versionFeature.load() && tp::Is(k, tp::Control::Cts)) SetEvent(d, kEvRtsChunkSent);
    if (tp::Is(k, tp::Control::EndOfMessageAck) || tp::Is(k, tp::Control::Abort)) {
      d.rtsSendState.store(kRtsSendFree);
      return;
    }
    const bool rts = tp::Is(k, tp::Control::Rts);
    if (!rts && !tp::Is(k, tp::Control::Bam)) return;
    const uint16_t size = static_cast<uint16_t>(r[20] + 256 * r[21]);
    if (size == 0 || size > kReassemblySize - kReassemblyHeader) {
      Malformed(d);  // could never be held: refuse rather than overrun
      return;
    }
    Reassembly& a = rts ? d.rts : d.bam;
    platform::LockGuard g(d.reassemblyLock);
    std::memset(a.buffer, 0, sizeof a.buffer);
    a.chunks = 0;
    a.size = size;
    a.lastSequence = 3;
    a.buffer[0] = r[11];
    a.buffer[1] = r[12];
    a.buffer[2] = r[13];
    a.buffer[3] = r[14];
    a.buffer[4] = r[26];
    a.buffer[5] = r[25];
    a.buffer[6] = r[24];
    a.buffer[7] = r[18];
    a.fill = kReassemblyHeader;
    a.state.store(rts ? kRtsAssembling : kBamAssembling);
    return;
  }
  if (IsEcho(t)) {
    if (d.echoSettingJ1939.load()) {
      bool pushed = false;
      if (n > 16 && r[16] == tp::kPfTransportControl) {
        uint8_t e[kJ1939EntryBufferSize];
        platform::LockGuard g(d.reassemblyLock);
        const size_t copy = d.longEchoLength;
        if (n >= kStampedMin && copy > 0 && copy + 15 <= sizeof e) {
          e[0] = qv::frame::kStartDelimiter;
          e[1] = static_cast<uint8_t>((copy + 12) >> 8);
          e[2] = static_cast<uint8_t>((copy + 12) & 0xFF);
          std::memcpy(e + 3, r + 3, 12);
          std::memcpy(e + 15, d.longEchoCopy, copy);
          platform::LockGuard g2(d.messageQueueLock);
          QueuePut(d, d.j1939Queue, e, copy + 15);
          pushed = true;
          d.longEchoLength = 0;  // one echo per long send; later TP.CM echoes are their own
        }
      }
      if (!pushed) {
        platform::LockGuard g(d.messageQueueLock);
        QueuePut(d, d.j1939Queue, r, n);
      }
      SetEvent(d, kEvJ1939Data);
    }
    SetEvent(d, kEvJ1939Confirm);
    return;
  }
  {
    platform::LockGuard g(d.messageQueueLock);
    QueuePut(d, d.j1939Queue, r, n);
  }
  SetEvent(d, kEvJ1939Data);
}

void HandleBatch(Device& d, const uint8_t* frame, size_t n) {
  uint8_t entry[proto::kRebuiltHeader + 256];
  const size_t dropped = proto::ForEachBatchRecord(frame, n, [&](const proto::BatchRecord& r) {
    const size_t size = proto::BuildRebuiltEntry(entry, sizeof entry, r);
    d.j1939RecordCount.fetch_add(1, std::memory_order_relaxed);
    HandleRecord(d, entry, size);
  });
  if (dropped) Malformed(d);
}

void HandleChunk(Device& d, const uint8_t* f, size_t c) {
  if (c < 16) {
    Malformed(d);
    return;
  }
  const uint8_t s = f[15];
  const uint8_t q = static_cast<uint8_t>(s & 0x0F);
  const bool rts = (s & 0xF0) == proto::kChunkRts;
  const bool bam = (s & 0xF0) == proto::kChunkBam;
  if (!rts && !bam) return;
  Reassembly& a = rts ? d.rts : d.bam;
  const uint8_t assembling = rts ? kRtsAssembling : kBamAssembling;
  platform::LockGuard g(d.reassemblyLock);
  if (a.state.load() != assembling) return;
  if (!(q == a.lastSequence + 1 || (a.lastSequence == 3 && q == 0))) return;
  const size_t n = c - 16;
  if (a.fill + n > kReassemblySize) {
    // Would run past the buffer: the transfer is corrupt, give it up so the next one starts clean.
    a.state.store(rts ? kRtsIdle : kBamIdle);
    Malformed(d);
    return;
  }
  std::memcpy(a.buffer + a.fill, f + 16, n);
  a.fill = static_cast<uint16_t>(a.fill + n);
  ++a.chunks;
  a.lastSequence = q;
  d.pendingAck.store(rts ? proto::kChunkRts : proto::kChunkBam);
  SetEvent(d, kEvTransportAck);
  if (a.fill - kReassemblyHeader >= a.size) {
    a.state.store(rts ? kRtsComplete : kBamComplete);
    SetEvent(d, kEvJ1939Data);
  }
}

}  // namespace qv::driver
