#include "platform/headless/headless_application.h"

#include <algorithm>
#include <stdexcept>

#include "platform/headless/headless_form.h"

namespace platform::headless {

HeadlessApplication::HeadlessApplication() = default;
HeadlessApplication::~HeadlessApplication() = default;

void HeadlessApplication::Initialize() { journal.push_back("initialize"); }

std::unique_ptr<IForm> HeadlessApplication::CreateForm(const FormDefinition& definition, IFormEvents& events) {
  auto form = std::make_unique<HeadlessForm>(*this, definition, events);
  if (mainForm == nullptr) mainForm = form.get();
  forms.push_back(form.get());
  journal.push_back("create " + definition.caption);
  return form;
}

void HeadlessApplication::ForgetForm(HeadlessForm* form) {
  {
    std::lock_guard<std::mutex> guard(sentLock_);
    for (auto& sent : sent_) {
      if (sent->form == form) sent->done.set_value(false);
    }
    std::erase_if(sent_, [form](const auto& sent) { return sent->form == form; });
  }
  forms.erase(std::remove(forms.begin(), forms.end(), form), forms.end());
  std::erase_if(posted_, [form](const Posted& p) { return p.form == form; });
  if (mainForm == form) mainForm = nullptr;
}

void HeadlessApplication::Run() {
  if (mainForm == nullptr) throw std::logic_error("Run without a main form");
  mainForm->Show();
  while (DrainPosted()) {
    if (!onIdle || !onIdle()) return;
  }
}

std::future<bool> HeadlessApplication::QueueSent(HeadlessForm* form, unsigned message, std::uintptr_t wParam,
                                                std::intptr_t lParam) {
  auto sent = std::make_unique<Sent>(Sent{form, message, wParam, lParam, {}});
  std::future<bool> done = sent->done.get_future();
  {
    std::lock_guard<std::mutex> guard(sentLock_);
    sent_.push_back(std::move(sent));
  }
  sentArrived_.notify_all();
  return done;
}

int HeadlessApplication::PumpSent(std::chrono::milliseconds wait) {
  int delivered = 0;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    std::unique_ptr<Sent> next;
    {
      std::unique_lock<std::mutex> guard(sentLock_);
      if (delivered == 0) sentArrived_.wait_until(guard, deadline, [this] { return !sent_.empty(); });
      if (sent_.empty()) return delivered;
      next = std::move(sent_.front());
      sent_.pop_front();
    }
    const bool open = !next->form->Closed();
    if (open) next->form->Deliver(next->message, next->wParam, next->lParam);
    next->done.set_value(open);
    ++delivered;
  }
}

bool HeadlessApplication::DrainPosted() {
  PumpSent();
  while (!posted_.empty()) {
    const Posted next = posted_.front();
    posted_.pop_front();
    next.form->Deliver(next.message, next.wParam, next.lParam);
    if (next.form == mainForm && mainForm->Closed()) {
      mainFormClosed = true;
      return false;
    }
  }
  return !mainFormClosed;
}

void HeadlessApplication::ShowMessage(const std::string& text) {
  journal.push_back("message " + text);
  messages.push_back(text);
  if (whileBoxOpen) whileBoxOpen(text);
}

void HeadlessApplication::ShowErrorBox(const std::string& text) {
  journal.push_back("error " + text);
  errorBoxes.push_back(text);
  if (whileBoxOpen) whileBoxOpen(text);
}

std::unique_ptr<IXmlDocument> HeadlessApplication::CreateXmlDocument() {
  if (!xmlDocumentFactory) throw std::logic_error("no XML document factory set");
  return xmlDocumentFactory();
}

IFiles& HeadlessApplication::Files() {
  if (files == nullptr) throw std::logic_error("no file operations set");
  return *files;
}

void HeadlessApplication::Hover(const IControl& control) {
  const auto& definition = dynamic_cast<const HeadlessControl&>(control).Definition();
  if (!hintsEnabled || definition.hint.empty()) return;
  std::string hint = definition.hint;
  bool canShow = true;
  if (onShowHint_) onShowHint_(hint, canShow);
  if (canShow) hintPopups.push_back(hint);
}

int HeadlessApplication::ChooseFromMenu(Point at, const std::vector<std::string>& captions) {
  menus.push_back({at, captions});
  journal.push_back("menu");
  return menuChoice ? menuChoice(menus.back()) : -1;
}

}  // namespace platform::headless
