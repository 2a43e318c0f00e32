#include "panel_scripted.h"

#include <cstring>

namespace qv::setup {

void ScriptedPanel::TypeAndOk(int32_t number) {
  Add({Action::Type, PANEL_SERIAL_NUMBER, number});
  Add({Action::Commit, PANEL_SERIAL_NUMBER, 0});
  Add({Action::Commit, PANEL_CHANGE, 0});
}

void ScriptedPanel::TypeAndPressOk(int32_t number) {
  Add({Action::Type, PANEL_SERIAL_NUMBER, number});
  Add({Action::Commit, PANEL_CHANGE, 0});
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
        serial_ = a.value;
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
