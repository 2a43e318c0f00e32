// The run-time seam of QvLink Setup: the panel with its event loop, the serial port to the
// modem, and the delay / event-processing calls. The flow is written against these two
// interfaces only; CMake picks the panel back end (Win32 dialog, terminal, scripted for tests).
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::setup {

// Control ids of the panel "PANEL" (resource 1).
enum : int {
  PANEL_PICTURE = 2,
  PANEL_PICTURE_2 = 3,
  PANEL_TEXTMSG = 4,
  PANEL_SERIAL_NUMBER = 5,
  PANEL_CHANGE = 6,
};

// Events delivered to the callbacks; every other event is ignored by them.
enum : int {
  EVENT_COMMIT = 1,
  EVENT_CLOSE = 2,
};

constexpr int ATTR_DIMMED = 500;
constexpr int kPanelResourceId = 1;
constexpr const char* kPanelResource = "Ini_Editor.uir";
constexpr const char* kPanelTitle = "QvLink Setup";
constexpr const char* kPanelText =
    "Enter the last 5 digits of the serial number on your QvLink, then click OK.";
constexpr const char* kSerialLabel = "Serial #";
constexpr const char* kChangeLabel = "OK";

using CtrlCallback = int (*)(int panel, int control, int event, void* callbackData,
                             int eventData1, int eventData2);
using PanelCallback = int (*)(int panel, int event, void* callbackData, int eventData1,
                              int eventData2);

// What LoadPanel wires up: the callbacks of SERIAL_NUMBER, CHANGE and the panel itself.
struct PanelCallbacks {
  CtrlCallback serialNumber = nullptr;
  CtrlCallback change = nullptr;
  PanelCallback panel = nullptr;
  void* callbackData = nullptr;
};

class Panel {
 public:
  virtual ~Panel() = default;
  // Gives 0 on failure.
  virtual int InitRuntime(int argc, char** argv) = 0;
  // Gives a panel handle, negative on failure.
  virtual int LoadPanel(const char* resource, int resourceId, const PanelCallbacks& cb) = 0;
  virtual void DisplayPanel(int panel) = 0;
  // Delivers commit and close events to the callbacks until QuitUserInterface.
  virtual void RunUserInterface() = 0;
  virtual void QuitUserInterface(int code) = 0;
  virtual void DiscardPanel(int panel) = 0;
  // The text of a control as the user typed it (terminated, cut to size); gives its length.
  virtual size_t GetCtrlText(int panel, int control, char* out, size_t size) = 0;
  virtual void SetCtrlAttribute(int panel, int control, int attribute, int value) = 0;
  // Modal; returns when dismissed.
  virtual void MessagePopup(const char* title, const char* text) = 0;
};

// Receive callback: runs only inside ProcessSystemEvents, when characters have arrived.
using ComCallback = void (*)(int port, int eventMask, void* callbackData);

constexpr int kComEventRxChar = 1;  // any character received

// Why OpenComConfig failed.
constexpr int kComOpenNotFound = -1;
constexpr int kComOpenBusy = -2;
constexpr int kComOpenOther = -3;

class ComLink {
 public:
  virtual ~ComLink() = default;
  // Gives 0 on success, else one of the kComOpen... codes.
  virtual int OpenComConfig(int port, const char* deviceName, uint32_t baud, int parity,
                            int dataBits, int stopBits, int inQueueSize, int outQueueSize) = 0;
  virtual int InstallComCallback(int port, int eventMask, int notifyCount, int eventChar,
                                 ComCallback callback, void* callbackData) = 0;
  virtual int ComWrt(int port, const uint8_t* bytes, size_t count) = 0;
  // The next received byte, or a negative number when there is none.
  virtual int ComRdByte(int port) = 0;
  // Received bytes waiting.
  virtual int GetInQLen(int port) = 0;
  virtual int CloseCom(int port) = 0;
  virtual void Delay(double seconds) = 0;
  // Runs pending events once (a pending receive callback included) without waiting.
  virtual void ProcessSystemEvents() = 0;
};

}  // namespace qv::setup

namespace qv::setup {

// The serial side over the platform's serial port, shared by every panel back end.
ComLink& PlatformComLink();

}  // namespace qv::setup

namespace qv::setup {

// The panel back end of this build (terminal on Linux, dialog on Windows); CMake picks it.
Panel& DefaultPanel();

}  // namespace qv::setup
