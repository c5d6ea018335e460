#include "app/main_form.h"

#include <optional>
#include <string>
#include <utility>

#include "app/error_reporting.h"
#include "base/messages.h"
#include "platform/form_messages.h"
#include "platform/window_services.h"
#include "settings/settings_file.h"

namespace lsv::app {

namespace {

platform::FormDefinition StripDefinition() {
  return {platform::FormKind::Strip, kStripCaption, kStripClientWidth, kStripClientHeight};
}

constexpr unsigned kRestackFlags = platform::kSwpNoSize | platform::kSwpNoMove | platform::kSwpNoActivate;

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
      WinampLookup_Timer(form_->CreateTimer(kWinampLookupInterval,
                                            [this] { RunGuarded(app_, [this] { WinampLookup_TimerTimer(); }); })),
      docking_(application.WindowServices()) {
  MouseMove_Timer->SetEnabled(false);
  Refresh_Timer->SetEnabled(false);
  Chase_Timer->SetEnabled(false);
  WinampLookup_Timer->SetEnabled(false);
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
  return platform::DeliverPrivateMessage(*this, message, wParam);
}

void TMainForm::OnPageEvent(std::uintptr_t token) {
  // Any program can send a 1025; only one that names a hand-over in flight carries a command.
  RunGuarded(app_, [&] {
    if (const std::optional<COMMAND> command = pageEvents_->Receive(token)) OnCommand(*command);
  });
}

void TMainForm::FormShow() {
  if (shown_) return;
  shown_ = true;
  // Only library errors can leave the sequence; they end it at that step, and the strip is
  // still shown.
  RunGuarded(app_, [this] { ShowSequence(); });
  // Where the system placed the strip, or where a monitor that has gone left it.
  RunGuarded(app_, [this] { KeepOnDesktop(); });
}

void TMainForm::ShowSequence() {
  // The look for Winamp runs until a hook attaches, here or later: Winamp may not have started
  // yet, and a sequence ended early by an error still leaves a strip that can dock.
  WinampLookup_Timer->SetEnabled(true);
  app_.SetOnActivate([this] { RunGuarded(app_, [this] { AppActivate(); }); });

  const std::string settingsPath = app_.ModuleDirectory() + settings::kSettingsFileName;
  LoadSettings(settingsPath);
  settingForm_->SetSettingsFile(settingsPath);

  Refresh_Timer->SetInterval(settings::RefreshTimerInterval(settings_.refreshInterval));
  Refresh_Timer->SetEnabled(true);

  IdHTTPServer.SetDefaultPort(settings::ListenerPort(settings_.serverPort));

  const std::string& page = std::get<std::string>(settings_.displayPage);
  pageEvents_->SetPageOrigin(events::HttpOrigin(page));
  CppWebBrowser->Navigate(page);

  docking_.Clear();

  CatchCException(app_, [this] {
    lsvutil::CWinamp& winamp = docking_.Winamp();
    winamp.Refresh();
    if (winamp.valid) {
      if (app_.HookLibrary().AttachHook(Handle())) {
        WinampLookup_Timer->SetEnabled(false);
      } else {
        app_.ShowMessage("Error");
      }
    }
  });
}

void TMainForm::LoadSettings(const std::string& path) {
  const settings::LoadContext context{app_.ModuleDirectory(), app_.DecimalSeparator(), app_.Files(),
                                      [this] { return app_.CreateXmlDocument(); }};
  settings::LoadSettings(*XMLDocument, path, context, settings_);
}

settings::SettingFormHost TMainForm::SettingHost() {
  return {*form_, [this](const std::function<void()>& work) { RunGuarded(app_, work); },
          [this] { A_Refresh.Execute(); }};
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
      // The menu opens where mousePos says, as the drag's grab offset is kept there too.
      docking::DockingState state = docking_.State();
      state.mousePos = form_->ClientToScreen(client);
      docking_.SetState(state);
      A_OpenMenu.Execute();
    }
  });
}

void TMainForm::Refresh_TimerTimer() { A_Refresh.Execute(); }

void TMainForm::A_RefreshExecute() { CppWebBrowser->Refresh(); }

void TMainForm::A_CloseExecute() {
  platform::IHookLibrary& hook = app_.HookLibrary();
  if (hook.IsHookAttached()) hook.DetachHook();
  WinampLookup_Timer->SetEnabled(false);
  form_->Hide();
  IdHTTPServer.SetActive(false);
  form_->PostClose();
}

