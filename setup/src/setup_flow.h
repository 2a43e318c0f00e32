// The pairing flow of QvLink Setup: start-up modem exchange and channel, then the panel.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "setup_state.h"

namespace qv::setup {

constexpr int kAttempts = 10;
constexpr uint32_t kDefaultChannel = 13;
constexpr const char* kInvalidTitle = "Invalid Serial Number";
// Longest text the serial number field takes.
constexpr size_t kSerialTextMax = 31;

// Exit codes.
constexpr int kExitWritten = 0;     // the adapter's address was written into every copy in use
constexpr int kExitNotWritten = 1;  // a number was taken but the address could not be written
constexpr int kExitUsage = 2;       // wrong arguments; nothing was touched
constexpr int kExitNoNumber = 3;    // the panel was closed (end of input) before a valid number
constexpr int kExitNoRuntime = -1;  // the run-time or the panel could not be loaded

enum class ArgsAction { Run, Help, Error };
// Reads the command line: no arguments runs the program, --help or -h asks for the usage;
// anything else is an error, described in `error`.
ArgsAction ParseArgs(int argc, char** argv, char* error, size_t errorSize);
// The --help text; iniPath is where QV121032.ini is looked for.
std::string UsageText(const char* iniPath);

// The program: gives the exit code.
int RunSetup(SetupState& s, int argc, char** argv);

// Steps 3 to 12: INI copies, modem exchange and channel; the port is closed on return.
void StartUp(SetupState& s);

// Steps 8 to 11 once SH and SL have been queried: the channel outcome.
void ChooseChannel(SetupState& s);

// (MY AND 15) mod 10 + 13.
uint32_t ChannelFromAddress(uint16_t my);

enum class SerialText { Blank, NotANumber, Number };
// The field's text: blank, a whole signed 32-bit number with nothing but blanks around it, or
// anything else ("4321abc", "12.5", a number past 32 bits).
SerialText ParseSerialText(const char* text, int32_t& number);
bool IsValidSerialNumber(int32_t number);
// The message text for an invalid entry, `entered` standing where the number goes; gives the
// length written (cut to size).
size_t FormatInvalidSerialText(const char* entered, char* out, size_t size);

// Panel callbacks; callbackData is the SetupState.
int serial_number(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int Change(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int PanelCB(int panel, int event, void* callbackData, int eventData1, int eventData2);

}  // namespace qv::setup
