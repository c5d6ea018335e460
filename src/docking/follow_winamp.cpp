// Following Winamp once docked: the hook library's notifications, the follow step and the
// stacking order next to Winamp's main window.

#include "app/error_reporting.h"
#include "app/main_form.h"
#include "app/messages.h"
#include "platform/window_services.h"

namespace lsv::app {

namespace {

using lsvutil::CWinamp;

constexpr unsigned kRestackFlags = platform::kSwpNoSize | platform::kSwpNoMove | platform::kSwpNoActivate;

}  // namespace

void TMainForm::OnHookNotify(unsigned message) {
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
        docked = false;
        Chase_Timer->SetEnabled(false);
        break;
      case WM_HOOK_DETACH:
        if (hook.IsHookAttached()) hook.DetachHook();
        break;
      case WM_HOOK_REATTACH:
        if (hook.IsHookAttached()) {
          hook.DetachHook();
          hook.AttachHook(Handle());
        }
        break;
      case WM_REFIT_BOTTOM: {
        if (!winamp.valid || !docked || dockedTo == CWinamp::DOCK_DESKTOP || !snapBottom) break;
        winamp.ReadWindows();
        const auto [L, T, R, B] = winamp.GetWindow(dockedTo).rect;
        const int left = form_->Left();
        if (left == L - form_->Width() || left == R) break;  // standing beside it, not hanging below
        form_->SetTop(B);
        const platform::Rect main = winamp.GetWindow(CWinamp::WND_MAIN).rect;
        dockOffset = {form_->Left() - main.left, form_->Top() - main.top};
        break;
      }
      case WM_RESTACK:
        app_.WindowServices().SetWindowPos(Handle(), winamp.main.hwnd, 0, 0, 0, 0, kRestackFlags);
        break;
      default:  // WM_HOOK_NOTHING: taken, no reaction
        break;
    }
  });
}

void TMainForm::Chase_TimerTimer() { ChaseWinamp(); }

void TMainForm::ChaseWinamp() {
  if (!docked || dockedTo == CWinamp::DOCK_DESKTOP) return;
  platform::Rect main;
  // Winamp may have closed meanwhile; then there is nothing to follow and the strip stays put.
  if (!app_.WindowServices().GetWindowRect(winamp.main.hwnd, main)) return;
  form_->SetLeft(main.left + dockOffset.x);
  form_->SetTop(main.top + dockOffset.y);
}

void TMainForm::AppActivate() {
  if (!winamp.valid) return;
  app_.WindowServices().SetWindowPos(winamp.main.hwnd, Handle(), 0, 0, 0, 0, kRestackFlags);
}

}  // namespace lsv::app
