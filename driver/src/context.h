// The driver's one process-wide context: everything the open device and its five I/O threads
// share. Fixed-size members only; no allocation on the message paths.
//
// Locking rules, in one place (each shared field below names the lock that guards it):
//  - frameQueueLock guards rxFrameQueue; messageQueueLock guards the six receive queues.
//  - txLock guards txBuffer/txLength (copy in by a sender, copy out by the writer); writeBusy
//    is the claim flag senders compare-and-set.
//  - reassemblyLock guards both reassembly buffers and the long-message echo copy.
//  - stateLock guards the VKL strings and the address-claim copy.
//  - commandLock guards the command layer's state and serialises SendQVCommand.
//  - openLock guards the device table: one open or close at a time.
//  - replyWaitLock is held by a sender from its claim until its reply (or last resend).
//  - Scalars shared between threads are std::atomic; no lock needed for them.
// Lock order: a thread holding a lock takes only locks further down a chain, never back up.
//  - openLock, then commandLock (the start-up and close run filter commands), then
//    replyWaitLock (an acknowledged command waits for its reply), then the short locks.
//  - frameQueueLock, then messageQueueLock (clearing the queues).
//  - reassemblyLock, then messageQueueLock (a long-message echo is queued with its copy).
//  The short locks (txLock, stateLock, the queue locks under the orders above) are held
//  without waiting and without taking another lock except as listed.
// Functions that require a lock held by their caller check it with assertHeld() (debug builds).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "QV_API.h"
#include "byte_queue.h"
#include "commands.h"
#include "j1939_transport.h"
#include "startup.h"
#include "qvlink/platform/event.h"
#include "qvlink/platform/lock.h"
#include "qvlink/platform/serial_port.h"
#include "qvlink/platform/thread.h"

namespace qv::driver {

// Events in their creation order.
enum EventId : uint8_t {
  kEvWriter,
  kEvFrameAvailable,  // dispatcher wake
  kEvJ1708Echo,
  kEvVklReply,
  kEvDeviceReply,
  kEvIoReply,
  kEvJ1939Confirm,
  kEvJ1708Data,
  kEvVklData,
  kEvDeviceData,
  kEvIoData,
  kEvJ1939Data,
  kEvNetworkData,
  kEvReaderExited,
  kEvReadFinished,
  kEvBamChunkAccepted,
  kEvRtsChunkAccepted,
  kEvRtsChunkSent,
  kEvBamChunkSent,
  kEvCommandAck,
  kEvTxStatus,
  kEvTransportAck,
  kEvKeepAlive,
  kEventCount
};

enum ThreadId : uint8_t { kThreadCommEvent, kThreadWriter, kThreadDispatcher, kThreadTransportAck, kThreadKeepAlive, kThreadCount };

constexpr size_t kTxBufferSize = 128;
constexpr size_t kRxFrameBufferSize = 128;
constexpr size_t kReassemblySize = 1808;
constexpr size_t kReassemblyHeader = 8;
constexpr size_t kLongEchoMax = 4 + tp::kMaxMessageSize;  // identifier and the longest transfer
constexpr size_t kVklStringSize = 64;

constexpr uint8_t kRtsSendFree = 19, kRtsSendBusy = 18;
constexpr uint8_t kRtsIdle = 19, kRtsAssembling = 18, kRtsComplete = 17;
constexpr uint8_t kBamIdle = 3, kBamAssembling = 2, kBamComplete = 1;

// Timing and waiting go through this seam so the send paths and the receive path can be
// tested without threads or sleeps. The default implementation uses the platform.
class LinkSeam {
 public:
  virtual ~LinkSeam() = default;
  virtual void sleepMs(uint32_t ms);
  virtual platform::WaitResult wait(struct Device& d, EventId ev, uint32_t timeoutMs);
  // Wakes the writer thread after a hand-over of txBuffer.
  virtual void signalWriter(struct Device& d);
};
LinkSeam& DefaultLinkSeam();

// One reassembly of a long J1939 message (RTS/CTS or BAM). Guarded by reassemblyLock, except
// `state`, which readers may test without the lock.
struct Reassembly {
  uint8_t buffer[kReassemblySize];  // 0-3 time stamp, 4-6 PGN, 7 source, 8.. payload
  uint16_t size;                    // announced payload size
  uint16_t fill;                    // next write offset, starts at 8
  uint8_t lastSequence;             // starts at 3
  uint16_t chunks;
  std::atomic<uint8_t> state;
};

struct Device {
  Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // --- Serial port and threads (io_threads.cpp) ---
  platform::SerialPort port;                 // read only by the comm-event thread, written only by the writer
  platform::Thread threads[kThreadCount];    // started/joined by the opening/closing client thread
  std::optional<platform::Event> events[kEventCount];  // created once, kept for the process life
  platform::Lock frameQueueLock;    // rxFrameQueue
  platform::Lock messageQueueLock;  // the six receive queues
  platform::Lock txLock;            // txBuffer, txLength
  platform::Lock reassemblyLock;    // rts, bam, longEchoCopy, longEchoLength
  platform::Lock stateLock;         // vklStrings, addressClaimRecord
  // One send waits for its reply at a time: the reply events are auto-reset and shared, so a
  // second waiter would take the first one's reply and make it time out and resend.
  platform::Lock replyWaitLock;
  std::atomic<bool> sharedObjectsReady{false};
  std::atomic<bool> threadsRunning{false};
  std::atomic<bool> tearingDown{false};  // set by teardown before it stops the threads: senders stop resending
  std::atomic<bool> portLost{false};     // the port said it is gone: nothing more reaches the adapter until closed
  std::atomic<bool> callersLeave{false}; // the last close has begun: callers still inside end their waits
  // True when a wait for the adapter can no longer be answered: every send and read waiting
  // inside the driver ends at once (with 142).
  bool threadsStopping() const {
    return tearingDown.load(std::memory_order_acquire) || portLost.load(std::memory_order_acquire) ||
           callersLeave.load(std::memory_order_acquire);
  }
  LinkSeam* seam = nullptr;                  // set before threads start, never changed while they run

