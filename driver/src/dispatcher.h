// Receive dispatcher and the two responder threads.
#pragma once
#include <cstddef>
#include <cstdint>

#include "context.h"

namespace qv::driver {

enum class RouteOutcome : uint8_t {
  Routed,   // reached the routing table: a notification is due
  Handled,  // AT response or TX status: no notification
  Dropped   // no marker bit or too short
};

// Routes one frame as popped (may modify it: marker bits, duplicate key). Does not notify.
RouteOutcome RouteFrame(Device& d, uint8_t* frame, size_t n);
// Pops and routes every queued frame, notifying after each routed one. Returns frames routed.
size_t DrainFrameQueue(Device& d);
// Posts the registered message to the client window unless it is 0 or 0xCCCCCCCC.
void NotifyClient(Device& d);

// Answers the adapter's keep-alive request once; the keep-alive thread's one step.
void AnswerKeepAlive(Device& d);

void DispatcherThread(void* device);
void KeepAliveThread(void* device);
void TransportAckThread(void* device);

}  // namespace qv::driver
