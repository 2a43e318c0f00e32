#include "io_threads.h"

#include <cstring>

#include "dispatcher.h"
#include "frame_reader.h"
#include "qvlink/platform/clock.h"
#include "qvlink/platform/notify.h"
#include "qvlink/platform/thread.h"
#include "receive.h"

namespace qv::driver {

namespace {
constexpr uint32_t kWriterWaitMs = 25;
// Bounds how long the comm-event thread blocks for a readable port before it looks at stopFlag;
// bytes end the wait at once, so this is no latency figure. The writer's wait is as long.
constexpr uint32_t kCommWaitMs = 25;
constexpr uint32_t kShutdownWaitMs = 725;
constexpr uint32_t kExitWaitMs = 350;
}  // namespace

bool OpenPort(Device& d, const DeviceSettings& s) {
  d.clientNotifyWindow.store(s.notifyWindow);
  char text[32];
  if (!platform::BuildSerialSettingsText(s.baudRate, s.lineFormat, text, sizeof text)) return false;
  char name[sizeof s.portName + 1];
  std::memcpy(name, s.portName, sizeof s.portName);
  name[sizeof s.portName] = 0;  // the caller's field need not be terminated
  platform::SerialConfig cfg;
  cfg.settings = text;
  cfg.stopBits = (s.lineFormat % 10) == 2 ? platform::StopBits::Two : platform::StopBits::One;
  cfg.ctsOutputFlow = true;
  cfg.rtsHandshake = true;
  cfg.timeouts = platform::SerialTimeouts{50, 2000, 25, 100};
  return d.port.open(name, cfg) == platform::SerialOpenError::None;
}

bool CreateSharedObjects(Device& d) {
  // Events are created once and kept: a late client thread can never wait on a freed one.
  for (int i = 0; i < kEventCount; ++i) {
    if (!d.events[i]) d.events[i].emplace();
    if (!d.events[i]->valid()) return false;
    d.events[i]->reset();
  }
  d.notifyMessageId.store(platform::RegisterNotifyMessage("QV1210MessageString"));
  d.sharedObjectsReady.store(true);
  return true;
}

void InitQueues(Device& d) {
  {
    platform::LockGuard g1(d.frameQueueLock);
    platform::LockGuard g2(d.messageQueueLock);
    for (ByteQueue* q : {&d.rxFrameQueue, &d.deviceQueue, &d.j1708Queue, &d.j1939Queue, &d.vklQueue, &d.networkQueue, &d.ioQueue})
      ByteQueue_Init(*q);
  }
  ResetFrameReader(d);
  ResetReceiveState(d);
}

namespace {
// Wakes the threads that wait on an event, so they see stopFlag at once.
void WakeStoppingThreads(Device& d) {
  SetEvent(d, kEvTransportAck);
  SetEvent(d, kEvKeepAlive);
  SetEvent(d, kEvFrameAvailable);
}
}  // namespace

bool StartThreads(Device& d) {
  if (!d.sharedObjectsReady.load()) return false;
  d.stopFlag.store(false);
  d.tearingDown.store(false, std::memory_order_release);
  d.portLost.store(false);
  d.callersLeave.store(false);
  d.writeBusy.store(false);
  static constexpr platform::Thread::Entry kEntries[kThreadCount] = {CommEventThread, WriterThread, DispatcherThread,
                                                                     TransportAckThread, KeepAliveThread};
  for (int i = 0; i < kThreadCount; ++i) {
    if (!d.threads[i].start(kEntries[i], &d)) {
      d.stopFlag.store(true);
      WakeStoppingThreads(d);
      for (int j = 0; j < i; ++j) d.threads[j].join();
      return false;
    }
  }
  for (auto& t : d.threads) t.setTimeCritical();
  d.threadsRunning.store(true);
  return true;
}

void StopThreadsAndTeardown(Device& d) {
  if (d.threadsRunning.exchange(false)) {
    d.tearingDown.store(true, std::memory_order_release);
    d.stopFlag.store(true);
    d.pendingAck.store(0);
    WakeStoppingThreads(d);
    platform::SleepMs(kShutdownWaitMs);
    d.events[kEvReaderExited]->wait(kExitWaitMs);
    // Only a blocking read still inside ever sets the read-finished event: without one the
    // wait would only time out.
    if (d.blockingReaders.load(std::memory_order_acquire) > 0) d.events[kEvReadFinished]->wait(kExitWaitMs);
    // A blocking read or send sees stopFlag within one of its waits; wait (bounded) until it has left.
    for (uint32_t i = 0; i < kExitWaitMs && d.callersInside.load(std::memory_order_acquire) > 0; ++i)
      platform::SleepMs(1);
    // Join every thread: none may outlive the port and queues it uses.
    for (int i = 0; i < kThreadCount; ++i) {
      if (i == kThreadTransportAck) SetEvent(d, kEvTransportAck);
      if (i == kThreadKeepAlive) SetEvent(d, kEvKeepAlive);
      if (i == kThreadDispatcher) SetEvent(d, kEvFrameAvailable);
      d.threads[i].join();
    }
  }
  d.stopFlag.store(true);
  if (d.port.isOpen()) {
    d.port.purge(true, true);
    d.port.close();
  }
  for (auto& e : d.events)
    if (e) e->reset();
  d.writeBusy.store(false);
  d.portLost.store(false);
}

namespace {
void WakeWaitingReads(Device& d) {
  for (EventId ev : {kEvJ1708Data, kEvVklData, kEvDeviceData, kEvIoData, kEvJ1939Data, kEvNetworkData}) SetEvent(d, ev);
}
}  // namespace

void MarkPortLost(Device& d) {
  if (!d.portLost.exchange(true)) WakeWaitingReads(d);
}

bool AbandonDevice(Device& d) {
  d.closingFlag.store(true);
  d.callersLeave.store(true);
  d.openDeviceId.store(0);
  WakeWaitingReads(d);
  // Windows: the loader holds its lock here, which a thread needs to end, and at process exit
  // it has ended them already: nothing is waited for, and the system releases the port.
  if (!platform::ThreadsJoinableAtUnload()) return !d.threadsRunning.load() && d.callersInside.load() == 0;
  // Taken over from a close that may be under way on another thread: one of the two joins.
  if (!d.threadsRunning.exchange(false)) return d.callersInside.load() == 0;
  d.tearingDown.store(true, std::memory_order_release);
  d.stopFlag.store(true);
  d.pendingAck.store(0);
  for (int i = 0; i < kThreadCount; ++i) {
    WakeStoppingThreads(d);
    d.threads[i].join();
  }
  d.port.close();
  // A client thread woken from its wait leaves within a slice; one that does not keeps the device.
  for (uint32_t i = 0; i < kExitWaitMs && d.callersInside.load() > 0; ++i) platform::SleepMs(1);
  return d.callersInside.load() == 0;
}

void CommEventThread(void* arg) {
  Device& d = *static_cast<Device*>(arg);
  PortFrameSource src(d.port);
  while (!d.stopFlag.load()) {
    const bool carried = d.rxCarryLength > d.rxCarryPos;
    if (carried || d.port.waitReadable(kCommWaitMs)) {
      ReadRadioFrames(d, src);
    } else if (d.port.lost()) {
      // Noticed once; the thread ends rather than poll a port that answers every wait at once.
      MarkPortLost(d);
      break;
    }
  }
  SetEvent(d, kEvReaderExited);
}

void WriterStep(Device& d, platform::WaitResult woke) {
  if (d.portLost.load()) {
    // Nothing reaches a lost port: the claim is given back, so no sender waits for it.
    d.writeBusy.store(false, std::memory_order_release);
    return;
  }
  if (woke == platform::WaitResult::TimedOut) {
    d.writeBusy.store(false, std::memory_order_release);
    return;
  }
  if (woke != platform::WaitResult::Signalled) return;
  uint8_t local[kTxBufferSize];
  uint32_t n;
  {
    platform::LockGuard g(d.txLock);
    n = d.txLength < kTxBufferSize ? d.txLength : static_cast<uint32_t>(kTxBufferSize);
    std::memcpy(local, d.txBuffer, n);
  }
  const long w = d.port.write(local, n);  // a short write is not repeated
  if (w >= 0) {
    d.writeBusy.store(false, std::memory_order_release);
  } else if (d.port.lost()) {
    MarkPortLost(d);
    d.writeBusy.store(false, std::memory_order_release);
  }
}

void WriterThread(void* arg) {
  Device& d = *static_cast<Device*>(arg);
  while (!d.stopFlag.load()) WriterStep(d, d.events[kEvWriter]->wait(kWriterWaitMs));
}

}  // namespace qv::driver
