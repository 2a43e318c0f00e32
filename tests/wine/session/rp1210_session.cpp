// A Windows RP1210 application run by Wine against the Linux simulator on COM5, for what only
// Windows can show (the library's own logic, the VIN's broadcast transport included, is pinned
// by the Linux tests):
//   rp1210_session.exe Session    QV121032.dll loaded by name as qvlink loads it: a J1939
//                                 client, 1785-byte sends (clear-to-send answers arrive while
//                                 the driver writes), notifications to a window
//   rp1210_session.exe Registry   QV_API.dll opened with device number 1, whose port comes
//                                 from HKLM\Software\Morvane\QV_Device\Device01
// Runs on the platform contract's runner: each failed check, the case, "N passed, N failed".
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QV_API.h"
#include "contract.h"
#include "qvlink/platform/dynamic_library.h"
#include "rp1210_client.h"

namespace {

// A message-only window on this thread: what the DLL posts to it waits in this thread's queue
// until Wait takes it, as an application's window would receive it.
struct NotifyWindow {
  HWND hwnd = CreateWindowExA(0, "STATIC", "notify", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  UINT id = RegisterWindowMessageA("QV1210MessageString");
  long count = 0;
  ~NotifyWindow() {
    if (hwnd != nullptr) DestroyWindow(hwnd);
  }
  // Takes the notifications posted so far; false if none has come within `ms`.
  bool Wait(DWORD ms) {
    const DWORD start = GetTickCount();
    for (MSG m;; Sleep(10)) {
      while (PeekMessageA(&m, hwnd, id, id, PM_REMOVE)) ++count;
      if (count > 0) return true;
      if (GetTickCount() - start > ms) return false;
    }
  }
};

CONTRACT(Session) {
  qv::tools::Rp1210Library lib;
  std::string why;
  const bool loaded = lib.load("QV121032", &why);  // and bind the eleven entry points
  if (!loaded) std::printf("  %s\n", why.c_str());
  REQUIRE(loaded);
  const qv::tools::Rp1210Api& api = lib.api();
  NotifyWindow window;
  REQUIRE(window.hwnd != nullptr);
  const int16_t j1939 = api.connect(window.hwnd, 1, "J1939", 0, 0, 0);
  REQUIRE(j1939 == 1);

  for (const bool bam : {false, true}) {
    std::vector<char> msg = {static_cast<char>(0x00), static_cast<char>(0xEF), 0x00,
                             static_cast<char>(bam ? 0x86 : 0x06), static_cast<char>(0xF9),
                             static_cast<char>(bam ? 0xFF : 0x00)};
    for (int i = 0; i < 1785; ++i) msg.push_back(static_cast<char>(i * 13));
    const DWORD start = GetTickCount();
    const int16_t r = api.send(j1939, msg.data(), static_cast<int16_t>(msg.size()), 0, 1);
    const DWORD took = GetTickCount() - start;
    // The run script matches this against what the simulator received.
    uint32_t h = 2166136261u;
    for (size_t i = 6; i < msg.size(); ++i) h = (h ^ static_cast<uint8_t>(msg[i])) * 16777619u;
    std::printf("sent-long %s pgn=61184 bytes=1785 fnv=%08x returned %d after %lu ms\n", bam ? "bam" : "rts",
                static_cast<unsigned>(h), r, static_cast<unsigned long>(took));
    CHECK(r == 0 && took < 30000);
  }

  CHECK(window.Wait(5000));  // QV1210MessageString posted to the window given at the connect
  std::printf("notifications counted: %ld\n", window.count);
  CHECK(api.disconnect(j1939) == 0);
}

// Settings naming a port that does not exist (COM8): only the registry can lead elsewhere.
DeviceSettings Settings(uint8_t device, HWND window) {
  DeviceSettings s{};
  s.deviceNumber = device;
  std::strcpy(s.portName, "COM8");
  s.baudRate = 1;
  s.lineFormat = 81;
  s.rfChannel = 12;
  s.notifyWindow = window;  // a 32-bit value in the i686 build, a 64-bit one in x86_64
  return s;
}

CONTRACT(Registry) {
  void* lib = qv::platform::LoadLibraryByName("QV_API");
  REQUIRE(lib != nullptr);
  const auto sym = [lib](const char* name) { return qv::platform::FindLibrarySymbol(lib, name); };
  const auto init = reinterpret_cast<QvInitializeHardwareFn>(sym("Initialize_Hardware"));
  const auto restore = reinterpret_cast<QvRestoreHardwareFn>(sym("Restore_Hardware"));
  const auto receive = reinterpret_cast<QvReceiveMessageFn>(sym("Receive_Message"));
  const auto command = reinterpret_cast<QvSendQVCommandFn>(sym("SendQVCommand"));
  REQUIRE(init && restore && receive && command);
  NotifyWindow window;
  REQUIRE(window.hwnd != nullptr);

  // The records cross between this program and the DLL by pointer: print this side's layout
  // (pinned by the same static_asserts in the DLL's build); the reads below prove the DLL agrees.
  std::printf("layout %u-bit: DeviceSettings %u bytes, notifyWindow at %u; MessageRecord %u bytes, length at %u, handedOver at %u\n",
              static_cast<unsigned>(8 * sizeof(void*)), static_cast<unsigned>(sizeof(DeviceSettings)),
              static_cast<unsigned>(offsetof(DeviceSettings, notifyWindow)), static_cast<unsigned>(sizeof(MessageRecord)),
              static_cast<unsigned>(offsetof(MessageRecord, length)), static_cast<unsigned>(offsetof(MessageRecord, handedOver)));

  DeviceSettings s = Settings(1, window.hwnd);
  const int32_t id = init(&s, "J1939", 0);
  std::printf("device 1 opened as %d on %s, %u baud, RF address %u\n", static_cast<int>(id), s.portName,
              static_cast<unsigned>(s.baudRate), static_cast<unsigned>(s.rfAddress));
  CHECK(std::strcmp(s.portName, "COM5") == 0);  // port, baud rate and address from the registry
  CHECK(s.baudRate == 115200);
  CHECK(s.rfAddress == 12345);
  if (CHECK(id == 0x81)) {
    // EEC1 from the simulated engine: time stamp, identifier 0C F0 04 00 and 8 data bytes,
    // laid out in the caller's record and its length where this program expects it.
    static const uint8_t passAll[8] = {};
    command(static_cast<uint8_t>(id), QV_PROTOCOL_J1939, 16, passAll, 8);  // the adapter's J1939 filter: pass all
    bool eec1 = false;
    const DWORD start = GetTickCount();
    while (!eec1 && GetTickCount() - start < 5000) {
      MessageRecord r{};
      r.protocol = QV_PROTOCOL_J1939;
      const int32_t n = receive(static_cast<uint8_t>(id), &r);
      const uint8_t* d = QvReturnedData(&r);
      if (n <= 0) {
        Sleep(10);
        continue;
      }
      if (static_cast<uint32_t>(n) != QvReturnedLength(&r)) {
        std::printf("  returned %d, the record says %u\n", static_cast<int>(n),
                    static_cast<unsigned>(QvReturnedLength(&r)));
        break;
      }
      eec1 = n == 16 && d[4] == 0x0C && d[5] == 0xF0 && d[6] == 0x04 && d[7] == 0x00;
    }
    CHECK(eec1);  // Receive_Message fills the caller's MessageRecord at the caller's offsets
    CHECK(window.Wait(5000));  // to the window handle passed in DeviceSettings
    CHECK(restore(static_cast<uint8_t>(id), "J1939", 0) == 0);
  }

  DeviceSettings none = Settings(2, nullptr);  // no key: the record's own port
  CHECK(init(&none, "J1939", 0) == ERR_INVALID_DEVICE);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rp1210_session.exe Session|Registry\n");
    return 2;
  }
  return contract::RunAll(argv[1]);
}
