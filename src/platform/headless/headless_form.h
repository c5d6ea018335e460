#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/form.h"
#include "platform/headless/headless_application.h"

namespace platform::headless {

class HeadlessForm;

// Sends to a headless form: directly on the window thread, from other threads through the
// application's queue of sent messages, which the window thread delivers when it pumps.
class HeadlessMessenger final : public IWindowMessenger {
 public:
  HeadlessMessenger(HeadlessApplication& application, HeadlessForm& form) : application_(&application), form_(&form) {}

  bool SendPageEvent(std::uintptr_t token) override;
  void Forget();

 private:
  std::mutex lock_;
  HeadlessApplication* application_;
  HeadlessForm* form_;
};

// A control without a screen: its definition and its text; the test clicks and hovers.
class HeadlessControl final : public IControl {
 public:
  HeadlessControl(const ControlDefinition& definition, std::function<void()> onClick)
      : definition_(definition), text_(definition.text), onClick_(std::move(onClick)) {}
  std::string Text() const override { return text_; }
  void SetText(const std::string& text) override { text_ = text; }
  const ControlDefinition& Definition() const { return definition_; }
  void Click() {
    if (onClick_) onClick_();
  }

 private:
  ControlDefinition definition_;
  std::string text_;
  std::function<void()> onClick_;
};

// A form without a screen. Left and Top start at the system's default place for a pop-up (0, 0);
// the outer size equals the client size (no frame).
class HeadlessForm : public IForm {
 public:
  HeadlessForm(HeadlessApplication& application, const FormDefinition& definition, IFormEvents& events);
  ~HeadlessForm() override;

  WindowHandle Handle() const override { return handle_; }
  int Left() const override { return left_; }
  int Top() const override { return top_; }
  int Width() const override { return definition_.clientWidth; }
  int Height() const override { return definition_.clientHeight; }
  // Each counts as one move of the window, as it would be one on Windows.
  void SetLeft(int left) override { MoveTo({left, top_}); }
  void SetTop(int top) override { MoveTo({left_, top}); }
  void MoveTo(Point position) override {
    left_ = position.x;
    top_ = position.y;
    ++moves;
  }
  Point ClientToScreen(Point client) const override { return {client.x + left_, client.y + top_}; }

  void Show() override;
  void Hide() override;
  bool Visible() const override { return visible_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const override { return enabled_; }

  void PostClose() override;
  std::shared_ptr<IWindowMessenger> Messenger() override;

  std::unique_ptr<ITimer> CreateTimer(std::uint32_t interval, std::function<void()> onTick) override;
  std::unique_ptr<IBrowser> CreateBrowser(Rect bounds) override;
  int PopupMenu(Point screen, const std::vector<MenuItem>& items) override;
  IControl& AddControl(const ControlDefinition& definition, std::function<void()> onClick) override;
  void CenterOver(const IForm& other) override;

  // Delivers a message as the window procedure would: the private messages as typed calls, and a
  // close request (WM_CLOSE) through FormCloseQuery; anything else is ignored.
  void Deliver(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

  const FormDefinition& Definition() const { return definition_; }
  IFormEvents& Events() { return events_; }
  bool Closed() const { return closed_; }
  // The components this form created, for the test to drive.
  std::vector<HeadlessTimer*> timers;
  HeadlessBrowser* browser = nullptr;
  std::vector<std::unique_ptr<HeadlessControl>> controls;
  // The control showing that text, or nullptr.
  HeadlessControl* ControlWithText(const std::string& text);
  int showCount = 0;
  // Moves of the window, each SetLeft, SetTop or MoveTo.
  int moves = 0;

 private:
  HeadlessApplication& application_;
  FormDefinition definition_;
  IFormEvents& events_;
  WindowHandle handle_;
  int left_ = 0;
  int top_ = 0;
  bool visible_ = false;
  bool enabled_ = true;
  bool closed_ = false;
  std::shared_ptr<HeadlessMessenger> messenger_;
};


}  // namespace platform::headless
