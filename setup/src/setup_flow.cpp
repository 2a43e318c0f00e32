#include "setup_flow.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "device_settings_file.h"
#include "modem_at.h"
#include "panel.h"
#include "report.h"
#include "settings_store.h"

namespace qv::setup {

namespace {

constexpr const char* kInvalidText =
    "You entered: %s, which is not a valid serial number.\n\nPlease make sure that the serial "
    "number entered matches the last\n5 digits of the device serial number, and try again.";

constexpr size_t kLineSize = 1200;

#if defined(__GNUC__)
#define QV_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define QV_PRINTF_LIKE(f, a)
#endif

void Say(SetupState& s, const char* format, ...) QV_PRINTF_LIKE(2, 3);
void Fail(SetupState& s, const char* format, ...) QV_PRINTF_LIKE(2, 3);

// One formatted line to the person, as progress or as a failure.
void ReportLine(SetupState& s, bool failure, const char* format, va_list args) {
  if (s.report == nullptr) return;
  char line[kLineSize];
  std::vsnprintf(line, sizeof line, format, args);
  if (failure) {
    s.report->Failure(line);
  } else {
    s.report->Progress(line);
  }
}

void Say(SetupState& s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportLine(s, false, format, args);
  va_end(args);
}

void Fail(SetupState& s, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportLine(s, true, format, args);
  va_end(args);
}

// The path of the working copy, for messages.
struct PathText {
  char text[kPathSize];
};
PathText WorkingPath(SetupState& s) {
  PathText p;
  if (!s.store->ResolvePath(s.WorkingFilePath, p.text, sizeof p.text))
    std::snprintf(p.text, sizeof p.text, "%s", s.WorkingFilePath);
  return p;
}

// "device 101" or "devices 101, 102".
struct DevicesText {
  char text[kMaxDevices * 13 + 16];
};
DevicesText Devices(const int* devices, size_t count) {
  DevicesText d;
  size_t at = static_cast<size_t>(
      std::snprintf(d.text, sizeof d.text, "%s", count == 1 ? "device" : "devices"));
  for (size_t i = 0; i < count && at < sizeof d.text; ++i) {
    const int n = std::snprintf(d.text + at, sizeof d.text - at, "%s %d", i == 0 ? "" : ",",
                                devices[i]);
    if (n < 0) break;
    at += static_cast<size_t>(n);
  }
  return d;
}

// Devices skipped by a walk, leaving out the number 0 that an empty list piece stands for.
void SaySkipped(SetupState& s, const ListWrite& w, const char* path, const char* what) {
  int real[kMaxDevices];
  size_t n = 0;
  for (size_t i = 0; i < w.skippedCount; ++i)
    if (w.skipped[i] > 0) real[n++] = w.skipped[i];
  if (n > 0)
    Fail(s, "%s in %s: no DeviceParams that can take the %s; left as %s", Devices(real, n).text,
         path, what, n == 1 ? "it is" : "they are");
}

// One copy's outcome of a walk that wrote `what` ("radio channel" or "address").
void SayNothingWritten(SetupState& s, const ListWrite& w, const char* path, const char* what) {
  if (w.failed)
    Fail(s, "cannot write %s (read-only, or no permission): %s not written there", path, what);
  else if (!w.hasList && !s.store->FileExists(s.WorkingFilePath))
    Fail(s, "no QV121032.ini at %s: %s not written", path, what);
  else if (!w.hasList)
    Fail(s, "%s lists no devices ([VendorInformation] Devices): %s not written", path, what);
  else if (w.writtenCount == 0)
    Fail(s, "no device listed in %s has DeviceParams that can take the %s", path, what);
}

void RecordChannel(SetupState& s, uint32_t channel) {
  ListWrite copies[2];
  SetIniCH(s, channel, copies);
  for (int c = 0; c < (s.IsVirtualFile ? 2 : 1); ++c) {
    if (c == 0) PointAtWindowsCopy(s);
    else PointAtVirtualCopy(s);
    const ListWrite& w = copies[c];
    const PathText path = WorkingPath(s);
    if (w.writtenCount > 0)
      Say(s, "Radio channel %u recorded for %s in %s.", channel,
          Devices(w.written, w.writtenCount).text, path.text);
    if (!w.Ok()) SayNothingWritten(s, w, path.text, "radio channel");
    SaySkipped(s, w, path.text, "radio channel");
  }
  PointAtWindowsCopy(s);
}

// The start-up reads of device 101 use the Windows-directory copy.
bool Device101KeepsItsChannel(SetupState& s) {
  PointAtWindowsCopy(s);
  const int8_t ch = Read_Device_Channel(s, kControlDevice);
  if (ch == 0) return false;
  Say(s, "Device %d already has radio channel %d; the channel is left as it is.", kControlDevice,
      ch);
  return true;
}

template <typename F>
bool UpToTenAttempts(SetupState& s, F query) {
  for (int i = 0; i < kAttempts; ++i)
    if (query(s) == 1) return true;
  return false;
}

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

uint32_t ChannelFromAddress(uint16_t my) { return (my & 15u) % 10u + 13u; }

bool IsValidSerialNumber(int32_t number) {
  const uint32_t u = static_cast<uint32_t>(number);
  return number != 0 && u < 65534u;
}

SerialText ParseSerialText(const char* text, int32_t& number) {
  number = 0;
  if (text == nullptr) return SerialText::Blank;
  const char* p = text;
  while (IsBlankChar(*p)) ++p;
  if (*p == '\0') return SerialText::Blank;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return SerialText::NotANumber;
  int64_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + (*p - '0');
    if (v > 0x80000000LL) return SerialText::NotANumber;
  }
  while (IsBlankChar(*p)) ++p;
  if (*p != '\0') return SerialText::NotANumber;
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return SerialText::NotANumber;
  number = static_cast<int32_t>(v);
  return SerialText::Number;
}

size_t FormatInvalidSerialText(const char* entered, char* out, size_t size) {
  if (size == 0) return 0;
  const int n = std::snprintf(out, size, kInvalidText, entered != nullptr ? entered : "");
  if (n < 0) { out[0] = '\0'; return 0; }
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

ArgsAction ParseArgs(int argc, char** argv, char* error, size_t errorSize) {
  if (errorSize > 0) error[0] = '\0';
  bool help = false;
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    const char* a = argv[i] != nullptr ? argv[i] : "";
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      help = true;
      continue;
    }
    // One line whatever was given: control characters shown as '?', long text cut.
    char shown[41];
    size_t n = 0;
    for (; a[n] != '\0' && n < sizeof shown - 1; ++n)
      shown[n] = static_cast<unsigned char>(a[n]) < 0x20 || a[n] == 0x7F ? '?' : a[n];
    shown[n] = '\0';
    if (errorSize > 0)
      std::snprintf(error, errorSize, "unknown argument '%s%s' (--help shows the usage)", shown,
                    a[n] != '\0' ? "..." : "");
    return ArgsAction::Error;
  }
  return help ? ArgsAction::Help : ArgsAction::Run;
}

