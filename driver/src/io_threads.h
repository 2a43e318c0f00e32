// Serial port, shared objects and the five I/O threads of the open device.
#pragma once
#include "QV_API.h"
#include "context.h"

namespace qv::driver {

bool OpenPort(Device& d, const DeviceSettings& settings);
// true when open; false on rejected settings text or a port that cannot be opened (nothing left open).
bool CreateSharedObjects(Device& d);
// true when every event, the locks and the notify message exist; false when one failed.
bool StartThreads(Device& d);
// true when all five threads run; false otherwise (the started ones are stopped and joined).
void InitQueues(Device& d);
// Empties rxFrameQueue and the six receive queues and resets receive state; no thread may use them.
void StopThreadsAndTeardown(Device& d);
// Sets stopFlag, clears pendingAck, wakes the responders, waits 725 ms, up to 350 ms for
// reader-exited and read-finished, joins every thread, purges and closes the port, clears the
// events. Safe to call when nothing is open.

void CommEventThread(void* device);
void WriterThread(void* device);
// One writer step: writes txBuffer once when woken, clears writeBusy. Used by the thread.
void WriterStep(Device& d, platform::WaitResult woke);

}  // namespace qv::driver
