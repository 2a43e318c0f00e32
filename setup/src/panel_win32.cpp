// Win32 dialog panel, built from the resource script. This file is a platform back end: CMake
// compiles it only for Windows, in place of the terminal panel.
//
// The number is judged as it is typed: every change of the field commits it, so OK is enabled
// exactly while the field holds a valid number. Enter in the field presses OK even while it is
// dimmed, so an invalid number gets its message instead of a silent, dimmed button.
#include <windows.h>

#include <cstring>

#include "panel.h"
#include "resource.h"

namespace qv::setup {

namespace {

class DialogPanel final : public Panel {
 public:
  int InitRuntime(int, char**) override {
    instance_ = GetModuleHandleA(nullptr);
    return instance_ != nullptr ? 1 : 0;
  }

  int LoadPanel(const char* resource, int resourceId, const PanelCallbacks& cb) override {
    if (resource == nullptr || std::strcmp(resource, kPanelResource) != 0 ||
        resourceId != kPanelResourceId)
      return -1;
    cb_ = cb;
    hwnd_ = CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_QVLINK_SETUP), nullptr, DlgProc,
                               reinterpret_cast<LPARAM>(this));
    return hwnd_ != nullptr ? kHandle : -1;
  }

  void DisplayPanel(int) override {
    // The field's length bounds what Change reads back; OK follows the (empty) field.
    SendDlgItemMessageA(hwnd_, IDC_SERIAL_NUMBER, EM_LIMITTEXT, kFieldChars, 0);
    CommitNumber();
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    SetFocus(GetDlgItem(hwnd_, IDC_SERIAL_NUMBER));
  }

  void RunUserInterface() override {
    quit_ = false;
    MSG msg;
    while (!quit_ && GetMessageA(&msg, nullptr, 0, 0) > 0) {
      // Enter in the field: the dialog manager would drop it while OK is dimmed.
      if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN &&
          msg.hwnd == GetDlgItem(hwnd_, IDC_SERIAL_NUMBER)) {
        PressOk();
        continue;
      }
      if (!IsDialogMessageA(hwnd_, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
  }

  void QuitUserInterface(int) override { quit_ = true; }

  void DiscardPanel(int) override {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }

  size_t GetCtrlText(int, int control, char* out, size_t size) override {
    if (size == 0) return 0;
    out[0] = '\0';
    if (control != PANEL_SERIAL_NUMBER || hwnd_ == nullptr) return 0;
    const int cap = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    const UINT n = GetDlgItemTextA(hwnd_, IDC_SERIAL_NUMBER, out, cap);
    out[size - 1] = '\0';
    return n < size ? n : size - 1;
  }

  void SetCtrlAttribute(int, int control, int attribute, int value) override {
    if (control == PANEL_CHANGE && attribute == ATTR_DIMMED)
      EnableWindow(GetDlgItem(hwnd_, IDC_CHANGE), value == 0 ? TRUE : FALSE);
  }

  void MessagePopup(const char* title, const char* text) override {
    MessageBoxA(hwnd_, text, title, MB_OK | MB_ICONWARNING);
  }

 private:
  static INT_PTR CALLBACK DlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
      SetWindowLongPtrA(hwnd, DWLP_USER, lp);
      return TRUE;
    }
    auto* self = reinterpret_cast<DialogPanel*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;
    switch (msg) {
      case WM_COMMAND: {
        const int id = LOWORD(wp);
        const int code = HIWORD(wp);
        if (id == IDC_SERIAL_NUMBER && code == EN_CHANGE) {
          self->CommitNumber();
        } else if ((id == IDC_CHANGE || id == IDOK) && code == BN_CLICKED) {
          // A click reaches here only while OK is enabled; Enter on a focused OK as well.
          self->PressOk();
        } else if (id == IDCANCEL) {
          self->Close();
        }
        return TRUE;
      }
      case WM_CLOSE:
        self->Close();
        return TRUE;
      default:
        return FALSE;
    }
  }

  void CommitNumber() {
    if (cb_.serialNumber)
      cb_.serialNumber(kHandle, PANEL_SERIAL_NUMBER, EVENT_COMMIT, cb_.callbackData, 0, 0);
  }

  void PressOk() {
    if (cb_.change) cb_.change(kHandle, PANEL_CHANGE, EVENT_COMMIT, cb_.callbackData, 0, 0);
  }

  void Close() {
    if (cb_.panel) cb_.panel(kHandle, EVENT_CLOSE, cb_.callbackData, 0, 0);
  }

  static constexpr int kHandle = 1;
  static constexpr WPARAM kFieldChars = 31;
  HINSTANCE instance_ = nullptr;
  HWND hwnd_ = nullptr;
  PanelCallbacks cb_;
  bool quit_ = false;
};

}  // namespace

Panel& DefaultPanel() {
  static DialogPanel panel;
  return panel;
}

}  // namespace qv::setup
