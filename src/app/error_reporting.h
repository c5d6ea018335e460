#pragma once

#include <exception>
#include <string>

#include "base/exception.h"
#include "platform/application.h"

namespace lsv::app {

// The error box's text: a full stop is appended when the message is not empty and its last
// character sorts after "." (so "...done." gets no second one and "" stays empty).
std::string ErrorBoxText(const std::string& message);

// Shows an error in the error box, as the toolkit's guards do: a platform::Error with its own
// message, anything else with no text.
void ShowLibraryError(platform::IApplication& application, const std::exception_ptr& error);

// Shows an lsv::CException in the plain message dialog, text unchanged.
void ShowCException(platform::IApplication& application, const CException& error);

// The toolkit's guard around a window message, a show handler or a timer tick: a library error
// ends up in the error box and the window thread goes on. lsv::CException is the handlers' own
// business; one that escapes anyway is reported the same way rather than crossing the window
// procedure.
template <typename F>
void RunGuarded(platform::IApplication& application, F&& work) noexcept {
  try {
    work();
  } catch (...) {
    ShowLibraryError(application, std::current_exception());
  }
}

// The guard of the window-message handlers and of the show sequence's Winamp block: catches
// lsv::CException only and shows it in a message dialog. Returns false when it caught one.
template <typename F>
bool CatchCException(platform::IApplication& application, F&& work) {
  try {
    work();
    return true;
  } catch (const CException& error) {
    ShowCException(application, error);
    return false;
  }
}

}  // namespace lsv::app
