// QvLink Setup: pairs the PC's radio modem with one QvLink adapter.
#include "panel.h"
#include "report.h"
#include "settings_store.h"
#include "setup_flow.h"

int main(int argc, char** argv) {
  qv::setup::SetupState state;
  state.panel = &qv::setup::DefaultPanel();
  state.com = &qv::setup::PlatformComLink();
  state.store = &qv::setup::PlatformSettingsStore();
  state.report = &qv::setup::StdioReporter();
  return qv::setup::RunSetup(state, argc, argv);
}
