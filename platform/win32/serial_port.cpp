// Serial port: "\\.\COMn" opened for overlapped I/O. Readiness is judged from the driver's
// input count (ClearCommError), never from the comm-event mask alone: some serial
// implementations (Wine on a pty) complete WaitCommEvent with an empty mask before any byte.
#include "qvlink/platform/serial_port.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "../common/text_rules.h"

namespace qv::platform {

struct SerialPort::Impl {
  HANDLE port = INVALID_HANDLE_VALUE;
  HANDLE claim = nullptr;  // named mutex marking the port as taken
  OVERLAPPED readOv{};
  OVERLAPPED writeOv{};
  OVERLAPPED waitOv{};
  DWORD waitMask = 0;
  bool waitPending = false;  // a WaitCommEvent is outstanding on waitOv
  SerialTimeouts timeouts{};
  std::atomic<bool> lost{false};  // set by the reading or the writing thread, read by both
};

namespace {

// Starts from the port's own state, so fields the settings do not name keep valid values.
void ApplyLineSettings(HANDLE port, const detail::LineSettings& line, const SerialConfig& config) {
  DCB dcb;
  std::memset(&dcb, 0, sizeof(dcb));
  dcb.DCBlength = sizeof(dcb);
  GetCommState(port, &dcb);
  static constexpr BYTE kParity[] = {NOPARITY, EVENPARITY, ODDPARITY, MARKPARITY, SPACEPARITY};
  dcb.BaudRate = line.baud;
  dcb.fBinary = TRUE;
  dcb.fParity = line.parity != detail::Parity::None ? TRUE : FALSE;
  dcb.Parity = kParity[static_cast<int>(line.parity)];
  dcb.ByteSize = line.dataBits;
  dcb.StopBits = config.stopBits == StopBits::Two ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fOutxCtsFlow = config.ctsOutputFlow ? TRUE : FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = config.rtsHandshake ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  SetCommState(port, &dcb);  // fails on some virtual ports (a pty under Wine); the port still works
}

SerialOpenError MapOpenError(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return SerialOpenError::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return SerialOpenError::Busy;
    default:
      return SerialOpenError::Other;
  }
}

// Errors with which Windows answers for a serial device that has been removed.
bool GoneError(DWORD err) {
  switch (err) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_INVALID_HANDLE:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_REMOVED:
    case ERROR_FILE_NOT_FOUND:
      return true;
    default:
      return false;
  }
}

void CloseIfSet(HANDLE& h) {
  if (h != nullptr) CloseHandle(h);
  h = nullptr;
}

// Waits for an overlapped operation up to waitMs; on time-out cancels it and waits for the
// cancellation, so the OVERLAPPED is never left in use. Returns the bytes moved, or -1.
long FinishOverlapped(HANDLE port, OVERLAPPED* ov, DWORD waitMs) {
  DWORD moved = 0;
  const DWORD r = WaitForSingleObject(ov->hEvent, waitMs);
  if (r != WAIT_OBJECT_0) CancelIoEx(port, ov);
  if (GetOverlappedResult(port, ov, &moved, TRUE)) return static_cast<long>(moved);
  const DWORD err = GetLastError();
  // A cancelled operation may still have moved some bytes.
  if (err == ERROR_OPERATION_ABORTED) return static_cast<long>(moved);
  return -1;
}

// Milliseconds from a fine clock: GetTickCount moves in steps of about 16 ms, too coarse for
// waits of a few milliseconds.
class Stopwatch {
 public:
  Stopwatch() { QueryPerformanceCounter(&start_); }
  uint32_t elapsedMs() const {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    const long long ms = (now.QuadPart - start_.QuadPart) * 1000 / (freq.QuadPart > 0 ? freq.QuadPart : 1);
    return ms < 0 ? 0 : ms > 0xFFFFFFF0LL ? 0xFFFFFFF0u : static_cast<uint32_t>(ms);
  }

 private:
  LARGE_INTEGER start_;
};

}  // namespace

SerialPort::~SerialPort() {
  close();
  delete impl_;
}

