// Process-wide state of the RP1210 library: one object, zeroed at load, lives for the process.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "QV_API.h"
#include "qvlink/platform/clock.h"
#include "qvlink/platform/lock.h"
#include "qvlink/platform/process_list.h"

namespace qv::rp1210 {

constexpr int kMaxClients = 10;
constexpr int kSlotNameSize = 16;
constexpr int kStoredProtocolChars = 7;

// The network counter a client's connect raised. Kept in its slot because the stored
// 7-character name can classify differently from the whole string the connect saw.
enum class CountedAs : uint8_t { None, J1939, J1708, Can };

struct ClientSlot {
  uint8_t clientId;  // 0: free
  char portName[kSlotNameSize];
  char protocolName[kSlotNameSize];
  CountedAs countedAs;
  uint32_t droppedReads;  // messages refused for want of room in the application's buffer
};

// The ten driver entry points, in binding order.
struct DriverApi {
  QvInitializeHardwareFn initializeHardware;
  QvRestoreHardwareFn restoreHardware;
  QvTransmitMessageFn transmitMessage;
  QvReceiveMessageFn receiveMessage;
  QvSendQVCommandFn sendQVCommand;
  QvConfigureVKLFn configureVKL;
  QvGetVersionsFn getVersions;
  QvGetHardwareStatusFn getHardwareStatus;
  QvReceiveTransportMessageFn receiveTransportMessage;
  QvSetTransportAddressFn setTransportAddress;
};

struct DriverBinding {
  void* library;            // handle of the loaded driver (null with a test driver)
  DriverApi api;
  uint32_t references;      // successful binds not yet released; 0: never call the driver
  const DriverApi* testApi; // installed by unit tests instead of loading a library
};

struct TraceLog {
  uint8_t mode;  // 0 off, 1 file, 2 socket, 4 both
  FILE* file;
};

constexpr int kJ1708MaxEntries = 10;
constexpr int kJ1939MaxEntries = 20;
constexpr int kCanMaxEntries = 20;

struct FilterLists {
  uint8_t j1708Count;
  uint8_t j1708[kJ1708MaxEntries * 6];
  uint8_t j1939Count;
  uint8_t j1939[kJ1939MaxEntries * 8];
  uint8_t canStdCount;
  uint8_t canStd[kCanMaxEntries * 8];
  uint8_t canExtCount;
  uint8_t canExt[kCanMaxEntries * 8];
};

// Services the library takes from the platform, replaceable by unit tests.
using ProfileReader = uint32_t (*)(const char* section, const char* key, const char* defaultText, char* buf,
                                   uint32_t bufSize, const char* fileName);
using ModuleWalker = bool (*)(qv::platform::ModuleVisitor visitor, void* context);
using TickSource = uint32_t (*)();
using LocalTimeSource = qv::platform::LocalTime (*)();

struct Services {
  ProfileReader readProfile;
  ModuleWalker visitModules;
  TickSource tick;
  LocalTimeSource localTime;
};

struct Context {
  ClientSlot slots[kMaxClients];
  uint8_t j1939Clients;
  uint8_t j1708Clients;
  uint8_t canClients;
  uint8_t deviceId;
  uint8_t appPacketizing;
  uint8_t filterType;
  uint8_t claimedAddress;
  DriverBinding binding;
  TraceLog log;
  FilterLists filters;
  Services services;
};

Context& Ctx();

// Applications call from many threads at once. Every entry point holds this lock for its whole
// call (so the client table, the driver binding, the filter lists and the trace log change
// under it), except while it waits inside the driver for a message or an echo: see Unlocked.
platform::Lock& EntryLock();

// Releases the entry lock for a driver call that may wait, and takes it back after.
class Unlocked {
 public:
  Unlocked() { EntryLock().unlock(); }
  ~Unlocked() { EntryLock().lock(); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;
};

// Back to the load-time state (closes the trace file; does not release a loaded driver).
void ResetContext();

// Case-sensitive substring test.
bool Contains(const char* text, const char* part);

}  // namespace qv::rp1210
