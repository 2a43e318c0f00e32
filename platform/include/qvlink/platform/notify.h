// Client notification. Win32: a registered window message posted to the client's HWND.
// POSIX: the window value is a file descriptor; each notification writes one 8-byte
// integer 1 to it (an eventfd or a pipe both work). A window value of 0 means none.
// Posting never blocks, as PostMessageA does not: a descriptor that cannot take a write now
// (a full pipe, a saturated eventfd) already holds notifications, and this one counts as posted.
#pragma once
#include <cstdint>

namespace qv::platform {

using WindowHandle = void*;

// Registers (Win32) or names (POSIX: a constant non-zero id) the notification message.
// Returns 0 on failure.
uint32_t RegisterNotifyMessage(const char* name);

// Posts one notification with wParam 0 and lParam 0. Returns false when it could not be posted,
// and for window 0 or message id 0.
bool PostNotify(WindowHandle window, uint32_t messageId);

}  // namespace qv::platform
