#pragma once
// What a platform backend provides to the portable toolkit, and what the
// toolkit offers back to it. One backend per platform implements all of
// this: toolkit_gtk.cpp, toolkit_win32.cpp, and toolkit_null.cpp, which
// draws nothing and lets the toolkit's own rules run in unit tests.
//
// Every call happens on the user-interface thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/toolkit.h"
#include "toolkit/window_description.h"

namespace toolkit {

// One window or control as the platform holds it. Created by its kind's
// factory (control_kinds.h), destroyed with its window.
class NativeControl {
 public:
  virtual ~NativeControl() = default;

  // The handle that GetNativeHandle gives out.
  virtual NativeHandle Handle() const = 0;

  // Moves a control from the window into `container`, at the same place
  // relative to the container.
  virtual void MoveInto(NativeControl& container) = 0;

  // Places this control directly behind `sibling`, or on top of its
  // siblings when `sibling` is nullptr.
  virtual void PlaceBehind(NativeControl* sibling) = 0;

  // Shows or hides. Showing a control keeps its place in the stacking
  // order and does not activate it; showing a window also activates it.
  virtual void SetShown(bool shown) = 0;

  // Called after the toolkit has stored a new value in property `number`
  // of `control` (the description the control was made from).
  virtual void PropertyWritten(const ControlDescription& control, int number) = 0;
};

// A live control: its description (with the values written since) and its
// native control.
struct LoadedControl {
  ControlDescription description;
  std::unique_ptr<NativeControl> native;
};

namespace native {

// Prepares the platform for windows. False when it cannot (no display),
// with the reason in `why`.
bool Initialise(std::string& why);
// Releases what Initialise took.
void Uninitialise();

struct ScreenSize {
  int width;
  int height;
};
ScreenSize PrimaryScreenSize();

// Runs the platform's loop until Quit; returns the code Quit was given.
int RunLoop();
// Makes RunLoop return `code` once the messages before it are handled.
void Quit(int code);

// A message box with no owner window, an error icon and an OK button;
// returns when the user dismisses it. Without a display the message goes
// to standard error instead.
void ShowErrorBox(std::string_view gbk_message);

// Ends the process at once.
[[noreturn]] void ExitProcess(int code);

}  // namespace native

// The toolkit's side, for the backends.

// The loaded control, or nullptr.
LoadedControl* FindLoadedControl(WindowId window, ControlId control);
// The window and control behind a native handle, if it is loaded.
bool FindByHandle(NativeHandle handle, WindowId& window, ControlId& control);

// A close request of the window (Esc, the system's close command): raises
// the close-query events, destroys the window, and ends the loop when it
// was the last window.
void RequestClose(WindowId window);

// The window was destroyed by the system; forget it.
void WindowDestroyed(WindowId window);

// True when a left press on this control (or the window's own surface)
// starts a move of its window instead of raising an event.
bool LeftPressMovesWindow(WindowId window, ControlId control);

}  // namespace toolkit