void TMainForm::A_OpenSettingExecute() {
  form_->SetEnabled(false);
  settingForm_->Show();
}

void TMainForm::A_OpenMenuExecute() {
  const platform::Point at = docking_.State().mousePos;
  PopupMenu.Popup(at.x, at.y);
}

docking::StripGeometry TMainForm::Geometry() const {
  return {{form_->Left(), form_->Top()}, form_->Width(), form_->Height()};
}

void TMainForm::BeginDrag(std::int32_t x, std::int32_t y) {
  // A failure here leaves before the drag begins, with the grab offset as it was.
  docking_.BeginDrag({x + CppWebBrowser->Left(), y + CppWebBrowser->Top()});
  MouseMove_Timer->SetEnabled(true);
}

void TMainForm::EndDrag() { MouseMove_Timer->SetEnabled(false); }

void TMainForm::MouseMove_TimerTimer() {
  platform::IWindowServices& windows = app_.WindowServices();
  // A lost "mouseup" ends the drag at the first tick after the button is up.
  if (windows.GetKeyState(platform::kVkLButton) >= 0) {
    MouseMove_Timer->SetEnabled(false);
    return;
  }
  const docking::StripGeometry strip = Geometry();
  const platform::Point to = docking_.DragTick(strip, windows.GetCursorPos());
  if (to != strip.position) form_->MoveTo(to);
}

void TMainForm::Chase_TimerTimer() { ChaseWinamp(); }

void TMainForm::ChaseWinamp() {
  if (const std::optional<platform::Point> to = docking_.Chase()) {
    if (*to != platform::Point{form_->Left(), form_->Top()}) form_->MoveTo(*to);
  }
}

void TMainForm::OnHookNotify(unsigned message) {
  RunGuarded(app_, [&] {
    CatchCException(app_, [&] {
      platform::IHookLibrary& hook = app_.HookLibrary();
      switch (message) {
        case WM_CHASE_START:
          Chase_Timer->SetEnabled(true);
          break;
        case WM_CHASE_STOP:
          ChaseWinamp();
          Chase_Timer->SetEnabled(false);
          break;
        case WM_UNDOCK:
          docking_.Undock();
          Chase_Timer->SetEnabled(false);
          break;
        case WM_HOOK_DETACH:
          if (hook.IsHookAttached()) hook.DetachHook();
          // Winamp has closed: look for the next one.
          WinampLookup_Timer->SetEnabled(true);
          break;
        case WM_HOOK_REATTACH:
          if (hook.IsHookAttached()) {
            hook.DetachHook();
            // No box for a failure here; the look for Winamp tries again.
            if (!hook.AttachHook(Handle())) WinampLookup_Timer->SetEnabled(true);
          }
          break;
        case WM_REFIT_BOTTOM:
          if (const std::optional<platform::Point> to = docking_.Refit(Geometry())) form_->MoveTo(*to);
          break;
        case WM_RESTACK:
          app_.WindowServices().SetWindowPos(Handle(), docking_.Winamp().main.hwnd, 0, 0, 0, 0, kRestackFlags);
          break;
        default:  // WM_HOOK_NOTHING: taken, no reaction
          break;
      }
    });
  });
}

void TMainForm::WinampLookup_TimerTimer() {
  // A drag snaps to the window set it began with; the look waits for the drop.
  if (MouseMove_Timer->Enabled()) return;
  if (!docking_.LookUpWinamp()) return;
  // A library that cannot attach yet is asked again at the next look, without a box: no box
  // appears for a Winamp that comes or goes after start.
  if (app_.HookLibrary().AttachHook(Handle())) WinampLookup_Timer->SetEnabled(false);
}

void TMainForm::OnDisplayChange() {
  RunGuarded(app_, [this] { KeepOnDesktop(); });
}

void TMainForm::KeepOnDesktop() {
  if (const std::optional<platform::Point> to = docking_.KeepOnDesktop(Geometry())) {
    Chase_Timer->SetEnabled(false);
    form_->MoveTo(*to);
  }
}

void TMainForm::AppActivate() {
  const lsvutil::CWinamp& winamp = docking_.Winamp();
  if (!winamp.valid) return;
  app_.WindowServices().SetWindowPos(winamp.main.hwnd, Handle(), 0, 0, 0, 0, kRestackFlags);
}

}  // namespace lsv::app
