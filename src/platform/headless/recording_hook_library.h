#pragma once

#include <string>

#include "platform/headless/journal.h"
#include "platform/hook_library.h"

namespace platform::headless {

// Records every call in the journal; AttachHook answers as the test sets.
class RecordingHookLibrary : public IHookLibrary {
 public:
  explicit RecordingHookLibrary(Journal& journal) : journal_(journal) {}

  bool attachResult = true;
  bool attached = false;
  WindowHandle attachedTo = nullptr;

  bool AttachHook(WindowHandle window) override {
    journal_.push_back("AttachHook");
    attached = attachResult;
    if (attached) attachedTo = window;
    return attachResult;
  }
  bool IsHookAttached() override {
    journal_.push_back("IsHookAttached");
    return attached;
  }
  void DetachHook() override {
    journal_.push_back("DetachHook");
    attached = false;
  }

 private:
  Journal& journal_;
};

}  // namespace platform::headless