  std::atomic<bool> stopFlag{true};
  std::atomic<int32_t> blockingReaders{0};  // blocking reads waiting for data; teardown waits for their end only
  std::atomic<int32_t> callersInside{0};  // threads inside an entry point that uses the device; closing waits for them
  std::atomic<uint8_t> openDeviceId{0};   // the id that opened the running device; 0 when none is open
  std::atomic<bool> writeBusy{false};        // claim flag of txBuffer: compare-and-set by senders, cleared by the writer
  uint8_t txBuffer[kTxBufferSize] = {};      // txLock
  uint32_t txLength = 0;                     // txLock

  // --- Frame reader (frame_reader.cpp), comm-event thread only ---
  uint8_t rxFrameBuffer[kRxFrameBufferSize] = {};
  uint8_t rxCarry[kRxFrameBufferSize + 4] = {};  // bytes handed back for re-synchronisation
  uint16_t rxCarryLength = 0;
  uint16_t rxCarryPos = 0;

  // --- Queues (frameQueueLock / messageQueueLock) ---
  ByteQueue rxFrameQueue;   // frameQueueLock
  ByteQueue deviceQueue;    // messageQueueLock
  ByteQueue j1708Queue;     // messageQueueLock
  ByteQueue j1939Queue;     // messageQueueLock
  ByteQueue vklQueue;       // messageQueueLock
  ByteQueue networkQueue;   // messageQueueLock
  ByteQueue ioQueue;        // messageQueueLock

  // --- Counters, reported at shutdown (wrapping 16-bit) ---
  std::atomic<uint16_t> rxFrameCount{0};       // frames queued by the reader
  std::atomic<uint16_t> rxFrameErrorCount{0};  // failed reads and dropped frames
  std::atomic<uint16_t> txMessageCount{0};     // TransmitMessage calls
  std::atomic<uint16_t> j1939RecordCount{0};   // batch records unpacked
  std::atomic<uint16_t> malformedCount{0};     // adapter data dropped as malformed
  // Queue drops are counted in each ByteQueue's `dropped` (under its lock).

