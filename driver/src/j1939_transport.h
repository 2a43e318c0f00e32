// J1939 transport protocol (SAE J1939-21): its limits, the PDU formats the driver looks for and
// the control byte of a TP.CM message, as the adapter passes TP.CM messages seen on the bus on.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::driver::tp {

constexpr size_t kMaxMessageSize = 1785;  // 255 packets of 7 bytes: the most one transfer carries
constexpr uint8_t kPfTransportControl = 0xEC;  // PDU format of TP.CM messages
constexpr uint8_t kPfAddressClaimed = 0xEE;    // PDU format of the address claimed message

enum class Control : uint8_t {
  Rts = 16,             // request to send: a long message to one destination begins
  Cts = 17,             // clear to send: the destination asks for the next packets
  EndOfMessageAck = 19, // the destination has the whole message
  Bam = 32,             // broadcast announce: a long message to all begins
  Abort = 255,          // connection abort: the transfer is given up
};

// One line for a log or a test message; "unknown" for any other byte.
constexpr const char* ControlText(uint8_t c) {
  switch (static_cast<Control>(c)) {
    case Control::Rts: return "request to send";
    case Control::Cts: return "clear to send";
    case Control::EndOfMessageAck: return "end of message acknowledged";
    case Control::Bam: return "broadcast announce";
    case Control::Abort: return "connection abort";
  }
  return "unknown";
}

constexpr bool Is(uint8_t c, Control k) { return c == static_cast<uint8_t>(k); }

}  // namespace qv::driver::tp
