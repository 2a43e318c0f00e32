// A minimal PC side for the simulator's own tests: the platform's serial port on the
// simulator's COM link, read with deadlines (never a bare sleep).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "qvlink/platform/serial_port.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

struct PortClient {
  qv::platform::SerialPort port;
  bool open(const char* com) {
    return port.open(com, qv::platform::SerialConfig{}) == qv::platform::SerialOpenError::None;
  }
  void send(const Bytes& b) { port.write(b.data(), b.size()); }
  // Up to `n` bytes: what arrived before the deadline.
  Bytes read(size_t n, uint32_t timeoutMs) {
    Bytes b(n);
    b.resize(static_cast<size_t>(std::max(0L, port.read(b.data(), n, timeoutMs))));
    return b;
  }
  // The next whole frame by its length field (checksum not judged), skipping bytes before 7E.
  std::optional<Bytes> frame(uint32_t timeoutMs) {
    Bytes f = read(1, timeoutMs);
    while (f.size() == 1 && f[0] != 0x7E) f = read(1, timeoutMs);
    if (f.empty()) return std::nullopt;
    const Bytes length = read(2, timeoutMs);
    if (length.size() < 2) return std::nullopt;
    const Bytes rest = read(((size_t{length[0]} << 8) | length[1]) + 1, timeoutMs);
    f.insert(f.end(), length.begin(), length.end());
    f.insert(f.end(), rest.begin(), rest.end());
    return f;
  }
};

}  // namespace simtest
