// Drives the "QvLink Setup" dialog of another process with keys, as a person at the keyboard:
// each key goes to the control that has the focus, through the program's own message loop
// (WM_CHAR for characters and Backspace, WM_KEYDOWN/WM_KEYUP for Enter and Tab).
//   dialog_press.exe wait              waits (30 s) for the dialog to be shown, checks its texts,
//                                      OK dimmed over the empty field, the focus in the field
//   dialog_press.exe enter N [N ...]   types each entry into "Serial #", checking OK after each
//                                      entry. Every entry but the last is pressed with Enter and
//                                      must bring the "Invalid Serial Number" message, which is
//                                      dismissed with Enter and the field cleared with Backspace.
//                                      The last must enable OK; Tab goes to OK and back, and
//                                      Enter in the field ends the program.
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

// Polls a condition for up to `ms`: the other process handles each message in its own time.
template <typename F>
bool Within(DWORD ms, F condition) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(10);
  }
  return true;
}

HWND WaitForWindow(const char* title, DWORD ms) {
  HWND h = nullptr;
  return Within(ms, [&] { return (h = FindWindowA(nullptr, title)) != nullptr && IsWindowVisible(h); }) ? h : nullptr;
}

std::string TextOf(HWND window) {
  char text[512] = {};
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string TextOf(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }

// The control with the keyboard focus in the thread that owns `window`.
HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool OkEnabled(HWND d) { return IsWindowEnabled(GetDlgItem(d, IDC_CHANGE)) != FALSE; }

// Waits until the focus is inside `window` (a dialog gets it back after a message box).
HWND FocusInside(HWND window) {
  HWND f = nullptr;
  Within(5000, [&] {
    f = FocusOf(window);
    return f != nullptr && (f == window || IsChild(window, f));
  });
  return f;
}

// A key lands on the focused control; the caller waits for what it does.
void Key(HWND window, UINT vk) {
  HWND target = FocusInside(window);
  if (target == nullptr) target = window;
  // Repeat count 1 and the scan code; a key-up also has the previous-state and transition bits.
  const UINT down = 1u | (MapVirtualKeyA(vk, 0) & 0xFFu) << 16;
  PostMessageA(target, WM_KEYDOWN, vk, static_cast<LPARAM>(down));
  PostMessageA(target, WM_KEYUP, vk, static_cast<LPARAM>(down | 0xC0000000u));
}

// Types `entry` (or, with backspace, erases it) key by key into the focused control; then the
// field must show it. Which numbers OK takes is the flow's unit tests'; here OK is checked after
// each entry.
void Type(HWND d, const std::string& entry, const std::string& name, bool backspace = false) {
  HWND field = GetDlgItem(d, IDC_SERIAL_NUMBER);
  for (char c : entry) {
    HWND target = FocusInside(d);
    PostMessageA(target != nullptr ? target : field, WM_CHAR, static_cast<unsigned char>(backspace ? '\b' : c), 1);
  }
  const std::string now = backspace ? std::string() : entry;
  Check(Within(5000, [&] { return TextOf(field) == now; }), backspace ? "Backspace clears " + name : name + " typed",
        "the field shows \"" + TextOf(field) + "\"");
}

HWND Dialog() {
  HWND d = WaitForWindow("QvLink Setup", 30000);
  Check(d != nullptr, "the dialog is shown", "no visible window \"QvLink Setup\" within 30 s");
  return d;
}

int Wait() {
  HWND d = Dialog();
  if (d == nullptr) return 1;
  Check(TextOf(d, IDC_TEXTMSG) == "Enter the last 5 digits of the serial number on your QvLink, then click OK.",
        "the instruction text", TextOf(d, IDC_TEXTMSG));
  Check(TextOf(d, IDC_SERIAL_LABEL) == "Serial #", "the \"Serial #\" label", TextOf(d, IDC_SERIAL_LABEL));
  Check(TextOf(d, IDC_CHANGE) == "OK", "the OK button", TextOf(d, IDC_CHANGE));
  Check(!OkEnabled(d), "OK starts dimmed over the empty field");
  Check(FocusInside(d) == GetDlgItem(d, IDC_SERIAL_NUMBER), "the focus starts in the number field");
  return 0;
}

// One wrong entry: typed, judged as each key lands, refused by Enter with the message, which
// Enter dismisses; then cleared with Backspace.
void Refused(HWND d, const std::string& entry) {
  const std::string name = "\"" + entry + "\"";
  Type(d, entry, name);
  Check(!OkEnabled(d), name + " leaves OK dimmed", "OK enabled");
  Key(d, VK_RETURN);
  HWND box = WaitForWindow("Invalid Serial Number", 5000);
  Check(box != nullptr, "Enter on " + name + " shows \"Invalid Serial Number\"", "no message");
  if (box == nullptr) return;
  const std::string expected = "You entered: " + entry + ", which is not a valid serial number.";
  const std::string text = TextOf(box, 0xFFFF);
  Check(text.rfind(expected, 0) == 0, "the message names " + name, text);
  Key(box, VK_RETURN);
  Check(Within(5000, [&] { return !IsWindow(box); }), "Enter dismisses the message", "still shown");
  Check(FocusInside(d) == GetDlgItem(d, IDC_SERIAL_NUMBER), "the focus is back in the field");
  Type(d, entry, name, true);
}

int Enter(int count, char** entries) {
  HWND d = Dialog();
  if (d == nullptr) return 1;
  for (int i = 0; i + 1 < count; ++i) Refused(d, entries[i]);

  const std::string last = entries[count - 1];
  Type(d, last, "\"" + last + "\"");
  Check(Within(5000, [&] { return OkEnabled(d); }), "\"" + last + "\" enables OK", "OK still dimmed");
  HWND field = GetDlgItem(d, IDC_SERIAL_NUMBER), ok = GetDlgItem(d, IDC_CHANGE);
  Key(d, VK_TAB);
  Check(Within(5000, [&] { return FocusOf(d) == ok; }), "Tab moves to OK", "focus not on OK");
  Key(d, VK_TAB);
  Check(Within(5000, [&] { return FocusOf(d) == field; }), "Tab moves back to the field",
        "focus not in the field");
  Key(d, VK_RETURN);
  // The valid number ends the program: its dialog goes away.
  Check(Within(5000, [&] { return !IsWindow(d); }),
        "Enter on \"" + last + "\" is accepted: the dialog closes", "still open after 5 s");
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
