#include "app/main_form.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "app/error_reporting.h"
#include "app/messages.h"
#include "app/number_text.h"
#include "platform/error.h"
#include "settings/setting_form.h"
#include "settings/settings_file.h"

namespace lsv::app {

namespace {

platform::FormDefinition StripDefinition() {
  return {platform::FormKind::Strip, kStripCaption, kStripClientWidth, kStripClientHeight};
}

}  // namespace

TMainForm::TMainForm(platform::IApplication& application, int initialListenerPort)
    : app_(application),
      form_(application.CreateForm(StripDefinition(), *this)),
      pageEvents_(std::make_shared<events::TPageEvents>(form_->Messenger())),
      CppWebBrowser(form_->CreateBrowser(kBrowserBounds)),
      MouseMove_Timer(
          form_->CreateTimer(kMouseMoveInterval, [this] { RunGuarded(app_, [this] { MouseMove_TimerTimer(); }); })),
      XMLDocument(application.CreateXmlDocument()),
      PopupMenu(*form_),
      A_Close("閉じる", [this] { A_CloseExecute(); }),
      A_OpenSetting("設定", [this] { A_OpenSettingExecute(); }),
      N1(&A_OpenSetting),
      N2(nullptr),
      N3(&A_Close),
      A_OpenMenu("メニューを開く", [this] { A_OpenMenuExecute(); }),
      Refresh_Timer(
          form_->CreateTimer(kInitialRefreshInterval, [this] { RunGuarded(app_, [this] { Refresh_TimerTimer(); }); })),
      A_Refresh("更新", [this] { A_RefreshExecute(); }),
      N4(&A_Refresh),
      Chase_Timer(form_->CreateTimer(kChaseInterval, [this] { RunGuarded(app_, [this] { Chase_TimerTimer(); }); })),
      winamp(application.WindowServices()) {
  MouseMove_Timer->SetEnabled(false);
  Refresh_Timer->SetEnabled(false);
  Chase_Timer->SetEnabled(false);
  for (TAction* action : {&A_Close, &A_OpenSetting, &A_OpenMenu, &A_Refresh}) ActionManager.Add(*action);
  PopupMenu.SetItems({&N1, &N4, &N2, &N3});
  // The listener opens its port only once the whole definition is applied, so it sees the port
  // and the handler; a port that cannot be opened ends the construction.
  // The handler holds the page-event object, not the strip: its threads may outlive the strip.
  IdHTTPServer.OnCommandGet = [pageEvents = pageEvents_](events::TConnectionThread& thread,
                                                         events::THttpRequest& request,
                                                         events::THttpResponse& response) {
    pageEvents->CommandGet(thread, request, response);
  };
  // Only this machine may drive the strip, so other hosts are not even read from: they cannot
  // hold a connection slot or a thread.
  IdHTTPServer.AcceptFrom = events::IsLocalPeer;
  IdHTTPServer.SetDefaultPort(initialListenerPort);
  IdHTTPServer.SetActive(true);
}

// The hook library is deliberately not called here: closing goes through A_Close.
TMainForm::~TMainForm() = default;

bool TMainForm::Dispatch(unsigned message, std::uintptr_t wParam, std::intptr_t) {
  if (message == WM_PAGE_EVENT) {
    // Any program can send a 1025; only one that names a hand-over in flight carries a command.
    RunGuarded(app_, [&] {
      if (const std::optional<COMMAND> command = pageEvents_->Receive(wParam)) OnCommand(*command);
    });
    return true;
  }
  if (message >= WM_HOOK_FIRST && message <= WM_HOOK_LAST) {
    RunGuarded(app_, [&] { OnHookNotify(message); });
    return true;
  }
  return false;
}

void TMainForm::FormShow() {
  // Only library errors can leave the sequence; they end it at that step, and the strip is
  // still shown.
  RunGuarded(app_, [this] { ShowSequence(); });
}

void TMainForm::ShowSequence() {
  app_.SetOnActivate([this] { RunGuarded(app_, [this] { AppActivate(); }); });

  const std::string settingsPath = app_.ModuleDirectory() + settings::kSettingsFileName;
  LoadSettings(settingsPath);
  SettingForm->SetSettingsFile(settingsPath);

  Refresh_Timer->SetInterval(RefreshTimerInterval(refreshInterval));
  Refresh_Timer->SetEnabled(true);

  IdHTTPServer.SetDefaultPort(ListenerPort(serverPort));

  pageEvents_->SetPageOrigin(events::HttpOrigin(std::get<std::string>(displayPage)));
  CppWebBrowser->Navigate(std::get<std::string>(displayPage));

  ClearDockingState();

  CatchCException(app_, [this] {
    winamp.Refresh();
    if (winamp.valid) {
      if (!app_.HookLibrary().AttachHook(Handle())) app_.ShowMessage("Error");
    }
  });
}

void TMainForm::ClearDockingState() {
  docked = false;
  dockedTo = 0;
  snapLeft = false;
  snapRight = false;
  snapTop = false;
  snapBottom = false;
}

void TMainForm::LoadSettings(const std::string& path) {
  platform::IXmlDocument& document = *XMLDocument;
  document.Load(path);
  const auto root = document.DocumentElement();

  if (const auto page = settings::LookUpKey(document, root, "disphtml")) {
    displayPage = *page;
  } else {
    const std::string defaultPage = app_.ModuleDirectory() + settings::kDefaultDisplayPage;
    displayPage = defaultPage;
    settings::WriteKey(document, root, "disphtml", defaultPage);
    document.Save(path);
  }

  const std::string interval = settings::ValueToText(settings::LookUpKey(document, root, "refresh_interval"),
                                                     "refresh_interval");
  refreshInterval = TextToFloat(interval, app_.DecimalSeparator()) * 1000.0;

  serverPort = settings::ValueToText(settings::LookUpKey(document, root, "port"), "port");
}

void TMainForm::IdHTTPServerCommandGet(events::TConnectionThread& AThread, events::THttpRequest& RequestInfo,
                                       events::THttpResponse& ResponseInfo) {
  pageEvents_->CommandGet(AThread, RequestInfo, ResponseInfo);
}

void TMainForm::OnCommand(const COMMAND& command) {
  CatchCException(app_, [&] {
    if (command.name != events::kEventName) return;
    if (command.type == "mousedown") {
      const std::int32_t x = events::EventArgument(command.arg1);
      const std::int32_t y = events::EventArgument(command.arg2);
      BeginDrag(x, y);
    } else if (command.type == "mouseup") {
      EndDrag();
    } else if (command.type == "close") {
      A_Close.Execute();
    } else if (command.type == "refresh") {
      A_Refresh.Execute();
    } else if (command.type == "openmenu") {
      const platform::Point client{events::EventArgument(command.arg1) + CppWebBrowser->Left(),
                                   events::EventArgument(command.arg2) + CppWebBrowser->Top()};
      mousePos = form_->ClientToScreen(client);
      A_OpenMenu.Execute();
    }
  });
}

void TMainForm::Refresh_TimerTimer() { A_Refresh.Execute(); }

void TMainForm::A_RefreshExecute() { CppWebBrowser->Refresh(); }

void TMainForm::A_CloseExecute() {
  platform::IHookLibrary& hook = app_.HookLibrary();
  if (hook.IsHookAttached()) hook.DetachHook();
  form_->Hide();
  IdHTTPServer.SetActive(false);
  form_->PostWindowMessage(WM_CLOSE_MESSAGE, 0, 0);
}

void TMainForm::A_OpenSettingExecute() {
  form_->SetEnabled(false);
  SettingForm->Show();
}

void TMainForm::A_OpenMenuExecute() { PopupMenu.Popup(mousePos.x, mousePos.y); }

std::uint32_t RefreshTimerInterval(const TMainForm::Variant& refreshInterval) {
  const double* milliseconds = std::get_if<double>(&refreshInterval);
  if (milliseconds == nullptr) throw platform::Error("The refresh interval has no value");
  // Rounded to the nearest whole millisecond, ties to even.
  const double rounded = std::nearbyint(*milliseconds);
  if (!(rounded >= 0.0 && rounded <= static_cast<double>(std::numeric_limits<std::uint32_t>::max()))) {
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%g", *milliseconds / 1000.0);
    throw platform::Error(std::string("The refresh interval of ") + seconds +
                          " seconds is out of range (0 to 4294967.295 seconds)");
  }
  return static_cast<std::uint32_t>(rounded);
}

int ListenerPort(const TMainForm::Variant& serverPort) {
  const std::string* text = std::get_if<std::string>(&serverPort);
  if (text == nullptr) throw platform::Error("The port setting has no value");
  const std::int32_t port = TextToInteger(*text);
  if (port < 1 || port > 65535) {
    throw platform::Error("Port " + std::to_string(port) + " is out of range (1 to 65535)");
  }
  return port;
}

}  // namespace lsv::app