SerialOpenError SerialPort::open(const char* portName, const SerialConfig& config) {
  close();
  // The same rules as on POSIX: "COMn" only (never a path or another device such as LPT1 or
  // NUL), and the settings text parsed here rather than by BuildCommDCB, which reads more forms.
  const unsigned number = detail::ParsePortNumber(portName);
  if (number == 0) return SerialOpenError::NotFound;
  detail::LineSettings line;
  if (!detail::ParseSettings(config.settings, line)) return SerialOpenError::BadSettings;
  char path[16];
  std::snprintf(path, sizeof(path), "\\\\.\\COM%u", number);

  if (impl_ == nullptr) impl_ = new (std::nothrow) Impl;
  if (impl_ == nullptr) return SerialOpenError::Other;
  // Fresh state for this open (the atomic flag rules out assigning a whole new Impl).
  impl_->port = INVALID_HANDLE_VALUE;
  impl_->claim = nullptr;
  impl_->readOv = OVERLAPPED{};
  impl_->writeOv = OVERLAPPED{};
  impl_->waitOv = OVERLAPPED{};
  impl_->waitMask = 0;
  impl_->waitPending = false;
  impl_->lost.store(false);
  impl_->timeouts = config.timeouts;
  impl_->readOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  impl_->writeOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  impl_->waitOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (impl_->readOv.hEvent == nullptr || impl_->writeOv.hEvent == nullptr ||
      impl_->waitOv.hEvent == nullptr) {
    close();
    return SerialOpenError::Other;
  }

  // Windows refuses a second open of a real COM port, but virtual ones (a pty under Wine)
  // may not: a named claim keeps our own programs from sharing a port in any case.
  char claimName[48];
  std::snprintf(claimName, sizeof(claimName), "Global\\QvLinkSerialPort_COM%u", number);
  impl_->claim = CreateMutexA(nullptr, FALSE, claimName);
  if (impl_->claim != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    close();
    return SerialOpenError::Busy;
  }

  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const SerialOpenError e = MapOpenError(GetLastError());
    close();
    return e;
  }
  impl_->port = h;
  ApplyLineSettings(h, line, config);
  COMMTIMEOUTS ct;
  ct.ReadIntervalTimeout = config.timeouts.readIntervalMs;
  ct.ReadTotalTimeoutMultiplier = 0;
  ct.ReadTotalTimeoutConstant = config.timeouts.readTotalConstantMs;
  ct.WriteTotalTimeoutMultiplier = config.timeouts.writeTotalMultiplierMs;
  ct.WriteTotalTimeoutConstant = config.timeouts.writeTotalConstantMs;
  SetCommTimeouts(h, &ct);
  SetCommMask(h, EV_RXCHAR);
  return SerialOpenError::None;
}

bool SerialPort::isOpen() const { return impl_ != nullptr && impl_->port != INVALID_HANDLE_VALUE; }

bool SerialPort::lost() const { return isOpen() && impl_->lost.load(std::memory_order_acquire); }

namespace {
// The input count; a refused ClearCommError means the device has gone (a pulled USB adapter
// answers every call so from then on), and the port is marked lost.
bool InputCount(HANDLE port, std::atomic<bool>& lost, DWORD& count) {
  DWORD errors = 0;
  COMSTAT stat;
  std::memset(&stat, 0, sizeof(stat));
  if (!ClearCommError(port, &errors, &stat)) {
    lost.store(true, std::memory_order_release);
    return false;
  }
  count = stat.cbInQue;
  return true;
}
}  // namespace

size_t SerialPort::bytesWaiting() {
  if (!isOpen() || lost()) return 0;
  DWORD count = 0;
  return InputCount(impl_->port, impl_->lost, count) ? count : 0;
}

bool SerialPort::waitReadable(uint32_t timeoutMs) {
  if (!isOpen() || lost()) return false;
  const Stopwatch clock;
  for (;;) {
    COMSTAT stat;
    std::memset(&stat, 0, sizeof(stat));
    if (!InputCount(impl_->port, impl_->lost, stat.cbInQue)) return false;
    if (stat.cbInQue > 0) return true;
    const uint32_t elapsed = clock.elapsedMs();
    if (timeoutMs != 0xFFFFFFFFu && elapsed >= timeoutMs) return false;

    const DWORD left = timeoutMs == 0xFFFFFFFFu ? INFINITE : static_cast<DWORD>(timeoutMs - elapsed);
    // The comm event ends the wait where it works. A wait that completes with an empty mask
    // (Wine on a pty does so at once) says nothing: the count is polled then, 1 ms apart.
    if (!impl_->waitPending) {
      ResetEvent(impl_->waitOv.hEvent);
      impl_->waitMask = 0;
      if (WaitCommEvent(impl_->port, &impl_->waitMask, &impl_->waitOv)) {
        if ((impl_->waitMask & EV_RXCHAR) == 0) Sleep(1);
        continue;
      }
      const DWORD err = GetLastError();
      if (err != ERROR_IO_PENDING) {
        if (GoneError(err)) {
          impl_->lost.store(true, std::memory_order_release);
          return false;
        }
        Sleep(1);
        continue;
      }
      impl_->waitPending = true;
      // A byte that came before the wait was posted raises no event: look once more.
      continue;
    }
    if (WaitForSingleObject(impl_->waitOv.hEvent, left) == WAIT_OBJECT_0) {
      DWORD ignored = 0;
      GetOverlappedResult(impl_->port, &impl_->waitOv, &ignored, FALSE);
      impl_->waitPending = false;
      if ((impl_->waitMask & EV_RXCHAR) == 0) Sleep(1);
    }
  }
}

