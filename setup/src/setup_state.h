// The program state of QvLink Setup: one object in place of the original's globals.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::setup {

class Panel;
class ComLink;
class SettingsStore;
class Reporter;

constexpr size_t kPathSize = 512;
constexpr size_t kRxBufSize = 150;
constexpr int32_t kMaxRxBody = 130;

struct SetupState {
  // Run-time back ends.
  Panel* panel = nullptr;
  ComLink* com = nullptr;
  SettingsStore* store = nullptr;
  Reporter* report = nullptr;  // none: nothing is said besides the panel

  // The exit code the program gives once its panel is gone.
  int exitCode = 0;

  int giPanelHandle = 0;
  int8_t gcCOMPort = 0;

  // Modem values as last received.
  uint32_t guiSerHigh = 0;
  uint32_t guiSerLow = 0;
  uint16_t gusModemMY = 0;
  uint8_t gucModemCH = 0;

  // Receive parser, kept across callback calls.
  int32_t giRxState = 0;
  int32_t giRxLength = 0;
  int32_t giRxCount = 0;
  uint8_t gucRxSum = 0;
  uint8_t gucRxBuf[kRxBufSize] = {};

  // INI copies worked on.
  uint8_t IsVirtualFile = 0;
  char VirtualFilePath[kPathSize] = {};
  char WorkingFilePath[kPathSize] = {};
};

}  // namespace qv::setup
