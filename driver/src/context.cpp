#include "context.h"

#include "qvlink/platform/clock.h"

namespace qv::driver {

void LinkSeam::sleepMs(uint32_t ms) { platform::SleepMs(ms); }

platform::WaitResult LinkSeam::wait(Device& d, EventId ev, uint32_t timeoutMs) {
  if (!d.events[ev]) return platform::WaitResult::Failed;
  return d.events[ev]->wait(timeoutMs);
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

Device& TheDevice() {
  static Device device;
  return device;
}

void SetEvent(Device& d, EventId ev) {
  if (d.events[ev]) d.events[ev]->set();
}

void ResetEvent(Device& d, EventId ev) {
  if (d.events[ev]) d.events[ev]->reset();
}

}  // namespace qv::driver
