#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <thread>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/headless/headless_window_services.h"
#include "platform/headless/journal.h"
#include "platform/headless/recording_hook_library.h"

namespace platform::headless {

class HeadlessForm;

// Timers the test ticks by hand.
class HeadlessTimer : public ITimer {
 public:
  HeadlessTimer(std::uint32_t interval, std::function<void()> onTick) : interval_(interval), onTick_(std::move(onTick)) {}

  void SetInterval(std::uint32_t milliseconds) override { interval_ = milliseconds; }
  std::uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool Enabled() const override { return enabled_; }

  // Delivers one tick if the timer would tick at all (enabled, interval above 0). True if it did.
  bool Tick() {
    if (!enabled_ || interval_ == 0) return false;
    onTick_();
    return true;
  }

 private:
  std::uint32_t interval_;
  bool enabled_ = true;
  std::function<void()> onTick_;
};

// A browser that records what it was asked to show.
class HeadlessBrowser : public IBrowser {
 public:
  HeadlessBrowser(Journal& journal, Rect bounds) : journal_(journal), bounds_(bounds) {}

  int Left() const override { return bounds_.left; }
  int Top() const override { return bounds_.top; }
  void Navigate(const std::string& uri) override {
    journal_.push_back("navigate " + uri);
    navigations.push_back(uri);
  }
  void Refresh() override {
    journal_.push_back("refresh");
    ++refreshes;
  }

  Rect Bounds() const { return bounds_; }
  std::vector<std::string> navigations;
  int refreshes = 0;

 private:
  Journal& journal_;
  Rect bounds_;
};

// The toolkit's application object without a screen: boxes and menus are recorded and answered
// as the test scripted, posted messages wait in a queue that Run or the test drains.
class HeadlessApplication : public IApplication {
 public:
  struct Posted {
    HeadlessForm* form;
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
  struct MenuShown {
    Point at;
    std::vector<std::string> captions;
  };

  HeadlessApplication();
  ~HeadlessApplication() override;

  void Initialize() override;
  std::unique_ptr<IForm> CreateForm(const FormDefinition& definition, IFormEvents& events) override;
  void Run() override;
  void ShowMessage(const std::string& text) override;
  void ShowErrorBox(const std::string& text) override;
  void SetOnActivate(std::function<void()> handler) override { onActivate_ = std::move(handler); }
  void SetHints(bool enabled, std::uint32_t delayMs, HintHandler onShowHint) override {
    hintsEnabled = enabled;
    hintDelayMs = delayMs;
    onShowHint_ = std::move(onShowHint);
  }
  // The mouse comes to rest on a control: its hint goes through the handler, and a pop-up is
  // recorded when the handler leaves it allowed.
  void Hover(const IControl& control);
  std::string ModuleDirectory() override { return moduleDirectory; }
  std::string DecimalSeparator() override { return decimalSeparator; }
  std::unique_ptr<IXmlDocument> CreateXmlDocument() override;
  IFiles& Files() override;
  IWindowServices& WindowServices() override { return windows; }
  IHookLibrary& HookLibrary() override { return hook; }

  // Delivers every posted message in order; false once the main form has closed.
  bool DrainPosted();
  // Raises the application's activation event, as switching to the program would.
  void Activate() {
    if (onActivate_) onActivate_();
  }
  bool HasActivateHandler() const { return static_cast<bool>(onActivate_); }

  // Delivers the messages other threads have sent, in order, waiting up to `wait` for the first.
  // The number delivered.
  int PumpSent(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
  bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }

  // Called by forms.
  std::future<bool> QueueSent(HeadlessForm* form, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
  void Post(const Posted& posted) { posted_.push_back(posted); }
  void ForgetForm(HeadlessForm* form);
  int ChooseFromMenu(Point at, const std::vector<std::string>& captions);

  Journal journal;
  HeadlessWindowServices windows{journal};
  RecordingHookLibrary hook{journal};
  std::string moduleDirectory = "/lsv/";
  std::string decimalSeparator = ".";
  std::function<std::unique_ptr<IXmlDocument>()> xmlDocumentFactory;
  // The system's file operations the settings file is saved with; tests set them with the DOM.
  IFiles* files = nullptr;

  std::vector<std::string> messages;
  std::vector<std::string> errorBoxes;
  // Runs inside a message dialog's or error box's modal loop, as messages arriving meanwhile would.
  std::function<void(const std::string&)> whileBoxOpen;
  // The menu's answer: the index of the item to choose, or -1 to dismiss it.
  std::function<int(const MenuShown&)> menuChoice;
  std::vector<MenuShown> menus;
  bool hintsEnabled = false;
  std::uint32_t hintDelayMs = 0;
  std::vector<std::string> hintPopups;
  // Called by Run when no message is waiting; returning false ends Run (the test's way out).
  std::function<bool()> onIdle;

  HeadlessForm* mainForm = nullptr;
  std::vector<HeadlessForm*> forms;
  bool mainFormClosed = false;

 private:
  struct Sent {
    HeadlessForm* form;
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::promise<bool> done;
  };

  std::function<void()> onActivate_;
  HintHandler onShowHint_;
  std::deque<Posted> posted_;
  std::thread::id windowThread_ = std::this_thread::get_id();
  std::mutex sentLock_;
  std::condition_variable sentArrived_;
  std::deque<std::unique_ptr<Sent>> sent_;
};

}  // namespace platform::headless
