// A Windows RP1210 application run by Wine against the Linux simulator on COM5, for what only
// Windows can show (the library's own logic is pinned by the Linux tests):
//   rp1210_session.exe session    QV121032.dll loaded by name as qvlink loads it: a J1939
//                                 client, the VIN by broadcast, 1785-byte sends, notifications
//                                 to a window
//   rp1210_session.exe registry   QV_API.dll opened with device number 1, whose port comes
//                                 from HKLM\Software\Morvane\QV_Device\Device01
// Prints "ok NAME" or "FAIL NAME: why" per check and "N passed, N failed"; exit 1 on a failure.
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "QV_API.h"
#include "qvlink/platform/dynamic_library.h"
#include "rp1210_client.h"

namespace {

int passed = 0, failed = 0;

void Check(bool ok, const char* name, const std::string& why = "") {
  if (ok) {
    ++passed;
    std::printf("ok %s\n", name);
  } else {
    ++failed;
    std::printf("FAIL %s: %s\n", name, why.c_str());
  }
  std::fflush(stdout);
}

std::string Num(long v) { return std::to_string(v); }

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

int Session() {
  qv::tools::Rp1210Library lib;
  std::string loadWhy;
  Check(lib.load("QV121032", &loadWhy), "load QV121032.dll and bind the eleven entry points", loadWhy);
  if (failed) return 1;
  const qv::tools::Rp1210Api& api = lib.api();
  NotifyWindow window;
  Check(window.hwnd != nullptr, "hidden notification window", "CreateWindowExA failed");
  if (failed) return 1;

  const int16_t j1939 = api.connect(window.hwnd, 1, "J1939", 0, 0, 0);
  Check(j1939 == 1, "connect J1939", "got " + Num(j1939));
  if (failed) return 1;

  const char request[] = {0x00, static_cast<char>(0xEA), 0x00, 0x06, static_cast<char>(0xF9),
                          static_cast<char>(0xFF), static_cast<char>(0xEC), static_cast<char>(0xFE), 0x00};
  const int16_t sent = api.send(j1939, request, sizeof request, 0, 1);
  Check(sent == 0, "request the VIN", "send returned " + Num(sent));
  // Blocking reads until PGN 65260 (least significant byte first) arrives or 400 reads are done.
  std::vector<char> m(2048);
  int n = 0;
  for (int i = 0; i < 400 && n == 0; ++i) {
    const int r = api.read(j1939, m.data(), static_cast<int16_t>(m.size()), 1);
    if (r > 10 && static_cast<uint8_t>(m[4]) == 0xEC && static_cast<uint8_t>(m[5]) == 0xFE && m[6] == 0) n = r;
  }
  const std::string vin = n >= 27 ? std::string(m.data() + 10, 17) : "length " + Num(n);
  Check(vin == "1QVLINK0SIM000042", "VIN through the broadcast transport", vin);

  for (const bool bam : {false, true}) {
    std::vector<char> msg = {static_cast<char>(0x00), static_cast<char>(0xEF), 0x00,
                             static_cast<char>(bam ? 0x86 : 0x06), static_cast<char>(0xF9),
                             static_cast<char>(bam ? 0xFF : 0x00)};
    for (int i = 0; i < 1785; ++i) msg.push_back(static_cast<char>(i * 13));
    const DWORD start = GetTickCount();
    const int16_t r = api.send(j1939, msg.data(), static_cast<int16_t>(msg.size()), 0, 1);
    const DWORD took = GetTickCount() - start;
    Check(r == 0 && took < 30000, bam ? "1785-byte message by BAM" : "1785-byte message by RTS/CTS",
          "returned " + Num(r) + " after " + Num(static_cast<long>(took)) + " ms");
    // The run script matches this against what the simulator received.
    uint32_t h = 2166136261u;
    for (size_t i = 6; i < msg.size(); ++i) h = (h ^ static_cast<uint8_t>(msg[i])) * 16777619u;
    std::printf("sent-long %s pgn=61184 bytes=1785 fnv=%08x\n", bam ? "bam" : "rts", static_cast<unsigned>(h));
  }

  Check(window.Wait(5000), "notifications posted to the window", "QV1210MessageString never arrived");
  std::printf("notifications counted: %ld\n", window.count);
  Check(api.disconnect(j1939) == 0, "disconnect J1939");
  return 0;
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

int Registry() {
  void* lib = qv::platform::LoadLibraryByName("QV_API");
  Check(lib != nullptr, "load QV_API.dll");
  if (lib == nullptr) return 1;
  const auto sym = [lib](const char* name) { return qv::platform::FindLibrarySymbol(lib, name); };
  const auto init = reinterpret_cast<QvInitializeHardwareFn>(sym("Initialize_Hardware"));
  const auto restore = reinterpret_cast<QvRestoreHardwareFn>(sym("Restore_Hardware"));
  const auto receive = reinterpret_cast<QvReceiveMessageFn>(sym("Receive_Message"));
  const auto command = reinterpret_cast<QvSendQVCommandFn>(sym("SendQVCommand"));
  Check(init && restore && receive && command, "bind Initialize_Hardware, Restore_Hardware, Receive_Message, SendQVCommand");
  if (failed) return 1;
  NotifyWindow window;
  Check(window.hwnd != nullptr, "hidden notification window", "CreateWindowExA failed");
  if (failed) return 1;

  // The records cross between this program and the DLL by pointer: print this side's layout
  // (pinned by the same static_asserts in the DLL's build); the reads below prove the DLL agrees.
  std::printf("layout %u-bit: DeviceSettings %u bytes, notifyWindow at %u; MessageRecord %u bytes, length at %u, handedOver at %u\n",
              static_cast<unsigned>(8 * sizeof(void*)), static_cast<unsigned>(sizeof(DeviceSettings)),
              static_cast<unsigned>(offsetof(DeviceSettings, notifyWindow)), static_cast<unsigned>(sizeof(MessageRecord)),
              static_cast<unsigned>(offsetof(MessageRecord, length)), static_cast<unsigned>(offsetof(MessageRecord, handedOver)));

  DeviceSettings s = Settings(1, window.hwnd);
  const int32_t id = init(&s, "J1939", 0);
  Check(id == 0x81, "open with device number 1 from the registry", "got " + Num(id));
  Check(std::strcmp(s.portName, "COM5") == 0, "port taken from the registry", s.portName);
  Check(s.baudRate == 115200, "baud rate taken from the registry", Num(static_cast<long>(s.baudRate)));
  Check(s.rfAddress == 12345, "RF address taken from the registry", Num(static_cast<long>(s.rfAddress)));
  if (id == 0x81) {
    // EEC1 from the simulated engine: time stamp, identifier 0C F0 04 00 and 8 data bytes,
    // laid out in the caller's record and its length where this program expects it.
    static const uint8_t passAll[8] = {};
    command(static_cast<uint8_t>(id), QV_PROTOCOL_J1939, 16, passAll, 8);  // the adapter's J1939 filter: pass all
    bool eec1 = false;
    std::string why = "no EEC1 within 5 s";
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
        why = "returned " + Num(n) + ", record says " + Num(static_cast<long>(QvReturnedLength(&r)));
        break;
      }
      eec1 = n == 16 && d[4] == 0x0C && d[5] == 0xF0 && d[6] == 0x04 && d[7] == 0x00;
    }
    Check(eec1, "Receive_Message fills the caller's MessageRecord at the caller's offsets", why);
    Check(window.Wait(5000), "notifications posted to the window handle passed in DeviceSettings",
          "QV1210MessageString never arrived");
    Check(restore(static_cast<uint8_t>(id), "J1939", 0) == 0, "close");
  }

  DeviceSettings none = Settings(2, nullptr);  // no key: the record's own port
  const int32_t missing = init(&none, "J1939", 0);
  Check(missing == ERR_INVALID_DEVICE, "no registry key and no port: refused", "got " + Num(missing));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "session") Session();
  else if (mode == "registry") Registry();
  else {
    std::fprintf(stderr, "usage: rp1210_session.exe session|registry\n");
    return 2;
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
