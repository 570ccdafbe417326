#pragma once
// The browser pane control kind: a web engine hosted in a control, which
// plays whatever page it shows. The program drives it by writing its `url`
// property (11) and by BrowserCommand; nothing of it needs to be on screen.
//
// Each platform's pane (browser_pane_gtk.cpp, browser_pane_win32.cpp)
// implements BrowserPane and is made by toolkit::CreateNativeBrowserPane:
// - creation applies FontSize (0-4, clamped), Offline and Silent to the
//   engine, then loads `url` unless it is empty; an engine that cannot be
//   made fails the creation;
// - every write of `url` loads it, the same address again and an empty one
//   included;
// - the engine loads and plays in the background and reports on the
//   user-interface thread; it keeps playing off-screen and while the window
//   is hidden.

#include <cstdint>

#include "toolkit/toolkit.h"

namespace player {

enum BrowserCommandCode : std::int32_t {
  kGoForward = 0,
  kGoBack = 1,
  kGoHome = 2,
  kGoSearch = 3,
  kRefresh = 4,
  kStop = 5,
  kSaveAs = 6,
  kPrint = 7,
  kPrintPreview = 8,
  kPageSetup = 9,
};

class BrowserPane {
 public:
  virtual ~BrowserPane() = default;
  // Runs one of the codes above; any other code does nothing, and a
  // document command with no document loaded does nothing.
  virtual void Command(std::int32_t code) = 0;
};

// Sends `code` to the browser pane `control` of `window`; nothing happens
// when that control is not a loaded browser pane.
void BrowserCommand(toolkit::WindowId window, toolkit::ControlId control, std::int32_t code);

}  // namespace player
