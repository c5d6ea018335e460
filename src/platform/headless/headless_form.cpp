#include "platform/headless/headless_form.h"

#include <algorithm>

#include "base/messages.h"
#include "platform/form_messages.h"

namespace platform::headless {

namespace {

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

bool HeadlessMessenger::SendPageEvent(std::uintptr_t token) {
  const unsigned message = lsv::WM_PAGE_EVENT;
  const std::uintptr_t wParam = token;
  const std::intptr_t lParam = 0;
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
  events_.FormShow();
  ++showCount;
  visible_ = true;
  application_.journal.push_back("visible " + definition_.caption);
}

void HeadlessForm::Hide() {
  if (!visible_) return;
  events_.FormHide();
  visible_ = false;
  application_.journal.push_back("hidden " + definition_.caption);
}

void HeadlessForm::PostClose() { application_.Post({this, lsv::WM_CLOSE_MESSAGE, 0, 0}); }

void HeadlessForm::Deliver(unsigned message, std::uintptr_t wParam, std::intptr_t) {
  if (closed_) return;
  if (DeliverPrivateMessage(events_, message, wParam)) return;
  if (DeliverSystemMessage(events_, message)) return;
  if (message == lsv::WM_CLOSE_MESSAGE && events_.FormCloseQuery()) {
    visible_ = false;
    closed_ = true;
    application_.journal.push_back("closed " + definition_.caption);
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
