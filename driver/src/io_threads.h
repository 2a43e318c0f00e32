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
// reader-exited and (only while a blocking read is inside) read-finished, joins every thread, purges and closes the port, clears the
// events. Safe to call when nothing is open.

void MarkPortLost(Device& d);
// The port said it is gone: once, sets portLost and wakes every blocked read; the waits of
// senders end on their own (threadsStopping). Nothing touches the port again until teardown.
bool AbandonDevice(Device& d);
// At process exit or unload: refuses new calls and ends the waits inside. A device never
// closed has its threads stopped and joined and its port released, where the platform allows.
// true when no thread runs in the device and no client thread is inside: it may be destroyed.

void CommEventThread(void* device);
void WriterThread(void* device);
// One writer step: writes txBuffer once when woken, clears writeBusy. Used by the thread.
void WriterStep(Device& d, platform::WaitResult woke);

}  // namespace qv::driver
