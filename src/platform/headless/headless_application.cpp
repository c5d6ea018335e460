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

bool HeadlessApplication::DrainPosted() {
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

int HeadlessApplication::ChooseFromMenu(Point at, const std::vector<std::string>& captions) {
  menus.push_back({at, captions});
  journal.push_back("menu");
  return menuChoice ? menuChoice(menus.back()) : -1;
}

}  // namespace platform::headless
