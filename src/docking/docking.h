#pragma once

#include <cstdint>
#include <optional>

#include "docking/winamp.h"
#include "platform/types.h"
#include "platform/window_services.h"

// Dragging the strip by hand and keeping it docked to Winamp. The rules are pure functions over
// a state and the geometry they are given, each returning where the strip goes; TDocking holds
// the state and Winamp's window set and reads the desktop. The form applies a result with one
// move.
namespace lsv::docking {

inline constexpr int kWindowSnapThreshold = 10;
inline constexpr int kDesktopSnapThreshold = 20;

// The drag and docking state, in the names the rules are written in.
struct DockingState {
  platform::Point mousePos;    // where in the strip the cursor holds it during a drag
  platform::Point dockOffset;  // the strip's offset from Winamp's main window
  bool docked = false;
  std::int32_t dockedTo = 0;  // a window index of lsvutil::CWinamp, or DOCK_DESKTOP
  bool snapLeft = false;
  bool snapRight = false;
  bool snapTop = false;
  bool snapBottom = false;
};

// The strip's outer rectangle as the rules see it: where it stands and its size.
struct StripGeometry {
  platform::Point position;
  int width = 0;
  int height = 0;
};

// The snap rules against one of Winamp's windows (index 0 to 4) and against the desktop, for the
// cursor at `cursor`: each returns where the strip stands afterwards, starting from `strip`, and
// sets the snap flags and the docking state. Nothing happens once the state is docked.
platform::Point SnapToWindow(DockingState& state, StripGeometry strip, const lsvutil::CWinamp::WINDOW& window,
                             int index, platform::Point cursor, int threshold);
platform::Point SnapToDesktop(DockingState& state, StripGeometry strip, platform::Rect desktop, platform::Point cursor,
                              int threshold);

// One drag tick: the rules against Winamp's windows (when the set is valid), then the desktop,
// then the free move along every axis no rule held. The dock offset is taken against the main
// window as the set recorded it when the drag began.
platform::Point DragStep(DockingState& state, StripGeometry strip, const lsvutil::CWinamp& winamp,
                         platform::Point cursor, platform::Rect desktop);

// Where the strip docked to a Winamp window follows Winamp's main window to; nullopt when it is
// not docked to one.
std::optional<platform::Point> FollowStep(const DockingState& state, platform::Rect mainWindow);

// The strip hanging below the window it is docked to moves to that window's new bottom edge, and
// its dock offset is taken again; nullopt when it does not hang below a Winamp window (standing
// beside one, docked to the desktop, or not docked).
std::optional<platform::Point> RefitStep(DockingState& state, StripGeometry strip, platform::Rect dockedWindow,
                                         platform::Rect mainWindow);

// Where a strip that lies wholly outside `desktop` goes: the nearest position wholly inside
// `workArea` (its top-left corner, where the strip is the larger). nullopt for a strip that still
// touches the desktop, however little: that one stays exactly where it is.
std::optional<platform::Point> StayOnDesktop(StripGeometry strip, platform::Rect desktop, platform::Rect workArea);

// The strip's docking: the state, Winamp's window set, and the desktop they are read from.
class TDocking {
 public:
  explicit TDocking(platform::IWindowServices& windows);

  const DockingState& State() const { return state_; }
  // Puts the docking into a given state, as a drag would have left it.
  void SetState(const DockingState& state) { state_ = state; }
  lsvutil::CWinamp& Winamp() { return winamp_; }
  const lsvutil::CWinamp& Winamp() const { return winamp_; }

  // Undocked, no snap flag set; the offsets stay.
  void Clear();
  // The press: a valid window set is looked up again first (raising lsv::CException when a
  // window is gone, with the grab offset left as it was), then the grab offset is taken.
  void BeginDrag(platform::Point grab);
  // One drag tick for the cursor at `cursor`; where the strip goes.
  platform::Point DragTick(StripGeometry strip, platform::Point cursor);
  // One follow step: where the strip goes, or nullopt when it does not follow or Winamp's main
  // window cannot be read (Winamp may have closed meanwhile; the strip then stays put).
  std::optional<platform::Point> Chase();
  // Winamp's main window went away: the strip no longer follows it.
  void Undock() { state_.docked = false; }
  // A Winamp window changed size; reads the window set again (raising lsv::CException for a
  // window that cannot be read) when the strip might hang below the window that did.
  std::optional<platform::Point> Refit(StripGeometry strip);
  // Looks for Winamp's window set again, quietly, as the strip does while no hook is attached:
  // true when all five windows were found and read just now (the set is then valid). A failure
  // leaves the set as its refresh leaves it, and raises nothing.
  bool LookUpWinamp();
  // A strip wholly off the virtual desktop: undocked, and where it comes back to on the work area
  // of the nearest monitor. nullopt when it still touches the desktop.
  std::optional<platform::Point> KeepOnDesktop(StripGeometry strip);

 private:
  platform::IWindowServices& windows_;
  lsvutil::CWinamp winamp_;
  DockingState state_;
};

}  // namespace lsv::docking
