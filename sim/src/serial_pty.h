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
  // Waits up to timeoutMicros for input (and for room to write when wantWrite).
  Ready wait(long timeoutMicros, bool wantWrite) const;
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

// The port link of a simulator program: dir/name -> the pty slave, guarded by a lock file
// dir/.name.lock that the program holds (flock) for as long as it runs, with its process id
// inside. A link whose lock nobody holds was left by a simulator that died: it is replaced.
// A link whose lock is held leads to a live simulator: it is left alone.
class PortLink {
 public:
  enum class Result { Made, InUse, Failed };
  PortLink() = default;
  ~PortLink() { release(); }
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  // InUse sets *holder to the live simulator's process id (0 when it could not be read).
  Result make(const std::string& dir, const std::string& name, const std::string& target, long* holder);
  // Removes the link (when it still leads to our target) and the lock file; safe to repeat.
  void release();
  const std::string& path() const { return link_; }

 private:
  int lockFd_ = -1;
  std::string link_, lock_, target_;
};

}  // namespace qv::sim
