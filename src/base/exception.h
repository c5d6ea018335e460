#pragma once

#include <string>

namespace lsv {

// The system's own error. Deliberately without a base class: a handler for library errors
// (std::exception and platform::Error) must not catch it, and a handler for it catches nothing else.
class CException {
 public:
  explicit CException(std::string text) : message(std::move(text)) {}
  CException(const CException&) = default;
  CException& operator=(const CException&) = default;
  virtual ~CException() = default;

  std::string GetText() const { return message; }

 private:
  std::string message;
};

}  // namespace lsv
