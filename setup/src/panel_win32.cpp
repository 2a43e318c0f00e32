// Win32 dialog panel, built from the resource script. This file is a platform back end: CMake
// compiles it only for Windows, in place of the terminal panel.
#include <windows.h>

#include <cerrno>
#include <cstdlib>
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
    ShowWindow(hwnd_, SW_SHOW);
    SetFocus(GetDlgItem(hwnd_, IDC_SERIAL_NUMBER));
  }

  void RunUserInterface() override {
    quit_ = false;
    MSG msg;
    while (!quit_ && GetMessageA(&msg, nullptr, 0, 0) > 0) {
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

  int32_t GetCtrlValInt(int, int control) override {
    if (control != PANEL_SERIAL_NUMBER) return 0;
    char text[32] = {};
    GetDlgItemTextA(hwnd_, IDC_SERIAL_NUMBER, text, sizeof text);
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (end == text) return 0;
    // The field holds a 32-bit integer, as a numeric control would.
    if (errno == ERANGE || v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
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
          self->edited_ = true;
        } else if (id == IDC_SERIAL_NUMBER && code == EN_KILLFOCUS) {
          self->CommitNumber();
        } else if ((id == IDC_CHANGE || id == IDOK) && code == BN_CLICKED) {
          // Enter in the field commits it before the default button acts.
          self->CommitNumber();
          if (IsWindowEnabled(GetDlgItem(hwnd, IDC_CHANGE)) && self->cb_.change)
            self->cb_.change(kHandle, PANEL_CHANGE, EVENT_COMMIT, self->cb_.callbackData, 0, 0);
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
    if (!edited_) return;
    edited_ = false;
    if (cb_.serialNumber)
      cb_.serialNumber(kHandle, PANEL_SERIAL_NUMBER, EVENT_COMMIT, cb_.callbackData, 0, 0);
  }

  void Close() {
    if (cb_.panel) cb_.panel(kHandle, EVENT_CLOSE, cb_.callbackData, 0, 0);
  }

  static constexpr int kHandle = 1;
  HINSTANCE instance_ = nullptr;
  HWND hwnd_ = nullptr;
  PanelCallbacks cb_;
  bool quit_ = false;
  bool edited_ = false;
};

}  // namespace

Panel& DefaultPanel() {
  static DialogPanel panel;
  return panel;
}

}  // namespace qv::setup
