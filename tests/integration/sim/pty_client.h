// A minimal PC side for the simulator's own tests: opens the pty, writes bytes, and reads with
// deadlines (never a bare sleep).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

class PtyClient {
 public:
  explicit PtyClient(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ >= 0) {
      termios t{};
      tcgetattr(fd_, &t);
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~PtyClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void send(const Bytes& b) const {
    size_t off = 0;
    while (off < b.size()) {
      const ssize_t w = ::write(fd_, b.data() + off, b.size() - off);
      if (w <= 0) return;
      off += static_cast<size_t>(w);
    }
  }
  // Reads until `n` raw bytes are held or the deadline passes; returns what arrived.
  Bytes readBytes(size_t n, int timeoutMs) {
    const auto deadline = Deadline(timeoutMs);
    while (buf_.size() < n && fill(MsLeft(deadline))) {
    }
    const size_t k = std::min(n, buf_.size());
    Bytes out(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(k));
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(k));
    return out;
  }
  // Next whole frame by its length field (checksum not judged), skipping bytes before 7E.
  std::optional<Bytes> readFrame(int timeoutMs) {
    const auto deadline = Deadline(timeoutMs);
    for (;;) {
      while (!buf_.empty() && buf_[0] != 0x7E) buf_.erase(buf_.begin());
      if (buf_.size() >= 3) {
        const size_t total = ((size_t{buf_[1]} << 8) | buf_[2]) + 4;
        if (buf_.size() >= total) {
          Bytes f(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(total));
          buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(total));
          return f;
        }
      }
      if (!fill(MsLeft(deadline))) return std::nullopt;
    }
  }
  const std::vector<size_t>& readSizes() const { return sizes_; }

 private:
  using Clock = std::chrono::steady_clock;
  static Clock::time_point Deadline(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }
  static int MsLeft(Clock::time_point deadline) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
  }
  // Waits up to timeoutMs (nothing when it is not positive) for bytes and appends them.
  bool fill(int timeoutMs) {
    if (timeoutMs <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    uint8_t tmp[512];
    const ssize_t n = ::read(fd_, tmp, sizeof tmp);
    if (n <= 0) return false;
    sizes_.push_back(static_cast<size_t>(n));
    buf_.insert(buf_.end(), tmp, tmp + n);
    return true;
  }
  int fd_ = -1;
  Bytes buf_;
  std::vector<size_t> sizes_;
};

}  // namespace simtest
