// Serial port to the radio modem.
//
// Port names are Windows style, "COMn". POSIX: "COMn" opens $QV_PORT_DIR/COMn when QV_PORT_DIR
// is set, else /dev/ttyS<n-1>; the port is taken exclusively (TIOCEXCL and flock), like the
// no-sharing open on Windows. Win32: "\\.\COMn" with overlapped I/O.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::platform {

enum class StopBits : uint8_t { One = 1, Two = 2 };

struct SerialTimeouts {
  uint32_t readIntervalMs = 50;
  uint32_t readTotalConstantMs = 2000;
  uint32_t writeTotalMultiplierMs = 25;
  uint32_t writeTotalConstantMs = 100;
};

struct SerialConfig {
  // Settings text "baud,parity,data,stop", e.g. "115200,n,8,1". Rejected text fails the open.
  const char* settings = "115200,n,8,1";
  StopBits stopBits = StopBits::One;  // applied over what the text gave
  bool ctsOutputFlow = false;         // driver: CTS output flow on, RTS handshake
  bool rtsHandshake = false;
  SerialTimeouts timeouts{};
};

enum class SerialOpenError : uint8_t { None, BadSettings, NotFound, Busy, Other };

class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens and configures the port. Returns SerialOpenError::None on success; NotFound when
  // the port does not exist, Busy when another program holds it, BadSettings when the text
  // is rejected. A failed open leaves the object closed.
  SerialOpenError open(const char* portName, const SerialConfig& config);
  bool isOpen() const;

  // True once the port has said it is gone (POSIX: hang-up or I/O error, as when a USB adapter
  // is pulled or a pty's far side closes; Win32: ClearCommError or I/O refused by the device).
  // From then on every call fails at once without touching the device, until close().
  // May be read from any thread.
  bool lost() const;

  // Waits up to timeoutMs for at least one received byte; 0xFFFFFFFF (kWaitForever) waits for
  // ever. Returns true when bytes are waiting, false on time-out, error or a closed port. Never
  // returns true with nothing to read. Returns false at once on a lost port.
  bool waitReadable(uint32_t timeoutMs);

  // Number of received bytes waiting to be read; 0 on error.
  size_t bytesWaiting();

  // Reads exactly `count` bytes unless `timeoutMs` passes first (0: only what is already
  // there; 0xFFFFFFFF: waits for ever). Returns the number of bytes stored (0..count), or -1 on a port error (for
  // example the other side of a pty went away). Never writes beyond buf[count-1].
  long read(uint8_t* buf, size_t count, uint32_t timeoutMs);

  // Writes all `count` bytes, waiting as the write time-outs allow. Returns the number of
  // bytes written (may be short on time-out), or -1 on error.
  long write(const uint8_t* buf, size_t count);

  // Discards unread input and/or unsent output.
  void purge(bool input, bool output);

  // Closes the port; safe to call when closed.
  void close();

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

// Builds "baud,n,data,stop" from a baud rate and a two-digit line format (81 -> "...,n,8,1").
// Returns false (out untouched beyond out[0] = 0) when the text would not fit.
bool BuildSerialSettingsText(uint32_t baud, uint8_t lineFormat, char* out, size_t outSize);

}  // namespace qv::platform
