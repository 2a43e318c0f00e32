// Application and driver input of the RP1210 library: send translation, J1939 receive
// conversion, DeviceParams and AppFilter parsing, J1939 filter lists.
#include <cstdint>
#include <cstring>

#include "commands.h"
#include "config.h"
#include "context.h"
#include "messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t selector = data[0];
  const uint8_t* p = data + 1;
  const size_t n = size - 1;
  switch (selector % 5) {
    case 0: {
      MessageRecord r;
      const qv::rp1210::ProtocolChoice choices[] = {{1, qv::rp1210::Layout::PassThrough},
                                                    {2, qv::rp1210::Layout::J1939},
                                                    {2, qv::rp1210::Layout::Can}};
      qv::rp1210::BuildSendRecord(choices[(selector / 5) % 3], p, static_cast<int>(n), 0, selector & 0x80, &r);
      break;
    }
    case 1: {
      static uint8_t out[QV_MESSAGE_RETURNED_DATA_MAX + 2];
      const size_t len = n < QV_MESSAGE_RETURNED_DATA_MAX ? n : QV_MESSAGE_RETURNED_DATA_MAX;
      qv::rp1210::ConvertJ1939Received(p, static_cast<uint32_t>(len), selector & 0x10, selector & 0x80, 0x33, out);
      break;
    }
    case 2:
    case 3: {
      char text[64];
      const size_t len = n < sizeof text - 1 ? n : sizeof text - 1;
      std::memcpy(text, p, len);
      text[len] = 0;
      DeviceSettings s{};
      qv::rp1210::ParseDeviceParams(text, &s);
      uint8_t filter[7];
      qv::rp1210::ParseAppFilter(text, filter);
      break;
    }
    case 4:
      // No driver is bound: the list is built and the send refused.
      qv::rp1210::SendJ1939FilterList(p, static_cast<int>(n > 32767 ? 32767 : n));
      break;
  }
  return 0;
}
