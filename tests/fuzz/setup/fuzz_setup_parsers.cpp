// The setup program's untrusted-input parsers: the modem byte stream, DeviceParams values,
// device lists and the typed serial number with its message.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device_settings_file.h"
#include "modem_at.h"
#include "setup_flow.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::setup::SetupState s;
  for (size_t i = 0; i < size; ++i) qv::setup::ProcessRxByte(s, data[i]);
  if (s.giRxCount < 0 || s.giRxCount > qv::setup::kMaxRxBody) __builtin_trap();

  char text[qv::setup::kReadSize + 1];
  size_t n = size < qv::setup::kReadSize ? size : qv::setup::kReadSize;
  std::memcpy(text, data, n);
  text[n] = '\0';
  qv::setup::DeviceParams p;
  qv::setup::ScanDeviceParams(text, p);
  int devices[qv::setup::kMaxDevices];
  qv::setup::SplitDeviceList(text, devices, qv::setup::kMaxDevices);
  int32_t number = 0;
  if (qv::setup::ParseSerialText(text, number) != qv::setup::SerialText::Number && number != 0)
    __builtin_trap();
  char message[64];
  if (qv::setup::FormatInvalidSerialText(text, message, sizeof message) >= sizeof message)
    __builtin_trap();
  return 0;
}
