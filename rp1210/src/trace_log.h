// Trace log: one plain-text record per traced call, stamped with the millisecond tick.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::rp1210 {

constexpr size_t kConnectLineSize = 100;
constexpr size_t kDisconnectLineSize = 30;
constexpr size_t kCallLineSize = 1900;
constexpr size_t kHexDumpSize = 1800;  // 599 bytes of dump and its terminator
constexpr size_t kCallHeadSize = kCallLineSize - kHexDumpSize;  // a call record's fields

// Sets the mode from [Logging] of the configuration file; a sink that cannot be set up
// leaves logging off. Any file left open by an earlier connect is closed first.
void SetUpTraceLog(const char* loggingTypeText, bool loggingTypePresent, const char* iniFile);
void SwitchTraceLogOff();
bool TraceOn();
void WriteTraceLine(const char* line);
void CloseTraceLog();

// Writes one call's record: `head` (its fields, ending in "MSG=" or the like) followed by the
// hex dump of `count` bytes, cut to what a record holds.
void WriteTraceCall(const char* head, const uint8_t* bytes, int count);

// Lower-case hex, no leading zero, each byte followed by a space; cut to what out holds.
void HexDump(const uint8_t* bytes, int count, char* out, size_t outSize);

}  // namespace qv::rp1210
