// Dragging the strip by hand: the browser swallows the mouse, so the page reports press and
// release, and a timer follows the cursor in between, holding the strip to nearby edges.

#include "app/main_form.h"
#include "platform/window_services.h"

namespace lsv::app {

namespace {

using lsvutil::CWinamp;

// Strictly closer than the threshold.
bool Near(int a, int edge, int threshold) { return edge - threshold < a && a < edge + threshold; }

// Where the strip would be if it moved freely.
struct Candidate {
  int left;
  int top;
  int right;
  int bottom;
};

}  // namespace

void TMainForm::BeginDrag(std::int32_t x, std::int32_t y) {
  const platform::Point grab{x + CppWebBrowser->Left(), y + CppWebBrowser->Top()};
  // A failure here leaves before the drag begins, with mousePos as it was.
  if (winamp.valid) winamp.Refresh();
  mousePos = grab;
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
  const platform::Point cursor = windows.GetCursorPos();
  docked = false;
  if (winamp.valid) {
    for (int index = CWinamp::WND_MAIN; index <= CWinamp::WND_MINIBROWSER; ++index) {
      SnapToWindow(index, cursor, kWindowSnapThreshold);
    }
  }
  SnapToDesktop(cursor, platform::VirtualDesktop(windows), kDesktopSnapThreshold);

  if (!snapLeft && !snapRight) form_->SetLeft(cursor.x - mousePos.x);
  if (!snapTop && !snapBottom) form_->SetTop(cursor.y - mousePos.y);
  if (winamp.valid) {
    // The main window's rectangle as read when the drag began, not as it is now.
    const platform::Rect main = winamp.GetWindow(CWinamp::WND_MAIN).rect;
    dockOffset = {form_->Left() - main.left, form_->Top() - main.top};
  }
}

void TMainForm::SnapToWindow(int index, platform::Point cursor, int threshold) {
  if (docked) return;
  const CWinamp::WINDOW window = winamp.GetWindow(index);
  if (!window.visible) return;

  const int width = form_->Width();
  const int height = form_->Height();
  const Candidate c{cursor.x - mousePos.x, cursor.y - mousePos.y, cursor.x - mousePos.x + width,
                    cursor.y - mousePos.y + height};
  // Plain names, not a structured binding: the lambdas below capture them, which clang accepts
  // only from version 16 on.
  const int L = window.rect.left;
  const int T = window.rect.top;
  const int R = window.rect.right;
  const int B = window.rect.bottom;
  const bool rowsOverlap = T - threshold < c.bottom && c.top < B + threshold;
  const bool columnsOverlap = L - threshold < c.right && c.left < R + threshold;
  // Both read the strip where it is now, which the rules before may just have changed.
  const auto stacked = [&] { return form_->Top() == T - height || form_->Top() == B; };
  const auto beside = [&] { return form_->Left() == L - width || form_->Left() == R; };

  if (Near(c.right, L, threshold) && rowsOverlap) {
    form_->SetLeft(L - width);
    snapLeft = true;
  } else if (Near(c.left, L, threshold) && stacked()) {
    form_->SetLeft(L);
    snapLeft = true;
  } else {
    snapLeft = false;
  }
  // The partner of a rule that held is not tried and keeps its value.
  if (!snapLeft) {
    if (Near(c.left, R, threshold) && rowsOverlap) {
      form_->SetLeft(R);
      snapRight = true;
    } else if (Near(c.right, R, threshold) && stacked()) {
      form_->SetLeft(R - width);
      snapRight = true;
    } else {
      snapRight = false;
    }
  }

  if (Near(c.bottom, T, threshold) && columnsOverlap) {
    form_->SetTop(T - height);
    snapTop = true;
  } else if (Near(c.top, T, threshold) && beside()) {
    form_->SetTop(T);
    snapTop = true;
  } else {
    snapTop = false;
  }
  if (!snapTop) {
    if (Near(c.top, B, threshold) && columnsOverlap) {
      form_->SetTop(B);
      snapBottom = true;
    } else if (Near(c.bottom, B, threshold) && beside()) {
      form_->SetTop(B - height);
      snapBottom = true;
    } else {
      snapBottom = false;
    }
  }

  if (snapLeft || snapRight || snapTop || snapBottom) {
    docked = true;
    dockedTo = index;
  }
}

void TMainForm::SnapToDesktop(platform::Point cursor, platform::Rect desktop, int threshold) {
  if (docked) return;
  const int width = form_->Width();
  const int height = form_->Height();
  const int left = cursor.x - mousePos.x;
  const int top = cursor.y - mousePos.y;

  // One bound per edge, so a strip dragged far past an edge is held at it too.
  snapLeft = left < desktop.left + threshold;
  if (snapLeft) form_->SetLeft(desktop.left);
  snapTop = top < desktop.top + threshold;
  if (snapTop) form_->SetTop(desktop.top);
  snapRight = left + width > desktop.right - threshold;
  if (snapRight) form_->SetLeft(desktop.right - width);
  snapBottom = top + height > desktop.bottom - threshold;
  if (snapBottom) form_->SetTop(desktop.bottom - height);

  if (snapLeft || snapRight || snapTop || snapBottom) {
    docked = true;
    dockedTo = CWinamp::DOCK_DESKTOP;
  }
}

}  // namespace lsv::app
