#include "context.h"

#include <cstring>
#include <new>

#include "qvlink/platform/profile.h"

namespace qv::rp1210 {
namespace {

Services DefaultServices() {
  return Services{&qv::platform::ReadProfileString, &qv::platform::VisitProcessModules, &qv::platform::TickMs,
                  &qv::platform::NowLocal};
}

Context g_context = [] {
  Context c{};
  c.services = DefaultServices();
  return c;
}();

}  // namespace

Context& Ctx() { return g_context; }

platform::Lock& EntryLock() {
  // Never destroyed: an application thread may come back from a blocking read and take it
  // while the process exits.
  alignas(platform::Lock) static unsigned char storage[sizeof(platform::Lock)];
  static platform::Lock* const lock = new (storage) platform::Lock;
  return *lock;
}

void ResetContext() {
  if (g_context.log.file != nullptr) std::fclose(g_context.log.file);
  const DriverApi* testApi = g_context.binding.testApi;
  g_context = Context{};
  g_context.services = DefaultServices();
  g_context.binding.testApi = testApi;
}

bool Contains(const char* text, const char* part) {
  return text != nullptr && part != nullptr && std::strstr(text, part) != nullptr;
}

}  // namespace qv::rp1210
