#include "dispatcher.h"

#include <cstring>

#include "api_frame.h"
#include "device_protocol.h"
#include "qvlink/platform/notify.h"
#include "receive.h"
#include "transmit.h"

namespace qv::driver {

namespace {

void Push(Device& d, ByteQueue& q, const uint8_t* frame, size_t n) {
  platform::LockGuard g(d.messageQueueLock);
  QueuePut(d, q, frame, n);
}

// True when the frame repeats the last accepted adapter message (RF-acknowledged mode).
bool IsDuplicate(Device& d, uint8_t* frame, size_t n) {
  if (!d.rfAckEnabled.load() || n < 15) return false;
  const uint32_t key = static_cast<uint32_t>(frame[11]) << 24 | static_cast<uint32_t>(frame[12]) << 16 |
                       static_cast<uint32_t>(frame[13]) << 8 | frame[14];
  if (key == d.lastDuplicateKey) return true;
  d.lastDuplicateKey = key;
  frame[11] = 0;
  return false;
}

void SendProgress(Device& d, const uint8_t* frame, size_t n) {
  if (n < 17) return;
  const uint8_t k = frame[15], c = frame[16];
  if (k == proto::kProgressRtsAccepted && c == d.rtsRunningTotal.load()) SetEvent(d, kEvRtsChunkAccepted);
  else if (k == proto::kProgressBamAccepted && c == d.bamRunningTotal.load()) SetEvent(d, kEvBamChunkAccepted);
  else if (k == proto::kProgressBamSent && c == d.bamRunningTotal.load()) SetEvent(d, kEvBamChunkSent);
  else if (d.versionFeature.load() && k == proto::kProgressRtsSent && c == d.rtsRunningTotal.load()) SetEvent(d, kEvRtsChunkSent);
}

// Moves a 64-bit-source frame onto the 16-bit layout every consumer reads (low 16 bits of
// the source kept), so the message type, key and body sit at the usual offsets.
size_t ToRx16Layout(uint8_t* frame, size_t n) {
  frame[3] = qv::frame::kApiRxPacket16;
  frame[4] = frame[10];
  frame[5] = frame[11];
  frame[6] = frame[12];
  frame[7] = frame[13];
  std::memmove(frame + 8, frame + 14, n - 14);
  const size_t m = n - 6;
  frame[1] = static_cast<uint8_t>((m - 3) >> 8);
  frame[2] = static_cast<uint8_t>((m - 3) & 0xFF);
  return m;
}

}  // namespace

RouteOutcome RouteFrame(Device& d, uint8_t* frame, size_t n) {
  if (n < 4) return RouteOutcome::Dropped;
  const uint8_t api = frame[3];
  if (api == qv::frame::kApiAtResponse) {
    Push(d, d.deviceQueue, frame, n);
    SetEvent(d, kEvDeviceData);
    return RouteOutcome::Handled;
  }
  if (api == qv::frame::kApiTxStatus) {
    // Only the status of the frame a sender waits for counts: a late one of an earlier frame
    // would release the next send before its own frame was delivered.
    const uint8_t awaited = d.awaitedTxFrameId.load();
    const bool delivered = n > qv::frame::kTxStatusOffset && frame[qv::frame::kTxStatusOffset] != qv::frame::kTxStatusNoAck;
    if (delivered && awaited != 0 && frame[4] == awaited) SetEvent(d, kEvTxStatus);
    return RouteOutcome::Handled;
  }
  proto::RxHead head;
  if (!proto::ReadRxHead(frame, n, head) || !head.marked) return RouteOutcome::Dropped;
  if (api == qv::frame::kApiRxPacket64) {
    frame[15] = proto::Unmarked(frame[15]);
    n = ToRx16Layout(frame, n);
  } else {
    frame[9] = proto::Unmarked(frame[9]);
    frame[8] = proto::Unmarked(frame[8]);
  }
  const uint8_t protocol = frame[8];
  const uint8_t t = frame[9];
  switch (protocol) {
    case QV_PROTOCOL_DEVICE:
      if (t == proto::kTypeKeepAliveRequest) SetEvent(d, kEvKeepAlive);
      Push(d, d.deviceQueue, frame, n);
      SetEvent(d, kEvDeviceData);
      SetEvent(d, kEvDeviceReply);
      break;
    case QV_PROTOCOL_J1708:
      d.protocolStatusJ1708.fetch_or(2);
      if (t == proto::kTypeTransmitted) {
        if (IsDuplicate(d, frame, n)) break;
        SetEvent(d, kEvJ1708Echo);
        if (d.echoSettingJ1708.load()) {
          Push(d, d.j1708Queue, frame, n);
          SetEvent(d, kEvJ1708Data);
        }
      } else if (t == proto::kTypeCommandAck) {
        SetEvent(d, kEvCommandAck);
      } else {
        if (IsDuplicate(d, frame, n)) break;
        Push(d, d.j1708Queue, frame, n);
        SetEvent(d, kEvJ1708Data);
      }
      break;
    case QV_PROTOCOL_J1939:
      if (t == proto::kTypeCommandAck || t == proto::kTypeCanFilterAck) {
        SetEvent(d, kEvCommandAck);
      } else if (t == proto::kTypeLongChunkIn) {
        if (!IsDuplicate(d, frame, n)) HandleChunk(d, frame, n);
      } else if (t == proto::kTypeSendProgress) {
        if (!IsDuplicate(d, frame, n)) SendProgress(d, frame, n);
      } else {
        if (!IsDuplicate(d, frame, n)) HandleBatch(d, frame, n);
      }
      break;
    case QV_PROTOCOL_VKL:
      ResetEvent(d, kEvVklData);
      Push(d, d.vklQueue, frame, n);
      SetEvent(d, kEvVklData);
      SetEvent(d, kEvVklReply);
      break;
    case QV_PROTOCOL_NETWORK:
      Push(d, d.networkQueue, frame, n);
      SetEvent(d, kEvNetworkData);
      break;
    case QV_PROTOCOL_IO:
      Push(d, d.ioQueue, frame, n);
      SetEvent(d, kEvIoData);
      SetEvent(d, kEvIoReply);
      break;
    default:
      Push(d, d.deviceQueue, frame, n);
      break;
  }
  return RouteOutcome::Routed;
}

void NotifyClient(Device& d) {
  void* w = d.clientNotifyWindow.load();
  if (w == nullptr || reinterpret_cast<uintptr_t>(w) == 0xCCCCCCCCu) return;
  platform::PostNotify(w, d.notifyMessageId.load());
}

size_t DrainFrameQueue(Device& d) {
  size_t routed = 0;
  uint8_t frame[kRxFrameBufferSize];
  for (;;) {
    std::memset(frame, 0, sizeof frame);
    uint32_t n = 0;
    {
      platform::LockGuard g(d.frameQueueLock);
      if (ByteQueue_IsEmpty(d.rxFrameQueue)) break;
      QueueTake(d, d.rxFrameQueue, frame, sizeof frame, n);
    }
    if (n == 0) continue;
    const uint8_t api = frame[3];
    const RouteOutcome r = RouteFrame(d, frame, n);
    if (r == RouteOutcome::Routed) {
      ++routed;
      NotifyClient(d);
    } else if (r == RouteOutcome::Dropped || api == qv::frame::kApiAtResponse) {
      break;  // back to the 1 ms wait, then drain on
    }
  }
  return routed;
}

void DispatcherThread(void* arg) {
  // Every queued frame sets the frame event, so an empty queue is waited on, not polled; the
  // stopping paths set it too, and the bound only backs them up. A drain that stopped early
  // resumes after 1 ms.
  constexpr uint32_t kIdleWaitMs = 100, kResumeMs = 1;
  Device& d = *static_cast<Device*>(arg);
  uint32_t waitMs = kResumeMs;
  while (!d.stopFlag.load()) {
    d.events[kEvFrameAvailable]->wait(waitMs);
    DrainFrameQueue(d);
    platform::LockGuard g(d.frameQueueLock);
    waitMs = ByteQueue_IsEmpty(d.rxFrameQueue) ? kIdleWaitMs : kResumeMs;
  }
}

void AnswerKeepAlive(Device& d) {
  // Cleared before the answer goes: a request that comes while it is being sent sets the
  // event again and gets an answer of its own.
  ResetEvent(d, kEvKeepAlive);
  MessageRecord rec = {};
  rec.protocol = QV_PROTOCOL_DEVICE;
  rec.length = 2;
  SendDeviceCommand(d, proto::kCmdKeepAlive, rec);
}

void KeepAliveThread(void* arg) {
  Device& d = *static_cast<Device*>(arg);
  while (!d.stopFlag.load()) {
    d.events[kEvKeepAlive]->wait(platform::kWaitForever);
    if (d.stopFlag.load()) break;
    AnswerKeepAlive(d);
  }
}

void TransportAckThread(void* arg) {
  Device& d = *static_cast<Device*>(arg);
  while (!d.stopFlag.load()) {
    d.events[kEvTransportAck]->wait(platform::kWaitForever);
    if (d.stopFlag.load()) break;
    // Taken, with the count it reports, before the report goes out: a chunk that arrives
    // while the report waits for its TX status sets a new request for the next round.
    uint8_t kind = 0;
    size_t received = 0;
    {
      platform::LockGuard g(d.reassemblyLock);
      kind = d.pendingAck.exchange(0);
      const Reassembly& a = kind == proto::kChunkRts ? d.rts : d.bam;
      received = a.fill - kReassemblyHeader;
    }
    if (kind == 0) continue;
    MessageRecord rec = {};
    rec.protocol = QV_PROTOCOL_J1939;
    rec.body[0] = kind;
    rec.body[1] = static_cast<uint8_t>(received & 0xFF);
    rec.length = 2;
    SendDeviceCommand(d, proto::kCmdProgressReport, rec);
  }
}

}  // namespace qv::driver
