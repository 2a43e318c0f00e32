#include "transmit.h"

#include <cstring>

#include "api_frame.h"
#include "device_protocol.h"

namespace qv::driver {

namespace {

constexpr uint32_t kSendFramePolls = 150, kSendFramePollMs = 1;
constexpr uint32_t kClaimPolls = 75, kClaimPollMs = 10;
constexpr uint32_t kReplyWaitMs = 150, kTxStatusWaitMs = 100, kReplyAttempts = 10;
constexpr uint32_t kChunkAcceptedWaitMs = 250, kChunkSentWaitMs = 900, kChunkAttempts = 3;
constexpr uint32_t kRtsSendPolls = 25, kRtsSendPollMs = 10;

// A resend takes the buffer back without the full claim wait, but waits briefly for a frame
// another sender has just handed over, so that frame is not overwritten before it is written.
void Reclaim(Device& d, uint32_t pauseMs) {
  ClaimTransmitBuffer(d, 30, 1);
  d.writeBusy.store(true, std::memory_order_release);
  d.seam->sleepMs(pauseMs);
}

void Resend(Device& d, const OutgoingFrame& f) {
  Reclaim(d, 1);
  HandOver(d, f);
}

// Waits up to `attempts` times `waitMs` for `ev`, calling `retry` after each wait that times
// out. ERR_Success once it is signalled; ERR_HARDWARE_NOT_RESPONDING when the wait fails, the
// device is closing (nothing to resend to) or every attempt timed out.
template <class Retry>
int WaitOrRetry(Device& d, EventId ev, uint32_t waitMs, uint32_t attempts, Retry retry) {
  for (uint32_t i = 0; i < attempts; ++i) {
    const platform::WaitResult r = d.seam->wait(d, ev, waitMs);
    if (r == platform::WaitResult::Signalled) return ERR_Success;
    if (r == platform::WaitResult::Failed || d.threadsStopping()) return ERR_HARDWARE_NOT_RESPONDING;
    retry();
  }
  return ERR_HARDWARE_NOT_RESPONDING;
}

bool ReplyEvent(uint8_t protocol, EventId& ev) {
  switch (protocol) {
    case QV_PROTOCOL_J1708: ev = kEvJ1708Echo; return true;
    case QV_PROTOCOL_J1939: ev = kEvJ1939Confirm; return true;
    case QV_PROTOCOL_IO: ev = kEvIoReply; return true;
    case QV_PROTOCOL_VKL: ev = kEvVklReply; return true;
    case QV_PROTOCOL_DEVICE: ev = kEvDeviceReply; return true;
    default: return false;
  }
}

// Clears the awaited TX status frame identifier on every way out of a wait.
struct AwaitedTxStatus {
  Device& d;
  ~AwaitedTxStatus() { d.awaitedTxFrameId.store(0); }
};

// The caller holds replyWaitLock: the reply events are shared, one waiter at a time.
int WaitClaimed(Device& d, OutgoingFrame& f, bool acknowledged) {
  d.replyWaitLock.assertHeld();
  // A reply or TX status left over from an earlier send (or a keep-alive request) must not
  // release this one: both events start clear, and a TX status counts only for this frame.
  EventId reply = kEvTxStatus;
  const bool hasReply = ReplyEvent(f.protocol, reply);
  if (hasReply) ResetEvent(d, reply);
  ResetEvent(d, kEvTxStatus);
  AwaitedTxStatus awaited{d};
  if (acknowledged) {
    const uint8_t id = NextFrameId(d);
    proto::SetFrameId(f.frame, f.size, id);
    d.awaitedTxFrameId.store(id);
  }
  HandOver(d, f);
  EventId ev = kEvTxStatus;
  uint32_t waitMs = kTxStatusWaitMs;
  if (!acknowledged) {
    if (!hasReply) return ERR_Success;
    ev = reply;
    waitMs = kReplyWaitMs;
  }
  return WaitOrRetry(d, ev, waitMs, kReplyAttempts, [&] {
    Reclaim(d, 2);
    ResetEvent(d, kEvTxStatus);
    HandOver(d, f);
  });
}

bool SendsPlain(uint8_t protocol) {
  return protocol == QV_PROTOCOL_DEVICE || protocol == QV_PROTOCOL_VKL || protocol == QV_PROTOCOL_NETWORK;
}

void CopyVklName(Device& d, int which, char* out) {
  platform::LockGuard g(d.stateLock);
  std::memcpy(out, d.vklStrings[which], kVklStringSize);
  out[kVklStringSize - 1] = 0;
}

}  // namespace

uint8_t NextFrameId(Device& d) {
  uint8_t old = d.frameId.load();
  uint8_t next;
  do {
    next = static_cast<uint8_t>(old + 1);
    if (next == 0) next = 1;
  } while (!d.frameId.compare_exchange_weak(old, next));
  return next;
}

bool ClaimTransmitBuffer(Device& d, uint32_t polls, uint32_t sleepMs) {
  for (uint32_t i = 0; i < polls; ++i) {
    if (d.threadsStopping()) return false;  // nothing would carry the frame or answer it
    bool expected = false;
    if (d.writeBusy.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) return true;
    d.seam->sleepMs(sleepMs);
  }
  return false;
}

void HandOver(Device& d, const OutgoingFrame& f) {
  {
    platform::LockGuard g(d.txLock);
    const size_t n = f.size < kTxBufferSize ? f.size : kTxBufferSize;
    std::memcpy(d.txBuffer, f.frame, n);
    d.txLength = static_cast<uint32_t>(n);
  }
  d.seam->signalWriter(d);
}

bool MakeTxFrame(Device& d, OutgoingFrame& f, uint8_t protocol, const uint8_t* payload, size_t n) {
  const size_t size = proto::BuildTxRequest(f.frame, sizeof f.frame, qv::frame::kTxFrameIdNone, d.rfAddress.load(), payload, n);
  if (size == 0) return false;
  f.size = static_cast<uint32_t>(size);
  f.protocol = protocol;
  f.transportMode = 0;
  return true;
}

int SendFrameAndWait(Device& d, OutgoingFrame& f, bool acknowledged) {
  platform::LockGuard one(d.replyWaitLock);
  if (!ClaimTransmitBuffer(d, kClaimPolls, kClaimPollMs)) return ERR_TX_QUEUE_FULL;
  return WaitClaimed(d, f, acknowledged);
}

int SendFrame(Device& d, OutgoingFrame& f) {
  if (d.rfAckEnabled.load() && !SendsPlain(f.protocol)) {
    // Acknowledged mode; this claim stands in for SendFrameAndWait's own.
    platform::LockGuard one(d.replyWaitLock);
    if (!ClaimTransmitBuffer(d, kSendFramePolls, kSendFramePollMs)) return ERR_TX_QUEUE_FULL;
    return WaitClaimed(d, f, true);
  }
  if (!ClaimTransmitBuffer(d, kSendFramePolls, kSendFramePollMs)) return ERR_TX_QUEUE_FULL;
  HandOver(d, f);
  return ERR_Success;
}

int SendChunkAndWait(Device& d, OutgoingFrame& f) {
  if (!ClaimTransmitBuffer(d, kClaimPolls, kClaimPollMs)) return ERR_TX_QUEUE_FULL;
  const bool bam = f.transportMode == proto::kTransportBam;
  const EventId accepted = bam ? kEvBamChunkAccepted : kEvRtsChunkAccepted;
  const EventId sent = bam ? kEvBamChunkSent : kEvRtsChunkSent;
  ResetEvent(d, accepted);
  ResetEvent(d, sent);
  HandOver(d, f);
  const int r = WaitOrRetry(d, accepted, kChunkAcceptedWaitMs, kChunkAttempts, [&] { Resend(d, f); });
  if (r != ERR_Success) return r;
  return WaitOrRetry(d, sent, kChunkSentWaitMs, kChunkAttempts, [&] { d.seam->sleepMs(1); });
}

int SendAcknowledgedCommand(Device& d, uint8_t command, MessageRecord& rec) {
  uint8_t payload[proto::kMaxTxPayload];
  if (rec.length > sizeof rec.body) return ERR_MESSAGE_TOO_LONG;
  const uint8_t acked = static_cast<uint8_t>(rec.protocol | proto::kAckRequested);
  const size_t n = proto::EncodeDeviceCommand(payload, sizeof payload, acked, command, rec.body, rec.length);
  OutgoingFrame f;
  if (n == 0 || !MakeTxFrame(d, f, rec.protocol, payload, n)) return ERR_MESSAGE_TOO_LONG;
  if (!ClaimTransmitBuffer(d, kClaimPolls, kClaimPollMs)) return ERR_TX_QUEUE_FULL;
  HandOver(d, f);
  if (!d.rfAckEnabled.load()) return ERR_Success;
  return WaitOrRetry(d, kEvCommandAck, kReplyWaitMs, kReplyAttempts, [&] { Resend(d, f); });
}

void ClearReceiveQueue(Device& d, uint8_t protocol) {
  ByteQueue* q = nullptr;
  switch (protocol) {
    case QV_PROTOCOL_DEVICE: q = &d.deviceQueue; break;
    case QV_PROTOCOL_J1708: q = &d.j1708Queue; break;
    case QV_PROTOCOL_J1939:
    case QV_PROTOCOL_CAN: q = &d.j1939Queue; break;
    case QV_PROTOCOL_VKL: q = &d.vklQueue; break;
    case QV_PROTOCOL_NETWORK: q = &d.networkQueue; break;
    case QV_PROTOCOL_IO: q = &d.ioQueue; break;
    default: return;
  }
  platform::LockGuard g1(d.frameQueueLock);
  platform::LockGuard g2(d.messageQueueLock);
  ByteQueue_Clear(*q);
}

namespace {

int SendLocalModemCommand(Device& d, const MessageRecord& rec) {
  const uint8_t* b = rec.body;  // body[0] is message data byte 1
  if (rec.length < 1) return ERR_Success;
  struct Query { uint8_t sub; char cmd[3]; };
  static constexpr Query kQueries[] = {{32, "DH"}, {33, "DL"}, {34, "SH"}, {35, "SL"},
                                       {36, "ID"}, {37, "MY"}, {38, "CH"}, {39, "FR"}};
  OutgoingFrame f;
  f.protocol = QV_PROTOCOL_DEVICE;
  size_t size = 0;
  uint8_t params[4] = {0, 0, 0, 0};
  switch (b[0]) {
    case 1:
      d.rfAddress.store(static_cast<uint16_t>(b[1] << 8 | b[2]));
      return ERR_Success;
    case 2: size = proto::BuildAtCommand(f.frame, sizeof f.frame, qv::frame::kAtFrameIdNoAnswer, "ID", b + 1, 2); break;
    case 3:
      params[3] = b[1];
      size = proto::BuildAtCommand(f.frame, sizeof f.frame, qv::frame::kAtFrameId, "CH", params, 4);
      break;
    case 4:
      params[2] = b[1];
      params[3] = b[2];
      size = proto::BuildAtCommand(f.frame, sizeof f.frame, qv::frame::kAtFrameId, "MY", params, 4);
      break;
    case 5: size = proto::BuildAtCommand(f.frame, sizeof f.frame, qv::frame::kAtFrameId, "DH", b + 1, 4); break;
    case 6: size = proto::BuildAtCommand(f.frame, sizeof f.frame, qv::frame::kAtFrameId, "DL", b + 1, 4); break;
    case 7: size = proto::BuildAtCommand(f.frame, sizeof f.frame, qv::frame::kAtFrameId, "WR", nullptr, 0); break;
    default:
      for (const Query& q : kQueries) {
        if (q.sub == b[0]) size = proto::BuildAtCommand(f.frame, sizeof f.frame, qv::frame::kAtFrameId, q.cmd, nullptr, 0);
      }
      if (size == 0) return ERR_Success;
  }
  f.size = static_cast<uint32_t>(size);
  return SendFrame(d, f);
}

}  // namespace

int SendDeviceCommand(Device& d, uint8_t command, MessageRecord& rec) {
  const uint8_t c = rec.protocol;
  if (rec.length > sizeof rec.body) return ERR_MESSAGE_TOO_LONG;
  if (command == QV_CMD_FILTER || command == QV_CMD_CAN_FILTER) ClearReceiveQueue(d, c);
  if (c == QV_PROTOCOL_DEVICE && command == QV_CMD_MODEM) return SendLocalModemCommand(d, rec);
  if (c == QV_PROTOCOL_VKL && command == QV_CMD_MODEM) {
    const uint8_t which = rec.length >= 1 ? rec.body[0] : 0;
    if (which >= 1 && which <= 4) {
      platform::LockGuard g(d.stateLock);
      char* s = d.vklStrings[which - 1];
      std::memset(s, 0, kVklStringSize);
      const size_t avail = rec.length > 1 ? rec.length - 1 : 0;
      for (size_t i = 0; i < avail && i < kVklStringSize - 1 && rec.body[1 + i]; ++i) s[i] = static_cast<char>(rec.body[1 + i]);
    }
    return ERR_Success;
  }
  uint8_t payload[proto::kMaxTxPayload];
  const size_t n = proto::EncodeDeviceCommand(payload, sizeof payload, c, command, rec.body, rec.length);
  OutgoingFrame f;
  if (n == 0 || !MakeTxFrame(d, f, c, payload, n)) return ERR_MESSAGE_TOO_LONG;
  return SendFrame(d, f);
}

namespace {

// The echo copy belongs to one send: a failed send leaves nothing for a later echo to use.
void DropLongEchoCopy(Device& d) {
  platform::LockGuard g(d.reassemblyLock);
  d.longEchoLength = 0;
}

// Whole RTS/CTS sends one at a time, released on every way out.
struct RtsSender {
  Device& d;
  bool held = false;
  ~RtsSender() {
    if (held) d.rtsSenderInside.store(false, std::memory_order_release);
  }
};

// Waits until no other RTS/CTS send is handing chunks over (false when the device closes),
// then until the previous transfer's end is reported or 25 polls have passed (it is taken
// over), and marks the new transfer as running.
bool ClaimRtsSend(Device& d, RtsSender& sender) {
  for (;;) {
    bool expected = false;
    if (d.rtsSenderInside.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) break;
    if (d.threadsStopping()) return false;
    d.seam->sleepMs(kRtsSendPollMs);
  }
  sender.held = true;
  for (uint32_t polls = 0;; ++polls) {
    uint8_t expected = kRtsSendFree;
    if (d.rtsSendState.compare_exchange_strong(expected, kRtsSendBusy, std::memory_order_acq_rel)) return true;
    if (polls >= kRtsSendPolls) {
      d.rtsSendState.store(kRtsSendBusy);  // the previous transfer's end never came: taken over
      return true;
    }
    d.seam->sleepMs(kRtsSendPollMs);
  }
}

}  // namespace

int SendLongJ1939(Device& d, MessageRecord& rec) {
  const size_t total = rec.length - 4;
  if (total > tp::kMaxMessageSize) return ERR_MESSAGE_TOO_LONG;  // cannot be announced in J1939 transport
  const bool bam = rec.transportMode == proto::kTransportBam;
  if (!bam && rec.transportMode != proto::kTransportRts) return ERR_COULD_NOT_TX;
  RtsSender sender{d};
  if (!bam && !ClaimRtsSend(d, sender)) return ERR_COULD_NOT_TX;
  if (d.echoSettingJ1939.load()) {
    platform::LockGuard g(d.reassemblyLock);
    std::memcpy(d.longEchoCopy, rec.body, total + 4);
    d.longEchoLength = static_cast<uint16_t>(total + 4);
  }
  rec.length = static_cast<uint32_t>(total);
  rec.handedOver = 0;
  std::atomic<uint8_t>& running = bam ? d.bamRunningTotal : d.rtsRunningTotal;
  running.store(0);
  const uint8_t* data = rec.body + 4;
  const size_t chunks = proto::ChunkCount(total);
  auto buildChunk = [&](size_t j, OutgoingFrame& f) {
    uint8_t payload[proto::kMaxTxPayload];
    const size_t n = proto::EncodeLongChunk(payload, sizeof payload, bam, data, total, j);
    if (n == 0 || !MakeTxFrame(d, f, QV_PROTOCOL_J1939, payload, n)) return false;
    f.transportMode = rec.transportMode;
    const size_t carried = proto::ChunkPayloadSize(total, j);
    rec.handedOver = static_cast<uint16_t>(rec.handedOver + carried);
    running.store(static_cast<uint8_t>(running.load() + carried));
    return true;
  };
  auto fail = [&] {
    DropLongEchoCopy(d);
    return ERR_COULD_NOT_TX;
  };
  OutgoingFrame f;
  if (!buildChunk(1, f) || SendFrame(d, f) != ERR_Success) return fail();
  d.seam->sleepMs(5);
  uint8_t ann[16];
  const size_t an = proto::EncodeLongAnnouncement(ann, sizeof ann, bam, rec.body, rec.destAddress, rec.sourceAddress,
                                                  static_cast<uint16_t>(total));
  OutgoingFrame af;
  if (!MakeTxFrame(d, af, QV_PROTOCOL_J1939, ann, an) || SendFrameAndWait(d, af, false) != ERR_Success) return fail();
  for (size_t j = 2; j <= chunks; ++j) {
    OutgoingFrame cf;
    if (!buildChunk(j, cf) || SendChunkAndWait(d, cf) != ERR_Success) return fail();
  }
  return ERR_Success;
}

int TransmitMessage(Device& d, MessageRecord& rec) {
  d.txMessageCount.fetch_add(1, std::memory_order_relaxed);
  if (rec.length > sizeof rec.body) return ERR_MESSAGE_TOO_LONG;
  uint8_t payload[proto::kMaxTxPayload + 1];
  size_t n = 0;
  const uint8_t c = rec.protocol;
  if (c == QV_PROTOCOL_J1939) {
    if (rec.length >= 2 && rec.body[1] == tp::kPfAddressClaimed) {
      platform::LockGuard g(d.stateLock);
      d.addressClaimRecord = rec;
      d.addressClaimFlag.store(true);
    }
    if (rec.length > 12) {
      if (rec.transportMode == proto::kTransportRefused) return ERR_MESSAGE_TOO_LONG;
      return SendLongJ1939(d, rec);
    }
    n = proto::EncodeVehicleMessage(payload, sizeof payload, c, rec.body, rec.length);
  } else if (c == QV_PROTOCOL_DEVICE || c == QV_PROTOCOL_NETWORK || c == QV_PROTOCOL_IO) {
    n = proto::EncodeCommandMessage(payload, sizeof payload, c, rec.body, rec.length, nullptr, nullptr);
  } else if (c == QV_PROTOCOL_VKL) {
    char n1[kVklStringSize], n2[kVklStringSize];
    CopyVklName(d, 0, n1);
    CopyVklName(d, 1, n2);
    n = proto::EncodeCommandMessage(payload, sizeof payload, c, rec.body, rec.length, n1, n2);
  } else {
    n = proto::EncodeVehicleMessage(payload, sizeof payload, c, rec.body, rec.length);
  }
  OutgoingFrame f;
  // A frame that cannot fit the 128-byte transmit buffer is refused rather than cut.
  if (n == 0 || !MakeTxFrame(d, f, c, payload, n)) return ERR_MESSAGE_TOO_LONG;
  if (rec.blockFlag || d.txBlockType.load()) return SendFrameAndWait(d, f, false);
  return SendFrame(d, f);
}

}  // namespace qv::driver