long SerialPort::read(uint8_t* buf, size_t count, uint32_t timeoutMs) {
  if (!isOpen() || lost() || (buf == nullptr && count > 0)) return -1;
  const Stopwatch clock;
  size_t got = 0;
  while (got < count) {
    COMSTAT stat;
    std::memset(&stat, 0, sizeof(stat));
    if (!InputCount(impl_->port, impl_->lost, stat.cbInQue)) return got > 0 ? static_cast<long>(got) : -1;
    size_t want = count - got;
    if (stat.cbInQue < want) want = stat.cbInQue;
    if (want > 0) {
      // Ask only for what is waiting, so the read completes without the port's time-outs.
      ResetEvent(impl_->readOv.hEvent);
      DWORD n = 0;
      if (ReadFile(impl_->port, buf + got, static_cast<DWORD>(want), &n, &impl_->readOv)) {
        got += n;
      } else if (GetLastError() == ERROR_IO_PENDING) {
        const long r = FinishOverlapped(impl_->port, &impl_->readOv, impl_->timeouts.readTotalConstantMs + 1000);
        if (r < 0) return -1;
        got += static_cast<size_t>(r);
      } else {
        if (GoneError(GetLastError())) impl_->lost.store(true, std::memory_order_release);
        return got > 0 ? static_cast<long>(got) : -1;
      }
      continue;
    }
    const uint32_t elapsed = clock.elapsedMs();
    if (timeoutMs == 0 || elapsed >= timeoutMs) break;
    if (!waitReadable(timeoutMs - elapsed)) {
      if (bytesWaiting() == 0) break;
    }
  }
  return static_cast<long>(got);
}

long SerialPort::write(const uint8_t* buf, size_t count) {
  if (!isOpen() || lost() || (buf == nullptr && count > 0)) return -1;
  if (count == 0) return 0;
  if (count > 0x7FFFFFFF) count = 0x7FFFFFFF;  // the result must fit a 32-bit long
  const SerialTimeouts& t = impl_->timeouts;
  // Zero multiplier and constant mean "no write time-out" to Windows.
  const bool unbounded = t.writeTotalMultiplierMs == 0 && t.writeTotalConstantMs == 0;
  const unsigned long long total =
      static_cast<unsigned long long>(t.writeTotalMultiplierMs) * count + t.writeTotalConstantMs;
  // The port enforces its own time-out; the extra second guards against one that does not.
  const DWORD guard = unbounded || total + 1000 >= INFINITE ? INFINITE : static_cast<DWORD>(total + 1000);
  ResetEvent(impl_->writeOv.hEvent);
  DWORD n = 0;
  if (WriteFile(impl_->port, buf, static_cast<DWORD>(count), &n, &impl_->writeOv)) {
    return static_cast<long>(n);
  }
  const DWORD err = GetLastError();
  if (err != ERROR_IO_PENDING) {
    if (GoneError(err)) impl_->lost.store(true, std::memory_order_release);
    return -1;
  }
  return FinishOverlapped(impl_->port, &impl_->writeOv, guard);
}

void SerialPort::purge(bool input, bool output) {
  if (!isOpen()) return;
  DWORD flags = 0;
  if (input) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
  if (output) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
  if (flags != 0) PurgeComm(impl_->port, flags);
}

void SerialPort::close() {
  if (impl_ == nullptr) return;
  if (impl_->port != INVALID_HANDLE_VALUE) {
    if (impl_->waitPending) {
      // The outstanding comm-event wait refers to waitOv: finish it before the memory goes.
      SetCommMask(impl_->port, 0);
      CancelIoEx(impl_->port, &impl_->waitOv);
      DWORD ignored = 0;
      GetOverlappedResult(impl_->port, &impl_->waitOv, &ignored, TRUE);
      impl_->waitPending = false;
    }
    CloseHandle(impl_->port);
    impl_->port = INVALID_HANDLE_VALUE;
  }
  CloseIfSet(impl_->claim);
  CloseIfSet(impl_->readOv.hEvent);
  CloseIfSet(impl_->writeOv.hEvent);
  CloseIfSet(impl_->waitOv.hEvent);
}

}  // namespace qv::platform
