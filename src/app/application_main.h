#pragma once

#include "app/main_form.h"
#include "platform/application.h"

namespace lsv::app {

// The body of WinMain: initialise the application, create the strip and the settings dialog,
// run the message loop. Errors that leave those steps end in an error box. Always returns 0.
// The strip's listener opens initialListenerPort at construction (tests pass 0 for a free one).
int RunApplication(platform::IApplication& application, int initialListenerPort = kInitialListenerPort);

}  // namespace lsv::app