std::string UsageText(const char* iniPath) {
  std::string t =
      "Usage: qvlink-setup [--help]\n"
      "\n"
      "Pairs this PC's radio modem with one QvLink adapter. It talks to the radio modem on the\n"
      "COM port of device 101 in QV121032.ini: reads its serial number, address and channel,\n"
      "gives it an address of its own when it has none, and records a radio channel for the\n"
      "listed devices. It then asks for the last 5 digits of the serial number on the QvLink\n"
      "(one number per line, typed or piped on standard input) and writes that number as the\n"
      "adapter's radio address into DeviceParams of every device listed under\n"
      "[VendorInformation] Devices.\n"
      "\n"
      "Files:\n"
      "  ";
  t += iniPath;
  t +=
      "\n"
      "  $LOCALAPPDATA/VirtualStore/Windows/QV121032.ini, a per-user copy, written as well\n"
      "      when it lists devices\n"
      "\n"
      "Environment:\n"
      "  QV_PROFILE_DIR  directory of QV121032.ini (not on Windows; default /etc/qvlink)\n"
      "  QV_PORT_DIR     directory of COMn links (not on Windows; default: COMn is\n"
      "                  /dev/ttyS<n-1>)\n"
      "  LOCALAPPDATA    base directory of the per-user copy\n"
      "\n"
      "Exit status:\n"
      "  0    the address was written\n"
      "  1    the address could not be written (no INI file, no devices, a file not writable)\n"
      "  2    wrong arguments; nothing was touched\n"
      "  3    ended (end of input, window closed) without a valid serial number\n"
      "  255  the program could not start\n"
      "Failures are told on standard error, one line each.";
  return t;
}

