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
    // Type: the field's text becomes `text`, and is committed as the dialog does on each
    // change. Commit: a click on `control` (not delivered to a dimmed OK). Enter: the Enter
    // key in the field, which reaches Change whether or not OK is dimmed.
    enum Kind { Type, Commit, Enter, Close } kind;
    int control = 0;
    std::string text;
  };
  struct Popup {
    std::string title, text;
  };

  // Type a text into SERIAL_NUMBER, then click OK.
  void TypeAndOk(const std::string& text);
  // Type a text into SERIAL_NUMBER, then press Enter.
  void TypeAndEnter(const std::string& text);
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
  size_t GetCtrlText(int, int control, char* out, size_t size) override;
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
  std::string serial_;
  bool changeDimmed_ = false;
  static constexpr int kHandle = 1;
};

}  // namespace qv::setup
