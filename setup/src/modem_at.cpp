#include "modem_at.h"

#include <cstring>

#include "api_frame.h"
#include "panel.h"

namespace qv::setup {

namespace {

enum RxState : int32_t { kHunt = 0, kLenHigh = 1, kLenLow = 2, kBody = 3 };

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void SendAt(SetupState& s, const uint8_t* data, size_t count) {
  uint8_t frame[32];
  size_t n = Build_XBee_Msg(frame, sizeof frame, frame::kApiAtCommand, kAtFrameId, data, count);
  if (n != 0) s.com->ComWrt(s.gcCOMPort, frame, n);
}

// Steps of every query: send, wait 0.1 s, give pending answers up to 10 rounds to arrive.
template <typename T>
int Query(SetupState& s, char c0, char c1, T& value, T noAnswer) {
  const uint8_t cmd[2] = {static_cast<uint8_t>(c0), static_cast<uint8_t>(c1)};
  value = noAnswer;
  SendAt(s, cmd, sizeof cmd);
  s.com->Delay(kQueryDelayS);
  for (int i = 0; i < kQueryRounds; ++i) {
    if (value != noAnswer) break;
    s.com->ProcessSystemEvents();
  }
  return value != noAnswer ? 1 : 0;
}

}  // namespace

size_t Build_XBee_Msg(uint8_t* buffer, size_t bufferSize, uint8_t apiId, uint8_t frameId,
                      const uint8_t* data, size_t count) {
  uint8_t frameData[2 + 64];
  if (count > sizeof frameData - 2) return 0;
  frameData[0] = apiId;
  frameData[1] = frameId;
  if (count != 0) std::memcpy(frameData + 2, data, count);
  return frame::BuildFrame(buffer, bufferSize, frameData, count + 2);
}

int ReadSH(SetupState& s) { return Query(s, 'S', 'H', s.guiSerHigh, kNoSerHigh); }
int ReadSL(SetupState& s) { return Query(s, 'S', 'L', s.guiSerLow, kNoSerLow); }
int ReadMY(SetupState& s) { return Query(s, 'M', 'Y', s.gusModemMY, kNoModemMY); }
int ReadCH(SetupState& s) { return Query(s, 'C', 'H', s.gucModemCH, kNoModemCH); }

uint16_t ModemAddressFromSerialLow(uint32_t serialLow) {
  uint16_t v = static_cast<uint16_t>(serialLow & 0xFFFF);
  // 0xFFFE and 0xFFFF mean "no 16-bit address" to the modem.
  if (v == 0xFFFE || v == 0xFFFF) v = static_cast<uint16_t>(v & 0x7FFF);
  return v;
}

int SetModemMY(SetupState& s) {
  uint16_t v = 0;
  if (s.guiSerLow != 0) {
    v = ModemAddressFromSerialLow(s.guiSerLow);
    const uint8_t setMy[6] = {'M', 'Y', 0x00, 0x00, static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v & 0xFF)};
    SendAt(s, setMy, sizeof setMy);
    s.com->Delay(kSetMyDelayS);
    const uint8_t wr[2] = {'W', 'R'};
    SendAt(s, wr, sizeof wr);
    s.com->Delay(kWriteDelayS);
  }
  ReadMY(s);
  return s.gusModemMY == v ? 1 : 0;
}

void ProcessCOM(int port, int /*eventMask*/, void* callbackData) {
  auto& s = *static_cast<SetupState*>(callbackData);
  while (s.com->GetInQLen(port) > 0) {
    int b = s.com->ComRdByte(port);
    if (b < 0) break;
    ProcessRxByte(s, static_cast<uint8_t>(b));
  }
}

void ProcessRxByte(SetupState& s, uint8_t b) {
  switch (s.giRxState) {
    case kHunt:
      if (b == frame::kStartDelimiter) {
        s.giRxLength = 0;
        s.gucRxSum = 0;
        s.giRxState = kLenHigh;
      }
      break;
    case kLenHigh:
      s.giRxLength = b * 256;
      s.giRxState = kLenLow;
      break;
    case kLenLow:
      s.giRxLength += b;
      s.giRxCount = 0;
      s.giRxState = s.giRxLength > kMaxRxBody ? kHunt : kBody;
      break;
    case kBody:
      if (s.giRxCount < s.giRxLength) {
        s.gucRxBuf[s.giRxCount++] = b;
        s.gucRxSum = static_cast<uint8_t>(s.gucRxSum + b);
      } else {
        s.giRxState = kHunt;
        if (static_cast<uint8_t>(s.gucRxSum + b) == 0xFF)
          ProcessModemMessage(s, s.gucRxBuf, s.giRxCount - 1);
      }
      break;
    default:
      s.giRxState = kHunt;
      break;
  }
}

void ProcessModemMessage(SetupState& s, const uint8_t* body, int32_t count) {
  // Body: API id, frame id, two letters, status, value. A response too short for the value
  // of its command is ignored rather than filled from an earlier frame's bytes.
  const int32_t size = count + 1;
  if (size < 5 || body[0] != frame::kApiAtResponse) return;
  const uint8_t c0 = body[2], c1 = body[3];
  const uint8_t* value = body + 5;
  const int32_t valueLen = size - 5;
  if (c0 == 'S' && c1 == 'H') {
    if (valueLen >= 4) s.guiSerHigh = Be32(value);
  } else if (c0 == 'S' && c1 == 'L') {
    if (valueLen >= 4) s.guiSerLow = Be32(value);
  } else if (c0 == 'M' && c1 == 'Y') {
    if (valueLen >= 2) s.gusModemMY = static_cast<uint16_t>(value[0] << 8 | value[1]);
  } else if (c0 == 'C' && c1 == 'H') {
    if (valueLen >= 1) s.gucModemCH = value[0];
  }
  // WR is recognised and records nothing; any other command is ignored.
}

}  // namespace qv::setup
