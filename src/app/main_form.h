#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/actions.h"
#include "docking/docking.h"
#include "events/http_listener.h"
#include "events/page_events.h"
#include "platform/application.h"
#include "platform/browser.h"
#include "platform/form.h"
#include "platform/timer.h"
#include "platform/types.h"
#include "platform/xml_document.h"
#include "settings/setting_form.h"
#include "settings/strip_settings.h"

namespace lsv::app {

inline constexpr const char* kStripCaption = "Velkor Latest Song Viewer";
inline constexpr int kStripClientWidth = 275;
inline constexpr int kStripClientHeight = 14;
// The browser is two pixels larger than the client area on every side so its own edge is hidden.
inline constexpr platform::Rect kBrowserBounds{-2, -2, -2 + kStripClientWidth + 4, -2 + kStripClientHeight + 4};

inline constexpr int kInitialListenerPort = 22222;  // until the port setting applies
inline constexpr std::uint32_t kMouseMoveInterval = 10;
inline constexpr std::uint32_t kInitialRefreshInterval = 30000;
inline constexpr std::uint32_t kChaseInterval = 15;
// How often the strip looks for Winamp while no hook is attached: Winamp may start after the
// strip, or close and start again. Each look is one window look-up while Winamp is away.
inline constexpr std::uint32_t kWinampLookupInterval = 1000;

// The strip: a borderless window whose whole surface is the browser showing the display page. It
// composes the rest: the page events arrive through the page-event object, the drag and the
// following are the docking object's rules, the settings are read by the settings rules; this
// class holds the components and runs the handlers on the window thread.
class TMainForm : public platform::IFormEvents {
 public:
  // A page event handed to the window thread.
  using COMMAND = events::COMMAND;
  using Variant = settings::Variant;

  // The listener opens initialListenerPort at construction (tests pass 0 for a free port).
  explicit TMainForm(platform::IApplication& application, int initialListenerPort = kInitialListenerPort);
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;
  virtual ~TMainForm();

  // IFormEvents: the show sequence runs at the first show only; closing the strip ends the program.
  void FormShow() override;
  void FormHide() override {}
  bool FormCloseQuery() override { return true; }
  void OnPageEvent(std::uintptr_t token) override;
  void OnHookNotify(unsigned message) override;
  // A strip the change left wholly off the desktop comes back onto it.
  void OnDisplayChange() override;

  // The strip's message routing in one call: 1025 and 1026 to 1033 as the platform delivers
  // them; false for every other message.
  bool Dispatch(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

  // The handlers, by their names in the window definition.
  void LoadSettings(const std::string& path);
  void IdHTTPServerCommandGet(events::TConnectionThread& AThread, events::THttpRequest& RequestInfo,
                              events::THttpResponse& ResponseInfo);
  void Refresh_TimerTimer();
  void A_RefreshExecute();
  void A_CloseExecute();
  void A_OpenSettingExecute();
  void A_OpenMenuExecute();
  void MouseMove_TimerTimer();
  void Chase_TimerTimer();
  void AppActivate();
  void OnCommand(const COMMAND& command);
  // The page's press and release: begin (at page coordinates) and end a drag.
  void BeginDrag(std::int32_t x, std::int32_t y);
  void EndDrag();
  // The follow step: the docked strip keeps its offset from Winamp's main window.
  void ChaseWinamp();
  // While no hook is attached: look for Winamp, and attach the hook once its window set is there.
  void WinampLookup_TimerTimer();
  // Brings a strip that lies wholly outside the desktop back onto the nearest monitor.
  void KeepOnDesktop();

  // What the settings dialog needs of the strip; the dialog is set by the start-up once it exists,
  // before the strip is first shown.
  settings::SettingFormHost SettingHost();
  void SetSettingForm(settings::TSettingForm* settingForm) { settingForm_ = settingForm; }

  // What others may look at.
  platform::IForm& Form() { return *form_; }
  platform::WindowHandle Handle() const { return form_->Handle(); }
  const docking::TDocking& Docking() const { return docking_; }
  docking::TDocking& Docking() { return docking_; }
  const settings::StripSettings& Settings() const { return settings_; }
  const events::THttpListener& HttpServer() const { return IdHTTPServer; }
  const platform::ITimer& MouseMoveTimer() const { return *MouseMove_Timer; }
  const platform::ITimer& RefreshTimer() const { return *Refresh_Timer; }
  const platform::ITimer& ChaseTimer() const { return *Chase_Timer; }
  const platform::ITimer& WinampLookupTimer() const { return *WinampLookup_Timer; }

 private:
  void ShowSequence();
  docking::StripGeometry Geometry() const;

  platform::IApplication& app_;
  std::unique_ptr<platform::IForm> form_;
  // What the listener's threads reach the window through; it outlives the strip.
  std::shared_ptr<events::TPageEvents> pageEvents_;
  settings::TSettingForm* settingForm_ = nullptr;
  bool shown_ = false;

  // The components, in the order the window definition creates them.
  std::unique_ptr<platform::IBrowser> CppWebBrowser;
  events::THttpListener IdHTTPServer;
  std::unique_ptr<platform::ITimer> MouseMove_Timer;
  std::unique_ptr<platform::IXmlDocument> XMLDocument;
  TPopupMenu PopupMenu;
  TActionManager ActionManager;
  TAction A_Close;
  TAction A_OpenSetting;
  TMenuItem N1;
  TMenuItem N2;
  TMenuItem N3;
  TAction A_OpenMenu;
  std::unique_ptr<platform::ITimer> Refresh_Timer;
  TAction A_Refresh;
  TMenuItem N4;
  std::unique_ptr<platform::ITimer> Chase_Timer;
  // Not part of the window definition: runs only while no hook is attached.
  std::unique_ptr<platform::ITimer> WinampLookup_Timer;

  // The form's own data: the settings it acts on, and the docking with Winamp's window set.
  settings::StripSettings settings_;
  docking::TDocking docking_;
};

}  // namespace lsv::app
