#pragma once

#include <cstdint>

#include "base/messages.h"
#include "platform/form.h"

namespace platform {

// The one place where a form's private window messages become the typed calls of IFormEvents,
// used by every platform's window procedure. False for any other message.
inline bool DeliverPrivateMessage(IFormEvents& events, unsigned message, std::uintptr_t wParam) {
  if (message == lsv::WM_PAGE_EVENT) {
    events.OnPageEvent(wParam);
    return true;
  }
  if (message >= lsv::WM_HOOK_FIRST && message <= lsv::WM_HOOK_LAST) {
    events.OnHookNotify(message);
    return true;
  }
  return false;
}

inline constexpr unsigned kWmDisplayChange = 0x007E;  // Win32 WM_DISPLAYCHANGE

// The same for the system's messages the core acts on. The platform still gives them its
// default handling afterwards.
inline bool DeliverSystemMessage(IFormEvents& events, unsigned message) {
  if (message == kWmDisplayChange) {
    events.OnDisplayChange();
    return true;
  }
  return false;
}

}  // namespace platform