void ChooseChannel(SetupState& s) {
  // Step 8: no modem answered SH.
  if (s.guiSerHigh == 0 || s.guiSerHigh == 0xFFFFFFFFu) {
    if (!Device101KeepsItsChannel(s)) RecordChannel(s, kDefaultChannel);
    return;
  }
  // Step 9.
  if (!UpToTenAttempts(s, ReadMY)) Fail(s, "the radio modem stopped answering (its address, MY)");
  // Step 10: the modem has no 16-bit address of its own.
  if (s.gusModemMY == 0xFFFF) {
    if (s.guiSerLow == 0) {
      Fail(s, "the radio modem has no address and gave no serial number to make one from");
      return;
    }
    const uint16_t wanted = ModemAddressFromSerialLow(s.guiSerLow);
    Say(s, "The radio modem has no address of its own; giving it %04X and storing it "
           "(about 5 s) ...", wanted);
    bool set = false;
    for (int i = 0; i < kAttempts && !set; ++i) {
      set = SetModemMY(s) == 1;
      if (!set && i + 1 < kAttempts)
        Say(s, "No confirmation yet; trying again (%d of %d) ...", i + 2, kAttempts);
    }
    if (set) Say(s, "Radio modem address set to %04X and stored.", s.gusModemMY);
    else Fail(s, "the radio modem did not confirm its new address %04X", wanted);
    if (s.gusModemMY == 0xFFFF) return;
    if (Device101KeepsItsChannel(s)) return;
    RecordChannel(s, ChannelFromAddress(s.gusModemMY));
    return;
  }
  if (s.gusModemMY != 0) Say(s, "Radio modem address %04X.", s.gusModemMY);
  // Step 11.
  if (Device101KeepsItsChannel(s)) return;
  if (UpToTenAttempts(s, ReadCH))
    Say(s, "Radio modem channel %u.", static_cast<unsigned>(s.gucModemCH));
  else
    Fail(s, "the radio modem did not tell its channel (CH); one is made from its address");
  if (s.gucModemCH == 0 || s.gucModemCH == 12)
    RecordChannel(s, ChannelFromAddress(s.gusModemMY));
  else
    RecordChannel(s, s.gucModemCH);
}

void StartUp(SetupState& s) {
  DecideIniCopies(s);
  const PathText ini = WorkingPath(s);
  const bool iniThere = s.store->FileExists(s.WorkingFilePath);
  if (!iniThere) Fail(s, "no QV121032.ini at %s: nothing can be recorded", ini.text);
  int port = Get_COM(s, kControlDevice);
  s.gcCOMPort = static_cast<int8_t>(port);
  if (port < 1 || port > 99) {
    s.gcCOMPort = 0;
    if (iniThere)
      Fail(s, "device %d in %s names no port COM1 to COM99 ([DeviceInformation%d] DeviceParams); "
              "the radio modem is not asked", kControlDevice, ini.text, kControlDevice);
    return;
  }
  Say(s, "Talking to the radio modem on COM%d ...", port);
  // Parity 0 = none, 8 data bits, 1 stop bit, 512-byte queues.
  const int opened = s.com->OpenComConfig(port, "", 115200, 0, 8, 1, 512, 512);
  if (opened != 0) {
    // Never opened: nothing to close.
    s.gcCOMPort = 0;
    if (opened == kComOpenNotFound) Fail(s, "COM%d: no such port", port);
    else if (opened == kComOpenBusy) Fail(s, "COM%d is in use by another program", port);
    else Fail(s, "COM%d cannot be opened", port);
    return;
  }
  s.com->InstallComCallback(port, kComEventRxChar, 0, 0, ProcessCOM, &s);
  UpToTenAttempts(s, ReadSH);
  UpToTenAttempts(s, ReadSL);
  if (s.guiSerHigh == 0 || s.guiSerHigh == 0xFFFFFFFFu)
    Fail(s, "no answer from a radio modem on COM%d", port);
  else
    Say(s, "Radio modem found: serial number %08X%08X.", static_cast<unsigned>(s.guiSerHigh),
        static_cast<unsigned>(s.guiSerLow));
  ChooseChannel(s);
  s.com->CloseCom(s.gcCOMPort);
}