  // --- Values set at open / start-up (startup.cpp), read by the threads ---
  std::atomic<uint16_t> rfAddress{0};
  std::atomic<void*> clientNotifyWindow{nullptr};
  std::atomic<uint32_t> notifyMessageId{0};
  std::atomic<uint32_t> txBlockType{0};
  std::atomic<bool> counterReport{false};
  std::atomic<uint32_t> reconnectTime{0};
  std::atomic<bool> rfAckEnabled{false};
  std::atomic<bool> versionFeature{false};
  std::atomic<uint8_t> canMode{0};             // 0 J1939, 1 CAN
  std::atomic<uint8_t> protocolStatusJ1708{0};
  std::atomic<uint8_t> protocolStatusJ1939{0};
  std::atomic<uint8_t> protocolStatusCan{0};
  std::atomic<bool> closingFlag{false};
  std::atomic<uint8_t> echoSettingJ1708{0};    // written by the command layer, read by the receive path
  std::atomic<uint8_t> echoSettingJ1939{0};
  std::atomic<uint8_t> echoSettingIo{0};

  // VKL strings: first name, second name, first pattern, second pattern.
  char vklStrings[4][kVklStringSize] = {};    // stateLock

  // --- Transmit path (transmit.cpp) ---
  std::atomic<uint8_t> frameId{0};           // last frame identifier used; 0 skipped
  std::atomic<uint8_t> rtsRunningTotal{0};
  std::atomic<uint8_t> bamRunningTotal{0};
  std::atomic<uint8_t> rtsSendState{kRtsSendFree};
  // Held by the one RTS/CTS send that is handing chunks over: a second one waits for it
  // instead of taking rtsSendState over in the middle of a transfer.
  std::atomic<bool> rtsSenderInside{false};
  // Frame identifier whose TX status the one acknowledged waiter expects (0: nobody waits).
  std::atomic<uint8_t> awaitedTxFrameId{0};
  MessageRecord addressClaimRecord = {};      // stateLock
  std::atomic<bool> addressClaimFlag{false};
  uint8_t longEchoCopy[kLongEchoMax] = {};    // reassemblyLock
  uint16_t longEchoLength = 0;                // reassemblyLock

  // --- Dispatcher and receive path (dispatcher.cpp, receive.cpp) ---
  uint32_t lastDuplicateKey = 0;              // dispatcher thread only
  std::atomic<uint8_t> pendingAck{0};         // 0, proto::kChunkRts or proto::kChunkBam
  Reassembly rts;                             // reassemblyLock
  Reassembly bam;                             // reassemblyLock

  // Command layer state (commands.cpp)
  CommandState commands;                      // commandLock
  platform::Lock commandLock;                 // serialises SendQVCommand across clients
  DeviceTable table;                          // openLock
  // J1939 and CAN clients attached: they share the adapter's code 2 filter lists.
  uint8_t attachedJ1939 = 0;                  // openLock
  uint8_t attachedCan = 0;                    // openLock
  platform::Lock openLock;                    // one open or close at a time
  // End of command layer state
};

// The process-wide device. It is never destroyed while anything may still use it: at process
// exit or unload with the device still open, the I/O threads are stopped first (see
// AbandonDevice), and a client thread still inside the driver keeps it alive.
Device& TheDevice();
// Ends the device's life at unload, once nothing runs or waits in it (see AbandonDevice).
void DestroyTheDevice();

// The lock that guards q: frameQueueLock for rxFrameQueue, messageQueueLock for the others.
platform::Lock& QueueLock(Device& d, const ByteQueue& q);
// ByteQueue_Put / ByteQueue_Take on one of the device's queues. The caller holds
// QueueLock(d, q) (checked in debug builds).
bool QueuePut(Device& d, ByteQueue& q, const uint8_t* record, size_t size);
bool QueueTake(Device& d, ByteQueue& q, uint8_t* out, size_t outCapacity, uint32_t& outSize);

// Sets an event when it exists (no-op before the shared objects are created).
void SetEvent(Device& d, EventId ev);
void ResetEvent(Device& d, EventId ev);

}  // namespace qv::driver
