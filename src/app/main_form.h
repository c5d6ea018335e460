#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "app/actions.h"
#include "docking/winamp.h"
#include "events/http_listener.h"
#include "events/page_events.h"
#include "platform/application.h"
#include "platform/browser.h"
#include "platform/form.h"
#include "platform/timer.h"
#include "platform/types.h"
#include "platform/xml_document.h"

namespace lsv::settings {
class TSettingForm;
}

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
inline constexpr int kWindowSnapThreshold = 10;
inline constexpr int kDesktopSnapThreshold = 20;

// The strip: a borderless window whose whole surface is the browser showing the display page.
class TMainForm : public platform::IFormEvents {
 public:
  // A page event handed to the window thread.
  using COMMAND = events::COMMAND;
  // Empty, a number or a string.
  using Variant = std::variant<std::monostate, double, std::string>;

  // The listener opens initialListenerPort at construction (tests pass 0 for a free port).
  explicit TMainForm(platform::IApplication& application, int initialListenerPort = kInitialListenerPort);
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;
  virtual ~TMainForm();

  // IFormEvents
  void FormShow() override;
  void FormHide() override {}
  bool Dispatch(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

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
  // The rules that hold the dragged strip to a Winamp window's or the desktop's edges.
  void SnapToWindow(int index, platform::Point cursor, int threshold);
  void SnapToDesktop(platform::Point cursor, platform::Rect desktop, int threshold);
  // The follow step: the docked strip keeps its offset from Winamp's main window.
  void ChaseWinamp();
  void OnHookNotify(unsigned message);

  platform::IForm& Form() { return *form_; }
  platform::WindowHandle Handle() const { return form_->Handle(); }

  // Set by the start-up once the dialog exists, before the strip is first shown.
  settings::TSettingForm* SettingForm = nullptr;

 private:
  platform::IApplication& app_;
  std::unique_ptr<platform::IForm> form_;
  // What the listener's threads reach the window through; it outlives the strip.
  std::shared_ptr<events::TPageEvents> pageEvents_;

 public:
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

  // The form's own data.
  platform::Point mousePos;
  platform::Point dockOffset;
  Variant refreshInterval;
  Variant serverPort;
  Variant displayPage;
  lsvutil::CWinamp winamp;
  bool docked = false;
  std::int32_t dockedTo = 0;
  bool snapLeft = false;
  bool snapRight = false;
  bool snapTop = false;
  bool snapBottom = false;

 private:
  void ShowSequence();
  void ClearDockingState();
};

// The refresh timer's interval from refreshInterval; platform::Error for a value that is not a
// number, negative, or beyond 32 bits of milliseconds (a wrapped interval would be nonsense).
std::uint32_t RefreshTimerInterval(const TMainForm::Variant& refreshInterval);
// The listener port from serverPort; platform::Error when it is not an integer or not 1 to 65535.
int ListenerPort(const TMainForm::Variant& serverPort);

}  // namespace lsv::app