int RunSetup(SetupState& s, int argc, char** argv) {
  char error[200];
  switch (ParseArgs(argc, argv, error, sizeof error)) {
    case ArgsAction::Help: {
      char ini[kPathSize];
      if (!s.store->ResolvePath(kIniFileName, ini, sizeof ini))
        std::snprintf(ini, sizeof ini, "%s", kIniFileName);
      if (s.report != nullptr) s.report->Progress(UsageText(ini).c_str());
      return 0;
    }
    case ArgsAction::Error:
      Fail(s, "%s", error);
      return kExitUsage;
    case ArgsAction::Run:
      break;
  }
  if (s.panel->InitRuntime(argc, argv) == 0) return kExitNoRuntime;
  PanelCallbacks cb;
  cb.serialNumber = serial_number;
  cb.change = Change;
  cb.panel = PanelCB;
  cb.callbackData = &s;
  s.giPanelHandle = s.panel->LoadPanel(kPanelResource, kPanelResourceId, cb);
  if (s.giPanelHandle < 0) return kExitNoRuntime;
  s.exitCode = kExitNoNumber;
  StartUp(s);
  s.panel->DisplayPanel(s.giPanelHandle);
  s.panel->RunUserInterface();
  s.panel->DiscardPanel(s.giPanelHandle);
  return s.exitCode;
}

int serial_number(int panel, int control, int event, void* callbackData, int, int) {
  if (event != EVENT_COMMIT) return 0;
  auto& s = *static_cast<SetupState*>(callbackData);
  char text[kSerialTextMax + 1] = {};
  s.panel->GetCtrlText(panel, control, text, sizeof text);
  int32_t number = 0;
  const bool valid =
      ParseSerialText(text, number) == SerialText::Number && IsValidSerialNumber(number);
  s.panel->SetCtrlAttribute(panel, PANEL_CHANGE, ATTR_DIMMED, valid ? 0 : 1);
  return 0;
}

int Change(int panel, int, int event, void* callbackData, int, int) {
  if (event != EVENT_COMMIT) return 0;
  auto& s = *static_cast<SetupState*>(callbackData);
  char text[kSerialTextMax + 1] = {};
  s.panel->GetCtrlText(panel, PANEL_SERIAL_NUMBER, text, sizeof text);
  int32_t number = 0;
  const SerialText kind = ParseSerialText(text, number);
  // Nothing typed: nothing to judge yet.
  if (kind == SerialText::Blank) return 0;
  if (kind == SerialText::NotANumber || !IsValidSerialNumber(number)) {
    char entered[kSerialTextMax + 1];
    if (kind == SerialText::Number) std::snprintf(entered, sizeof entered, "%d", number);
    else std::snprintf(entered, sizeof entered, "%s", text);
    char message[400];
    FormatInvalidSerialText(entered, message, sizeof message);
    s.panel->MessagePopup(kInvalidTitle, message);
    return 0;
  }
  bool ok = true;
  for (int c = 0; c < (s.IsVirtualFile ? 2 : 1); ++c) {
    if (c == 0) PointAtWindowsCopy(s);
    else PointAtVirtualCopy(s);
    const ListWrite w = ChangeAddressOfListedDevices(s, static_cast<uint32_t>(number));
    const PathText path = WorkingPath(s);
    if (w.writtenCount > 0) {
      const int8_t ch = Read_Device_Channel(s, w.written[0]);
      char channel[40] = "no radio channel";
      if (ch != 0) std::snprintf(channel, sizeof channel, "radio channel %d", ch);
      Say(s, "Address %d written for %s in %s (%s).", number,
          Devices(w.written, w.writtenCount).text, path.text, channel);
    }
    if (!w.Ok()) SayNothingWritten(s, w, path.text, "address");
    SaySkipped(s, w, path.text, "address");
    ok = ok && w.Ok();
  }
  s.exitCode = ok ? kExitWritten : kExitNotWritten;
  s.panel->QuitUserInterface(0);
  return 0;
}

int PanelCB(int, int event, void* callbackData, int, int) {
  if (event != EVENT_CLOSE) return 0;
  auto& s = *static_cast<SetupState*>(callbackData);
  if (s.exitCode == kExitNoNumber)
    Fail(s, "ended without a valid serial number: the adapter's address was not written");
  s.panel->QuitUserInterface(0);
  return 0;
}

}  // namespace qv::setup
