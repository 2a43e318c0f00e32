// One RP1210 client for the length of a command, and the non-blocking read loop the
// commands share. Errors go to stderr as one "qvlink: ..." line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "args.h"
#include "rp1210_client.h"

namespace qv::tools {

void PrintError(const std::string& line);

// Loads QV121032 once per process; prints the reason and returns false when it cannot.
bool LoadLibrary(Rp1210Library& lib);

class Session {
 public:
  explicit Session(const Rp1210Library& lib) : lib_(lib) {}
  ~Session() { close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Checks the configuration, connects, and lets every message through the adapter's
  // filters. Returns kExitOk, or prints the reason and returns the exit code.
  int open(int16_t device, Protocol protocol);
  // Disconnects; returns the library's result (0 when it was not open).
  int close();
  int16_t client() const { return client_; }
  Protocol protocol() const { return protocol_; }

  // One non-blocking read into buf; the message length, 0 when none waits, or a link error
  // as RP1210 reports errors (the code negated), whether the library negates it or not.
  int read(std::vector<uint8_t>& buf) const;
  // Sends an RP1210 command for this client; the library's result.
  int command(int16_t number, std::vector<uint8_t> data) const;

 private:
  const Rp1210Library& lib_;
  int16_t client_ = 0;
  Protocol protocol_ = Protocol::J1939;
};

// A read or send result that means the adapter or its port went away (RP1210 reads give the
// code negated): ERR_HARDWARE_NOT_RESPONDING, or the library has lost the client or device.
bool IsLinkError(int code);

// Room for the longest message the library can hand back (it copies at most size - 10
// bytes of a J1939 message).
inline constexpr size_t kReadBufferSize = 2100;
inline constexpr uint8_t kReadFiller = 0x5A;

// The RP1210 J1939 transmit layout: PGN (3), how/priority, source, destination, data.
std::vector<uint8_t> J1939Transmit(uint32_t pgn, uint8_t priority, bool bam, uint8_t source, uint8_t destination,
                                   const std::vector<uint8_t>& data);

}  // namespace qv::tools
