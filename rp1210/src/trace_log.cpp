#include "trace_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config.h"
#include "context.h"

namespace qv::rp1210 {
namespace {

// Path names may be longer than the 64-character key buffer; cutting one would log elsewhere.
constexpr uint32_t kFileNameSize = 260;

bool OpenFileSink(const char* iniFile) {
  char name[kFileNameSize] = {};
  const uint32_t n = Ctx().services.readProfile("Logging", "FileName", kAbsentText, name, sizeof name, iniFile);
  if (n == 0 || std::strcmp(name, kAbsentText) == 0) return false;
  FILE* f = std::fopen(name, "a+");
  if (f == nullptr) return false;
  Ctx().log.file = f;
  const qv::platform::LocalTime t = Ctx().services.localTime();
  std::fputs("VKL LOG File\n", f);
  std::fprintf(f, "%d-%d-%d  %d:%d:%d\n", t.month, t.day, t.year, t.hour, t.minute, t.second);
  return true;
}

bool FindSocketSink(const char* iniFile) {
  char value[kConfigValueSize] = {};
  const uint32_t n = Ctx().services.readProfile("Logging", "Socket", kAbsentText, value, sizeof value, iniFile);
  return n != 0 && std::strcmp(value, kAbsentText) != 0;
}

}  // namespace

void SwitchTraceLogOff() {
  TraceLog& log = Ctx().log;
  log.mode = 0;
  if (log.file != nullptr) {
    std::fclose(log.file);
    log.file = nullptr;
  }
}

void SetUpTraceLog(const char* loggingTypeText, bool loggingTypePresent, const char* iniFile) {
  SwitchTraceLogOff();
  if (!loggingTypePresent) return;
  TraceLog& log = Ctx().log;
  log.mode = static_cast<uint8_t>(ParseDecimal(loggingTypeText));
  switch (log.mode) {
    case 1:
      if (!OpenFileSink(iniFile)) log.mode = 0;
      break;
    case 2:
      if (!FindSocketSink(iniFile)) log.mode = 0;
      break;
    case 4:
      // A file opened before the socket lookup failed keeps its header and gets no lines.
      if (!OpenFileSink(iniFile) || !FindSocketSink(iniFile)) log.mode = 0;
      break;
    default:
      log.mode = 0;
      break;
  }
}

bool TraceOn() {
  const TraceLog& log = Ctx().log;
  return (log.mode == 1 || log.mode == 4) && log.file != nullptr;
}

void WriteTraceLine(const char* line) {
  if (!TraceOn()) return;
  FILE* f = Ctx().log.file;
  std::fprintf(f, "%x", static_cast<unsigned>(Ctx().services.tick()));
  std::fputc('\n', f);
  std::fputs(line, f);
  std::fputc('\n', f);
}

void CloseTraceLog() {
  TraceLog& log = Ctx().log;
  if (log.file != nullptr) {
    std::fclose(log.file);
    log.file = nullptr;
  }
}

void WriteTraceCall(const char* head, const uint8_t* bytes, int count) {
  char dump[kHexDumpSize];
  HexDump(bytes, count, dump, sizeof dump);
  char line[kCallLineSize];
  std::snprintf(line, sizeof line, "%s%s", head, dump);
  WriteTraceLine(line);
}

void HexDump(const uint8_t* bytes, int count, char* out, size_t outSize) {
  if (outSize == 0) return;
  out[0] = 0;
  if (bytes == nullptr || count <= 0) return;
  size_t used = 0;
  for (int i = 0; i < count; ++i) {
    char piece[4];
    const int n = std::snprintf(piece, sizeof piece, "%x ", static_cast<unsigned>(bytes[i]));
    if (n <= 0 || used + static_cast<size_t>(n) >= outSize) break;  // whole pieces only
    std::memcpy(out + used, piece, static_cast<size_t>(n));
    used += static_cast<size_t>(n);
    out[used] = 0;
  }
}

}  // namespace qv::rp1210
