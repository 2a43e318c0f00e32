#include "panel_scripted.h"

#include <cstring>

namespace qv::setup {

void ScriptedPanel::TypeAndOk(const std::string& text) {
  Add({Action::Type, PANEL_SERIAL_NUMBER, text});
  Add({Action::Commit, PANEL_CHANGE, {}});
}

void ScriptedPanel::TypeAndEnter(const std::string& text) {
  Add({Action::Type, PANEL_SERIAL_NUMBER, text});
  Add({Action::Enter, PANEL_SERIAL_NUMBER, {}});
}

size_t ScriptedPanel::GetCtrlText(int, int control, char* out, size_t size) {
  if (size == 0) return 0;
  const std::string& t = control == PANEL_SERIAL_NUMBER ? serial_ : std::string();
  const size_t n = t.size() < size - 1 ? t.size() : size - 1;
  std::memcpy(out, t.data(), n);
  out[n] = '\0';
  return n;
}

int ScriptedPanel::LoadPanel(const char* resource, int resourceId, const PanelCallbacks& cb) {
  if (failLoad || resource == nullptr || std::strcmp(resource, kPanelResource) != 0 ||
      resourceId != kPanelResourceId)
    return -1;
  cb_ = cb;
  return kHandle;
}

void ScriptedPanel::RunUserInterface() {
  quit = false;
  while (!quit) {
    if (actionsPlayed == script_.size()) {
      // Nothing more to do: the user closes the window.
      scriptExhausted = true;
      if (cb_.panel) cb_.panel(kHandle, EVENT_CLOSE, cb_.callbackData, 0, 0);
      break;
    }
    const Action a = script_[actionsPlayed++];
    switch (a.kind) {
      case Action::Type:
        serial_ = a.text;
        if (cb_.serialNumber)
          cb_.serialNumber(kHandle, PANEL_SERIAL_NUMBER, EVENT_COMMIT, cb_.callbackData, 0, 0);
        break;
      case Action::Enter:
        if (cb_.change) cb_.change(kHandle, PANEL_CHANGE, EVENT_COMMIT, cb_.callbackData, 0, 0);
        break;
      case Action::Commit:
        if (a.control == PANEL_SERIAL_NUMBER && cb_.serialNumber)
          cb_.serialNumber(kHandle, a.control, EVENT_COMMIT, cb_.callbackData, 0, 0);
        else if (a.control == PANEL_CHANGE && changeDimmed_)
          ++ignoredPresses;
        else if (a.control == PANEL_CHANGE && cb_.change)
          cb_.change(kHandle, a.control, EVENT_COMMIT, cb_.callbackData, 0, 0);
        break;
      case Action::Close:
        if (cb_.panel) cb_.panel(kHandle, EVENT_CLOSE, cb_.callbackData, 0, 0);
        break;
    }
  }
}

}  // namespace qv::setup
