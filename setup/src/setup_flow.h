// The pairing flow of QvLink Setup: start-up modem exchange and channel, then the panel.
#pragma once
#include <cstddef>
#include <cstdint>

#include "setup_state.h"

namespace qv::setup {

constexpr int kAttempts = 10;
constexpr uint32_t kDefaultChannel = 13;
constexpr const char* kInvalidTitle = "Invalid Serial Number";

// The program: gives the exit code (-1 when the run-time or the panel cannot be loaded, else 0).
int RunSetup(SetupState& s, int argc, char** argv);

// Steps 3 to 12: INI copies, modem exchange and channel; the port is closed on return.
void StartUp(SetupState& s);

// Steps 8 to 11 once SH and SL have been queried: the channel outcome.
void ChooseChannel(SetupState& s);

// (MY AND 15) mod 10 + 13.
uint32_t ChannelFromAddress(uint16_t my);

bool IsValidSerialNumber(int32_t number);
// The message text for an invalid number; gives the length written (cut to size).
size_t FormatInvalidSerialText(int32_t number, char* out, size_t size);

// Panel callbacks; callbackData is the SetupState.
int serial_number(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int Change(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int PanelCB(int panel, int event, void* callbackData, int eventData1, int eventData2);

}  // namespace qv::setup
