#pragma once

#include <utility>

namespace lsv {

// Runs a function when the scope ends, however it ends; Release keeps it from running. For the
// brackets that must close on every path: a flag set for a while, a temporary file removed
// unless it was kept.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F onExit) : onExit_(std::move(onExit)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (active_) onExit_();
  }
  void Release() { active_ = false; }

 private:
  F onExit_;
  bool active_ = true;
};

}  // namespace lsv
