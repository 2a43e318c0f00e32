// Client notification: a registered window message posted to the client's window.
#include "qvlink/platform/notify.h"

#include <windows.h>

namespace qv::platform {

uint32_t RegisterNotifyMessage(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  return static_cast<uint32_t>(RegisterWindowMessageA(name));
}

bool PostNotify(WindowHandle window, uint32_t messageId) {
  if (window == nullptr || messageId == 0) return false;
  return PostMessageA(static_cast<HWND>(window), messageId, 0, 0) != 0;
}

}  // namespace qv::platform
