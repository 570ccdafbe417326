#include "player/browser_pane.h"

#include "toolkit/native.h"

namespace player {

void BrowserCommand(toolkit::WindowId window, toolkit::ControlId control, std::int32_t code) {
  toolkit::LoadedControl* loaded = toolkit::FindLoadedControl(window, control);
  if (loaded == nullptr) return;
  if (auto* pane = dynamic_cast<BrowserPane*>(loaded->native.get())) pane->Command(code);
}

}  // namespace player
