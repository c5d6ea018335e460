#include "platform/headless/headless_form.h"

#include <algorithm>

namespace platform::headless {

namespace {

constexpr unsigned kWmClose = 16;
std::uintptr_t g_nextFormHandle = 0x7000;

}  // namespace

HeadlessForm::HeadlessForm(HeadlessApplication& application, const FormDefinition& definition, IFormEvents& events)
    : application_(application),
      definition_(definition),
      events_(events),
      handle_(reinterpret_cast<WindowHandle>(g_nextFormHandle += 0x10)),
      messenger_(std::make_shared<HeadlessMessenger>(application, *this)) {}

HeadlessForm::~HeadlessForm() {
  messenger_->Forget();
  application_.ForgetForm(this);
}

std::shared_ptr<IWindowMessenger> HeadlessForm::Messenger() { return messenger_; }

bool HeadlessMessenger::Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::unique_lock<std::mutex> guard(lock_);
  if (form_ == nullptr || form_->Closed()) return false;
  if (application_->OnWindowThread()) {
    HeadlessForm* form = form_;
    guard.unlock();
    form->Deliver(message, wParam, lParam);
    return true;
  }
  // Queued while the lock keeps the form from going; waited for without it.
  auto done = application_->QueueSent(form_, message, wParam, lParam);
  guard.unlock();
  return done.get();
}

void HeadlessMessenger::Forget() {
  std::lock_guard<std::mutex> guard(lock_);
  form_ = nullptr;
}

void HeadlessForm::Show() {
  if (visible_) return;
  // The strip runs its show handler once; a dialog on every show.
  if (definition_.kind == FormKind::Dialog || showCount == 0) events_.FormShow();
  ++showCount;
  visible_ = true;
  application_.journal.push_back("visible " + definition_.caption);
}

void HeadlessForm::Hide() {
  if (!visible_) return;
  visible_ = false;
  application_.journal.push_back("hidden " + definition_.caption);
  if (definition_.kind == FormKind::Dialog) events_.FormHide();
}

void HeadlessForm::PostWindowMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  application_.Post({this, message, wParam, lParam});
}

void HeadlessForm::Deliver(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  if (closed_) return;
  if (events_.Dispatch(message, wParam, lParam)) return;
  if (message == kWmClose) {
    if (definition_.kind == FormKind::Dialog) {
      Hide();
    } else {
      visible_ = false;
      closed_ = true;
      application_.journal.push_back("closed " + definition_.caption);
    }
  }
}

std::unique_ptr<ITimer> HeadlessForm::CreateTimer(std::uint32_t interval, std::function<void()> onTick) {
  auto timer = std::make_unique<HeadlessTimer>(interval, std::move(onTick));
  timers.push_back(timer.get());
  return timer;
}

std::unique_ptr<IBrowser> HeadlessForm::CreateBrowser(Rect bounds) {
  auto created = std::make_unique<HeadlessBrowser>(application_.journal, bounds);
  browser = created.get();
  return created;
}

int HeadlessForm::PopupMenu(Point screen, const std::vector<MenuItem>& items) {
  std::vector<std::string> captions;
  for (const MenuItem& item : items) captions.push_back(item.caption);
  return application_.ChooseFromMenu(screen, captions);
}

}  // namespace platform::headless

namespace platform::headless {

IControl& HeadlessForm::AddControl(const ControlDefinition& definition, std::function<void()> onClick) {
  controls.push_back(std::make_unique<HeadlessControl>(definition, std::move(onClick)));
  return *controls.back();
}

void HeadlessForm::CenterOver(const IForm& other) {
  left_ = other.Left() + (other.Width() - Width()) / 2;
  top_ = other.Top() + (other.Height() - Height()) / 2;
}

HeadlessControl* HeadlessForm::ControlWithText(const std::string& text) {
  for (auto& control : controls) {
    if (control->Text() == text) return control.get();
  }
  return nullptr;
}

}  // namespace platform::headless
