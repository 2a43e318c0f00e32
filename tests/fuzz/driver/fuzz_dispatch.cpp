// Arbitrary frames through the dispatcher: routing, batch splitting, reassembly and every
// receive layout. Input: a sequence of [len][frame bytes] items plus a settings byte.
#include <cstring>
#include <memory>

#include "dispatcher.h"
#include "fuzz_device.h"
#include "io_threads.h"
#include "receive.h"

using namespace qv::driver;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Device& d = FuzzDevice();
  InitQueues(d);
  d.stopFlag = true;  // no blocking waits
  const uint8_t cfg = data[0];
  d.rfAckEnabled = cfg & 1;
  d.echoSettingJ1708 = (cfg >> 1) & 1;
  d.echoSettingJ1939 = (cfg >> 2) & 1;
  d.canMode = (cfg >> 3) & 1;
  d.versionFeature = (cfg >> 4) & 1;
  d.longEchoLength = (cfg >> 5) & 1 ? 1789 : 0;
  size_t pos = 1;
  while (pos < size) {
    size_t len = data[pos++];
    if (len > size - pos) len = size - pos;
    if (len > 124) len = 124;
    uint8_t frame[128] = {0x7E, 0, static_cast<uint8_t>(len)};
    std::memcpy(frame + 3, data + pos, len);
    pos += len;
    RouteFrame(d, frame, len + 3);
    for (const uint8_t p : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0x02}, uint8_t{0x10}, uint8_t{0x20}, uint8_t{0x27}}) {
      MessageRecord rec = {};
      rec.protocol = p;
      ReceiveMessage(d, rec);
      if (QvReturnedLength(&rec) > QV_MESSAGE_RETURNED_DATA_MAX) __builtin_trap();
    }
    MessageRecord rec = {};
    ReceiveLongMessage(d, rec);
  }
  return 0;
}
