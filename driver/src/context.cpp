#include "context.h"

#include <new>

#include "qvlink/platform/clock.h"

namespace qv::driver {

void LinkSeam::sleepMs(uint32_t ms) { platform::SleepMs(ms); }

platform::WaitResult LinkSeam::wait(Device& d, EventId ev, uint32_t timeoutMs) {
  // Waited in short slices, so a wait ends soon after nothing can answer it any more.
  constexpr uint32_t kSliceMs = 10;
  if (!d.events[ev]) return platform::WaitResult::Failed;
  uint32_t left = timeoutMs;
  for (;;) {
    if (d.threadsStopping()) return platform::WaitResult::Failed;
    const uint32_t slice = left < kSliceMs ? left : kSliceMs;
    const platform::WaitResult r = d.events[ev]->wait(slice);
    if (r != platform::WaitResult::TimedOut) return r;
    if (left != platform::kWaitForever) {
      left -= slice;
      if (left == 0) return platform::WaitResult::TimedOut;
    }
  }
}

void LinkSeam::signalWriter(Device& d) { SetEvent(d, kEvWriter); }

LinkSeam& DefaultLinkSeam() {
  static LinkSeam seam;
  return seam;
}

Device::Device() : seam(&DefaultLinkSeam()) {
  ByteQueue_Init(rxFrameQueue);
  ByteQueue_Init(deviceQueue);
  ByteQueue_Init(j1708Queue);
  ByteQueue_Init(j1939Queue);
  ByteQueue_Init(vklQueue);
  ByteQueue_Init(networkQueue);
  ByteQueue_Init(ioQueue);
  for (Reassembly* r : {&rts, &bam}) {
    r->size = 0;
    r->fill = kReassemblyHeader;
    r->lastSequence = 3;
    r->chunks = 0;
  }
  rts.state.store(kRtsIdle);
  bam.state.store(kBamIdle);
}

namespace {
// In the library's own storage, constructed on first use and destroyed only by
// DestroyTheDevice: never by the exit sequence while threads may still wait on its events.
alignas(Device) unsigned char g_deviceStorage[sizeof(Device)];
}  // namespace

Device& TheDevice() {
  static Device* const device = new (g_deviceStorage) Device;
  return *device;
}

void DestroyTheDevice() { TheDevice().~Device(); }

platform::Lock& QueueLock(Device& d, const ByteQueue& q) {
  return &q == &d.rxFrameQueue ? d.frameQueueLock : d.messageQueueLock;
}

bool QueuePut(Device& d, ByteQueue& q, const uint8_t* record, size_t size) {
  QueueLock(d, q).assertHeld();
  return ByteQueue_Put(q, record, size);
}

bool QueueTake(Device& d, ByteQueue& q, uint8_t* out, size_t outCapacity, uint32_t& outSize) {
  QueueLock(d, q).assertHeld();
  return ByteQueue_Take(q, out, outCapacity, outSize);
}

void SetEvent(Device& d, EventId ev) {
  if (d.events[ev]) d.events[ev]->set();
}

void ResetEvent(Device& d, EventId ev) {
  if (d.events[ev]) d.events[ev]->reset();
}

}  // namespace qv::driver
