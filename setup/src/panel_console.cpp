// Terminal panel: the panel's text and a "Serial #" prompt on standard input and output.
// Enter stands for the OK button (a terminal has no separate button to dim), so a typed line
// is put into the number field, committed, and OK pressed; end of input closes the panel.
// Input may be typed or piped: every line is a number as typed, and messages never read input.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "panel.h"

namespace qv::setup {

namespace {

constexpr size_t kLineSize = 256;
constexpr size_t kFieldSize = 32;  // what the number field holds, terminator included

// Reads one line into buf; the rest of an overlong line is discarded. False at end of input.
bool ReadLine(char* buf, size_t size, bool& overlong) {
  overlong = false;
  if (std::fgets(buf, static_cast<int>(size), stdin) == nullptr) return false;
  size_t len = std::strlen(buf);
  if (len > 0 && buf[len - 1] == '\n') {
    buf[--len] = '\0';
  } else if (len == size - 1) {
    overlong = true;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
    }
  }
  if (len > 0 && buf[len - 1] == '\r') buf[--len] = '\0';
  return true;
}

class ConsolePanel final : public Panel {
 public:
  int InitRuntime(int, char**) override { return 1; }

  int LoadPanel(const char* resource, int resourceId, const PanelCallbacks& cb) override {
    if (resource == nullptr || std::strcmp(resource, kPanelResource) != 0 ||
        resourceId != kPanelResourceId)
      return -1;
    cb_ = cb;
    return kHandle;
  }

  void DisplayPanel(int) override {
    std::printf("%s\n\n%s\n", kPanelTitle, kPanelText);
    std::fflush(stdout);
  }

  void RunUserInterface() override {
    quit_ = false;
    const bool typed = isatty(STDIN_FILENO) == 1;
    char line[kLineSize];
    while (!quit_) {
      std::printf("%s: ", kSerialLabel);
      std::fflush(stdout);
      bool overlong = false;
      if (!ReadLine(line, sizeof line, overlong)) {
        std::printf("\n");
        std::fflush(stdout);
        if (cb_.panel) cb_.panel(kHandle, EVENT_CLOSE, cb_.callbackData, 0, 0);
        break;
      }
      // Piped lines are shown after the prompt, as a terminal would have echoed them.
      if (!typed) std::printf("%s\n", line);
      // The field holds what fits; a longer line is kept as text that reads as no number.
      const size_t length = std::strlen(line);
      if (overlong || length >= kFieldSize) {
        std::memcpy(field_, line, kFieldSize - 4);
        std::memcpy(field_ + kFieldSize - 4, "...", 4);
      } else {
        std::memcpy(field_, line, length + 1);
      }
      if (cb_.serialNumber)
        cb_.serialNumber(kHandle, PANEL_SERIAL_NUMBER, EVENT_COMMIT, cb_.callbackData, 0, 0);
      if (cb_.change) cb_.change(kHandle, PANEL_CHANGE, EVENT_COMMIT, cb_.callbackData, 0, 0);
    }
  }

  void QuitUserInterface(int) override { quit_ = true; }
  void DiscardPanel(int) override { std::fflush(stdout); }
  size_t GetCtrlText(int, int control, char* out, size_t size) override {
    if (size == 0) return 0;
    const int n = std::snprintf(out, size, "%s", control == PANEL_SERIAL_NUMBER ? field_ : "");
    return n < 0 ? 0 : (static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1);
  }
  void SetCtrlAttribute(int, int, int, int) override {}

  // Shown and done: the next line typed is the next number, not a dismissal.
  void MessagePopup(const char* title, const char* text) override {
    std::printf("\n%s\n\n%s\n\n", title, text);
    std::fflush(stdout);
  }

 private:
  static constexpr int kHandle = 1;
  PanelCallbacks cb_;
  char field_[kFieldSize] = {};
  bool quit_ = false;
};

}  // namespace

Panel& DefaultPanel() {
  static ConsolePanel panel;
  return panel;
}

}  // namespace qv::setup
