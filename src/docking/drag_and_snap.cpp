// Dragging the strip by hand: the browser swallows the mouse, so the page reports press and
// release and a timer follows the cursor in between.

#include "app/main_form.h"

namespace lsv::app {

void TMainForm::BeginDrag(std::int32_t x, std::int32_t y) {
  const platform::Point grab{x + CppWebBrowser->Left(), y + CppWebBrowser->Top()};
  // A failure here leaves before the drag begins, with mousePos as it was.
  if (winamp.valid) winamp.Refresh();
  mousePos = grab;
  MouseMove_Timer->SetEnabled(true);
}

void TMainForm::EndDrag() { MouseMove_Timer->SetEnabled(false); }

void TMainForm::MouseMove_TimerTimer() {}

}  // namespace lsv::app
