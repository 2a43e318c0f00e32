// Drives the "QvLink Setup" dialog of another process by window messages.
//   dialog_press.exe wait                 waits (30 s) for the dialog to be shown, checks its texts
//   dialog_press.exe enter N [N ...]      types each number in "Serial #" and presses OK; every
//                                         number but the last must leave OK dimmed
// Prints "ok NAME" or "FAIL NAME: why" per check and "N passed, N failed"; exit 1 on a failure.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "resource.h"

namespace {

int passed = 0, failed = 0;

void Check(bool ok, const std::string& name, const std::string& why = "") {
  if (ok) ++passed, std::printf("ok %s\n", name.c_str());
  else ++failed, std::printf("FAIL %s: %s\n", name.c_str(), why.c_str());
  std::fflush(stdout);
}

HWND WaitForDialog(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    HWND h = FindWindowA(nullptr, "QvLink Setup");
    if (h != nullptr && IsWindowVisible(h)) return h;
    if (GetTickCount() - start > ms) return nullptr;
    Sleep(20);
  }
}

std::string TextOf(HWND dialog, int id) {
  char text[256] = {};
  SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

void Press(HWND dialog, int id) {
  // What a click sends the dialog: BN_CLICKED from the button.
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

int Wait() {
  HWND d = WaitForDialog(30000);
  Check(d != nullptr, "the dialog is shown", "no visible window \"QvLink Setup\" within 30 s");
  if (d == nullptr) return 1;
  Check(TextOf(d, IDC_TEXTMSG) == "Enter the last 5 digits of the serial number on your QvLink, then click OK.",
        "the instruction text", TextOf(d, IDC_TEXTMSG));
  Check(TextOf(d, IDC_SERIAL_LABEL) == "Serial #", "the \"Serial #\" label", TextOf(d, IDC_SERIAL_LABEL));
  Check(TextOf(d, IDC_CHANGE) == "OK", "the OK button", TextOf(d, IDC_CHANGE));
  Check(IsWindowEnabled(GetDlgItem(d, IDC_CHANGE)) != FALSE, "OK starts enabled");
  return 0;
}

int Enter(int count, char** numbers) {
  HWND d = WaitForDialog(30000);
  Check(d != nullptr, "the dialog is there", "no visible window \"QvLink Setup\"");
  if (d == nullptr) return 1;
  for (int i = 0; i < count; ++i) {
    const bool last = i == count - 1;
    SendMessageA(GetDlgItem(d, IDC_SERIAL_NUMBER), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(numbers[i]));
    Press(d, IDC_CHANGE);
    if (!last) {
      Check(IsWindow(d) && IsWindowEnabled(GetDlgItem(d, IDC_CHANGE)) == FALSE,
            std::string("serial number ") + numbers[i] + " refused: OK dimmed", "OK still enabled or dialog gone");
    }
  }
  // The valid number ends the program: its dialog goes away.
  const DWORD start = GetTickCount();
  while (IsWindow(d) && GetTickCount() - start < 10000) Sleep(20);
  Check(!IsWindow(d), std::string("serial number ") + numbers[count - 1] + " accepted: the dialog closes",
        "still open after 10 s");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "wait") Wait();
  else if (mode == "enter" && argc > 2) Enter(argc - 2, argv + 2);
  else {
    std::fprintf(stderr, "usage: dialog_press.exe wait | enter N [N ...]\n");
    return 2;
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
