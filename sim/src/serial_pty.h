// The pseudo-terminal the simulator serves: the only OS-facing code of the simulator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::sim {

class Pty {
 public:
  ~Pty();
  bool open();   // master non-blocking, slave set to raw mode and closed again
  void close();
  const std::string& slavePath() const { return slave_; }

  struct Ready { bool readable = false, writable = false, hangup = false; };
  // Waits up to timeoutMs for input (and for room to write when wantWrite).
  Ready wait(int timeoutMs, bool wantWrite) const;
  // Bytes read (0 when none or hung up).
  size_t read(uint8_t* buf, size_t cap) const;
  // Bytes written (0 when the line is full).
  size_t write(const uint8_t* p, size_t n) const;
  static void pauseMicros(unsigned us);
  static bool makeLink(const std::string& dir, const std::string& name, const std::string& target);

 private:
  int master_ = -1;
  std::string slave_;
};

}  // namespace qv::sim
