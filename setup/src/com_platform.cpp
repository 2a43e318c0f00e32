// ComLink over qv::platform::SerialPort. The receive callback is run from ProcessSystemEvents
// only, on the caller's thread, and only when bytes are waiting.
#include <cmath>
#include <cstdio>

#include "panel.h"
#include "qvlink/platform/clock.h"
#include "qvlink/platform/serial_port.h"

namespace qv::setup {

namespace {

class PlatformCom final : public ComLink {
 public:
  int OpenComConfig(int port, const char* /*deviceName*/, uint32_t baud, int parity, int dataBits,
                    int stopBits, int /*inQueueSize*/, int /*outQueueSize*/) override {
    CloseCom(port_);
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", port);
    static const char kParity[] = {'n', 'o', 'e', 'm', 's'};
    if (parity < 0 || parity > 4) return kComOpenOther;
    char settings[40];
    std::snprintf(settings, sizeof settings, "%u,%c,%d,%d", baud, kParity[parity], dataBits,
                  stopBits);
    platform::SerialConfig cfg;
    cfg.settings = settings;
    cfg.stopBits = stopBits == 2 ? platform::StopBits::Two : platform::StopBits::One;
    // Reads here never wait: only bytes already received are taken.
    cfg.timeouts.readIntervalMs = 0;
    cfg.timeouts.readTotalConstantMs = 0;
    switch (serial_.open(name, cfg)) {
      case platform::SerialOpenError::None: break;
      case platform::SerialOpenError::NotFound: return kComOpenNotFound;
      case platform::SerialOpenError::Busy: return kComOpenBusy;
      default: return kComOpenOther;
    }
    port_ = port;
    return 0;
  }

  int InstallComCallback(int port, int eventMask, int, int, ComCallback callback,
                         void* callbackData) override {
    if (port != port_ || !serial_.isOpen()) return -1;
    mask_ = eventMask;
    callback_ = callback;
    data_ = callbackData;
    return 0;
  }

  int ComWrt(int port, const uint8_t* bytes, size_t count) override {
    if (port != port_ || !serial_.isOpen()) return -1;
    return static_cast<int>(serial_.write(bytes, count));
  }

  int ComRdByte(int port) override {
    if (port != port_ || !serial_.isOpen()) return -1;
    uint8_t b = 0;
    return serial_.read(&b, 1, 0) == 1 ? b : -1;
  }

  int GetInQLen(int port) override {
    if (port != port_ || !serial_.isOpen()) return 0;
    size_t n = serial_.bytesWaiting();
    return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
  }

  int CloseCom(int port) override {
    if (port != port_) return -1;
    serial_.close();
    callback_ = nullptr;
    data_ = nullptr;
    port_ = 0;
    return 0;
  }

  void Delay(double seconds) override {
    if (seconds <= 0) return;
    platform::SleepMs(static_cast<uint32_t>(std::lround(seconds * 1000.0)));
  }

  void ProcessSystemEvents() override {
    if (callback_ == nullptr || !serial_.isOpen() || (mask_ & kComEventRxChar) == 0) return;
    if (serial_.bytesWaiting() > 0) callback_(port_, kComEventRxChar, data_);
  }

 private:
  platform::SerialPort serial_;
  int port_ = 0;
  int mask_ = 0;
  ComCallback callback_ = nullptr;
  void* data_ = nullptr;
};

}  // namespace

ComLink& PlatformComLink() {
  static PlatformCom com;
  return com;
}

}  // namespace qv::setup
