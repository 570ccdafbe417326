#pragma once
// The GTK side of a control, shared by the toolkit's own kinds
// (toolkit_gtk.cpp) and the browser pane (player/browser_pane_gtk.cpp).
// GTK-only: portable code never includes this.

#include <gtk/gtk.h>

#include <string>
#include <string_view>
#include <vector>

#include "toolkit/native.h"

namespace toolkit::gtk {

// A GBK text of the window data as UTF-8 for GTK.
std::string Utf8FromGbk(std::string_view gbk);

// A control backed by one GtkWidget with a GDK window of its own, placed in
// its parent container's GtkLayout. It brings what every kind shares:
// moving into a container, stacking among siblings, showing and hiding,
// moving, the mouse pointer, and the left-button events.
class GtkControl : public NativeControl {
 public:
  // Takes a reference to `widget`, places it in `window`'s layout at the
  // control's place and size, hidden.
  GtkControl(GtkWidget* widget, const ControlDescription& control, NativeControl* window);
  ~GtkControl() override;

  NativeHandle Handle() const override { return reinterpret_cast<NativeHandle>(widget_); }
  void MoveInto(NativeControl& container) override;
  void PlaceBehind(NativeControl* sibling) override;
  void SetShown(bool shown) override;
  void PropertyWritten(const ControlDescription& control, int number) override;

  GtkWidget* widget() const { return widget_; }
  // Where children of this control are put; nullptr for a control that
  // holds none.
  virtual GtkLayout* ChildLayout() { return nullptr; }

 protected:
  // Handles a button press on the widget: a left press either starts a move
  // of the window or raises the left-button (or double-click) event.
  gboolean ButtonPressed(const GdkEventButton& event);

 private:
  void Restack();
  void ApplyPointer();

  GtkWidget* widget_;
  GtkControl* container_ = nullptr;
  std::vector<GtkControl*> children_;  // top to bottom
  std::int32_t pointer_code_;
  int left_;
  int top_;
  guint32 last_press_time_ = 0;
  double last_press_x_ = 0;
  double last_press_y_ = 0;
};

}  // namespace toolkit::gtk
