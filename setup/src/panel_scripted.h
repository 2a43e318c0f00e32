// A panel driven by a script of user actions, for tests: the event loop plays the actions in
// order and records what the program showed.
#pragma once
#include <string>
#include <vector>

#include "panel.h"

namespace qv::setup {

class ScriptedPanel final : public Panel {
 public:
  struct Action {
    enum Kind { Type, Commit, Close } kind;
    int control = 0;
    int32_t value = 0;
  };
  struct Popup {
    std::string title, text;
  };

  // Type a number into SERIAL_NUMBER, commit it, then press OK.
  void TypeAndOk(int32_t number);
  // Type a number and press OK without committing the field first.
  void TypeAndPressOk(int32_t number);
  // A press on a dimmed OK button delivers nothing, as on the real panel.
  size_t ignoredPresses = 0;
  void Add(Action a) { script_.push_back(a); }

  bool failInit = false;
  bool failLoad = false;

  // What happened.
  std::vector<Popup> popups;
  std::vector<int> dimmedHistory;   // values given to CHANGE's dimmed attribute
  bool displayed = false;
  bool discarded = false;
  bool quit = false;
  bool scriptExhausted = false;     // the loop ran out of actions and closed the panel
  size_t actionsPlayed = 0;

  int InitRuntime(int, char**) override { return failInit ? 0 : 1; }
  int LoadPanel(const char* resource, int resourceId, const PanelCallbacks& cb) override;
  void DisplayPanel(int) override { displayed = true; }
  void RunUserInterface() override;
  void QuitUserInterface(int) override { quit = true; }
  void DiscardPanel(int) override { discarded = true; }
  int32_t GetCtrlValInt(int, int control) override {
    return control == PANEL_SERIAL_NUMBER ? serial_ : 0;
  }
  void SetCtrlAttribute(int, int control, int attribute, int value) override {
    if (control == PANEL_CHANGE && attribute == ATTR_DIMMED) {
      dimmedHistory.push_back(value);
      changeDimmed_ = value != 0;
    }
  }
  void MessagePopup(const char* title, const char* text) override {
    popups.push_back({title, text});
  }

 private:
  std::vector<Action> script_;
  PanelCallbacks cb_;
  int32_t serial_ = 0;
  bool changeDimmed_ = false;
  static constexpr int kHandle = 1;
};

}  // namespace qv::setup
