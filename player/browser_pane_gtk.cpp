// Placeholder pane until the WebKitGTK engine lands: an empty child at the
// pane's place.
#include "player/browser_pane.h"
#include "toolkit/gtk_control.h"

namespace toolkit {
std::unique_ptr<NativeControl> CreateNativeBrowserPane(const ControlDescription& description,
                                                       NativeControl* window) {
  return std::make_unique<gtk::GtkControl>(gtk_layout_new(nullptr, nullptr), description, window);
}
}  // namespace toolkit
