#include "setup_flow.h"

#include <cstdio>

#include "device_settings_file.h"
#include "modem_at.h"
#include "panel.h"

namespace qv::setup {

namespace {

constexpr const char* kInvalidText =
    "You entered: %d, which is not a valid serial number.\n\nPlease make sure that the serial "
    "number entered matches the last\n5 digits of the device serial number, and try again.";

template <typename F>
void UpToTenAttempts(SetupState& s, F query) {
  for (int i = 0; i < kAttempts; ++i)
    if (query(s) == 1) break;
}

}  // namespace

uint32_t ChannelFromAddress(uint16_t my) { return (my & 15u) % 10u + 13u; }

bool IsValidSerialNumber(int32_t number) {
  const uint32_t u = static_cast<uint32_t>(number);
  return number != 0 && u < 65534u;
}

size_t FormatInvalidSerialText(int32_t number, char* out, size_t size) {
  if (size == 0) return 0;
  int n = std::snprintf(out, size, kInvalidText, static_cast<int>(number));
  if (n < 0) { out[0] = '\0'; return 0; }
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

void ChooseChannel(SetupState& s) {
  // Step 8: no modem answered SH.
  if (s.guiSerHigh == 0 || s.guiSerHigh == 0xFFFFFFFFu) {
    if (Read_Device_Channel(s, kControlDevice) == 0) SetIniCH(s, kDefaultChannel);
    return;
  }
  // Step 9.
  UpToTenAttempts(s, ReadMY);
  // Step 10: the modem has no 16-bit address of its own.
  if (s.gusModemMY == 0xFFFF) {
    if (s.guiSerLow == 0) return;
    UpToTenAttempts(s, SetModemMY);
    if (s.gusModemMY == 0xFFFF) return;
    if (Read_Device_Channel(s, kControlDevice) != 0) return;
    SetIniCH(s, ChannelFromAddress(s.gusModemMY));
    return;
  }
  // Step 11.
  if (Read_Device_Channel(s, kControlDevice) != 0) return;
  UpToTenAttempts(s, ReadCH);
  if (s.gucModemCH == 0 || s.gucModemCH == 12)
    SetIniCH(s, ChannelFromAddress(s.gusModemMY));
  else
    SetIniCH(s, s.gucModemCH);
}

void StartUp(SetupState& s) {
  DecideIniCopies(s);
  int port = Get_COM(s, kControlDevice);
  s.gcCOMPort = static_cast<int8_t>(port);
  if (port < 1 || port > 99) {
    s.gcCOMPort = 0;
    return;
  }
  // Parity 0 = none, 8 data bits, 1 stop bit, 512-byte queues.
  if (s.com->OpenComConfig(port, "", 115200, 0, 8, 1, 512, 512) != 0) {
    // Never opened: nothing to close.
    s.gcCOMPort = 0;
    return;
  }
  s.com->InstallComCallback(port, kComEventRxChar, 0, 0, ProcessCOM, &s);
  UpToTenAttempts(s, ReadSH);
  UpToTenAttempts(s, ReadSL);
  ChooseChannel(s);
  s.com->CloseCom(s.gcCOMPort);
}

int RunSetup(SetupState& s, int argc, char** argv) {
  if (s.panel->InitRuntime(argc, argv) == 0) return -1;
  PanelCallbacks cb;
  cb.serialNumber = serial_number;
  cb.change = Change;
  cb.panel = PanelCB;
  cb.callbackData = &s;
  s.giPanelHandle = s.panel->LoadPanel(kPanelResource, kPanelResourceId, cb);
  if (s.giPanelHandle < 0) return -1;
  StartUp(s);
  s.panel->DisplayPanel(s.giPanelHandle);
  s.panel->RunUserInterface();
  s.panel->DiscardPanel(s.giPanelHandle);
  return 0;
}

int serial_number(int panel, int control, int event, void* callbackData, int, int) {
  if (event != EVENT_COMMIT) return 0;
  auto& s = *static_cast<SetupState*>(callbackData);
  int32_t number = s.panel->GetCtrlValInt(panel, control);
  s.panel->SetCtrlAttribute(panel, PANEL_CHANGE, ATTR_DIMMED, IsValidSerialNumber(number) ? 0 : 1);
  return 0;
}

int Change(int panel, int, int event, void* callbackData, int, int) {
  if (event != EVENT_COMMIT) return 0;
  auto& s = *static_cast<SetupState*>(callbackData);
  int32_t number = s.panel->GetCtrlValInt(panel, PANEL_SERIAL_NUMBER);
  if (!IsValidSerialNumber(number)) {
    char text[400];
    FormatInvalidSerialText(number, text, sizeof text);
    s.panel->MessagePopup(kInvalidTitle, text);
    return 0;
  }
  PointAtWindowsCopy(s);
  ChangeAddressOfListedDevices(s, static_cast<uint32_t>(number));
  if (s.IsVirtualFile) {
    PointAtVirtualCopy(s);
    ChangeAddressOfListedDevices(s, static_cast<uint32_t>(number));
  }
  s.panel->QuitUserInterface(0);
  return 0;
}

int PanelCB(int, int event, void* callbackData, int, int) {
  if (event != EVENT_CLOSE) return 0;
  auto& s = *static_cast<SetupState*>(callbackData);
  s.panel->QuitUserInterface(0);
  return 0;
}

}  // namespace qv::setup
