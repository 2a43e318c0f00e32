// Terminal panel: the panel's text and a "Serial #" prompt on standard input and output.
// Enter stands for the OK button (a terminal has no separate button to dim), so a typed line
// commits the number field and then presses OK; end of input closes the panel.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "panel.h"

namespace qv::setup {

namespace {

constexpr size_t kLineSize = 64;

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

// A whole signed 32-bit number with nothing else on the line but blanks.
bool ParseNumber(const char* text, int32_t& out) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text || errno == ERANGE) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
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
    char line[kLineSize];
    while (!quit_) {
      std::printf("%s: ", kSerialLabel);
      std::fflush(stdout);
      bool overlong = false;
      if (!ReadLine(line, sizeof line, overlong)) {
        std::printf("\n");
        if (cb_.panel) cb_.panel(kHandle, EVENT_CLOSE, cb_.callbackData, 0, 0);
        break;
      }
      int32_t v = 0;
      if (overlong || !ParseNumber(line, v)) {
        // Like a numeric control, the field takes whole numbers only.
        if (line[0] != '\0' || overlong) std::printf("Please type a whole number.\n");
        continue;
      }
      value_ = v;
      if (cb_.serialNumber)
        cb_.serialNumber(kHandle, PANEL_SERIAL_NUMBER, EVENT_COMMIT, cb_.callbackData, 0, 0);
      if (cb_.change) cb_.change(kHandle, PANEL_CHANGE, EVENT_COMMIT, cb_.callbackData, 0, 0);
    }
  }

  void QuitUserInterface(int) override { quit_ = true; }
  void DiscardPanel(int) override { std::fflush(stdout); }
  int32_t GetCtrlValInt(int, int control) override {
    return control == PANEL_SERIAL_NUMBER ? value_ : 0;
  }
  void SetCtrlAttribute(int, int, int, int) override {}

  void MessagePopup(const char* title, const char* text) override {
    std::printf("\n%s\n\n%s\n\n[%s] press Enter ", title, text, kChangeLabel);
    std::fflush(stdout);
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
    }
    std::printf("\n");
  }

 private:
  static constexpr int kHandle = 1;
  PanelCallbacks cb_;
  int32_t value_ = 0;
  bool quit_ = false;
};

}  // namespace

Panel& DefaultPanel() {
  static ConsolePanel panel;
  return panel;
}

}  // namespace qv::setup
