// A program that ends without closing what it opened, as applications do when they crash out
// of their loop or are interrupted. Run by the reliability tests, which time its exit.
//   exit_child rp1210 DIR   connect J1939 through DIR/libQV121032.so, leave another thread
//                           reading the bus with blocking reads, and return from main
//   exit_child driver DIR   open the device through DIR/libQV_API.so, leave a blocking read
//                           waiting in another thread, and return from main
//   exit_child unload DIR   open the device through DIR/libQV_API.so, dlclose it, return
// Writes one byte to stdout once the device is open (the parent times the exit from there).
// Exit status 0 when everything opened as expected, 2 otherwise.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "QV121032.h"
#include "QV_API.h"

namespace {

void Ready() {
  const char b = 'R';
  if (::write(1, &b, 1) != 1) _exit(2);
}

int ThroughRp1210(const std::string& dir) {
  void* lib = dlopen((dir + "/libQV121032.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return 2;
  auto connect = reinterpret_cast<decltype(&RP1210_ClientConnect)>(dlsym(lib, "RP1210_ClientConnect"));
  auto read = reinterpret_cast<decltype(&RP1210_ReadMessage)>(dlsym(lib, "RP1210_ReadMessage"));
  if (connect == nullptr || read == nullptr || connect(nullptr, 1, "J1939", 0, 0, 0) != 1) return 2;
  static std::atomic<bool> reading{false};
  // Detached on purpose: it goes on reading the bus with blocking reads while the program ends.
  std::thread([read] {
    static char buf[2048];
    for (;;) {
      reading.store(true);
      read(1, buf, sizeof buf, 1);
    }
  }).detach();
  while (!reading.load()) std::this_thread::yield();
  Ready();
  return 0;
}

int ThroughDriver(const std::string& dir, bool unload) {
  void* lib = dlopen((dir + "/libQV_API.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) return 2;
  auto init = reinterpret_cast<QvInitializeHardwareFn>(dlsym(lib, "Initialize_Hardware"));
  auto receive = reinterpret_cast<QvReceiveMessageFn>(dlsym(lib, "Receive_Message"));
  if (init == nullptr || receive == nullptr) return 2;
  DeviceSettings s{};
  std::snprintf(s.portName, sizeof s.portName, "COM5");
  s.baudRate = 115200;
  s.rfAddress = 12345;
  s.lineFormat = 81;
  if (init(&s, "J1939", 0) != 0x81) return 2;
  if (unload) {
    Ready();
    dlclose(lib);
    return 0;
  }
  static std::atomic<bool> reading{false};
  // Detached on purpose: it is still waiting inside the driver when main returns (nothing
  // arrives for the IO protocol).
  std::thread([receive] {
    static MessageRecord r{};
    r.protocol = QV_PROTOCOL_IO;
    r.blockFlag = 1;
    reading.store(true);
    receive(0x81, &r);
  }).detach();
  while (!reading.load()) std::this_thread::yield();
  Ready();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  if (std::strcmp(argv[1], "rp1210") == 0) return ThroughRp1210(argv[2]);
  if (std::strcmp(argv[1], "driver") == 0) return ThroughDriver(argv[2], false);
  if (std::strcmp(argv[1], "unload") == 0) return ThroughDriver(argv[2], true);
  return 2;
}
