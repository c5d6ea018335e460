#include "app/error_reporting.h"

#include "platform/error.h"

namespace lsv::app {

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.')) {
    return message + ".";
  }
  return message;
}

void ShowLibraryError(platform::IApplication& application, const std::exception_ptr& error) {
  std::string text;
  try {
    std::rethrow_exception(error);
  } catch (const platform::Error& e) {
    text = e.what();
  } catch (...) {
    // Anything that is not a library error is replaced by one with an empty message.
  }
  try {
    application.ShowErrorBox(ErrorBoxText(text));
  } catch (...) {
    // Reporting must never throw out of a guard; a box that cannot be shown is lost.
  }
}

void ShowCException(platform::IApplication& application, const CException& error) {
  application.ShowMessage(error.GetText());
}

}  // namespace lsv::app
