#pragma once

#include <windows.h>

#include <memory>

#include "platform/browser.h"
#include "platform/types.h"

namespace platform::win32 {

// The Internet Explorer WebBrowser control, hosted in place in a child area of parent at bounds
// (client coordinates). Needs OLE initialised on the calling (window) thread.
std::unique_ptr<IBrowser> CreateWebBrowser(HWND parent, Rect bounds);

}  // namespace platform::win32
