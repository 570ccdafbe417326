// GTK3 backend of the window toolkit.
//
// Checklist:
// - [x] platform start (X11 GDK backend forced), message loop, quit
// - [x] error box (stderr too, and alone when there is no display)
// - [x] window: borderless, fixed size, centred or stored place, title,
//       icon from "DEFAULT_ICON", taskbar button, Esc and close requests,
//       drag by body, hide and show again at the same place
// - [x] every control a widget with its own GDK window, stacked among its
//       siblings as the description orders them, with its mouse pointer
// - [x] PicBox: background colour, then the decoded picture (modes 0-2)
// - [x] TransLabel: text only over whatever lies beneath; left press and
//       double click events
// - [x] Label: background and text; feedback event through the toolkit
// - [ ] pointer files (pointer bytes instead of a code): the arrow is shown

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "assets/embedded.h"
#include "toolkit/gtk_control.h"
#include "toolkit/picture.h"
#include "toolkit/toolkit_internal.h"

namespace toolkit {
namespace gtk {
namespace {

bool g_display_open = false;
int g_quit_code = 0;

// The system's button-face colour, which a colour setting's default means.
constexpr std::uint32_t kButtonFace = 0x00F0F0F0;

void SetSourceColour(cairo_t* cr, std::int32_t setting) {
  // Colours are stored as 0x00BBGGRR.
  const auto colour = setting == kDefaultColour ? kButtonFace : static_cast<std::uint32_t>(setting);
  cairo_set_source_rgb(cr, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                       ((colour >> 16) & 0xFF) / 255.0);
}

// Pointer codes (the system's cursor identifiers) and their CSS names.
const char* PointerName(std::int32_t code) {
  switch (code) {
    case 0x7F00: return "default";
    case 0x7F01: return "text";
    case 0x7F02: return "wait";
    case 0x7F03: return "crosshair";
    case 0x7F04: return "n-resize";
    case 0x7F82: return "nwse-resize";
    case 0x7F83: return "nesw-resize";
    case 0x7F84: return "ew-resize";
    case 0x7F85: return "ns-resize";
    case 0x7F86: return "move";
    case 0x7F88: return "not-allowed";
    case 0x7F89: return "pointer";
    case 0x7F8A: return "progress";
    case 0x7F8B: return "help";
    default: return nullptr;
  }
}

std::int32_t KeyState(guint state) {
  return ((state & GDK_CONTROL_MASK) ? 1 : 0) + ((state & GDK_SHIFT_MASK) ? 2 : 0) +
         ((state & GDK_MOD1_MASK) ? 4 : 0);
}

cairo_surface_t* SurfaceFromImage(const Image& image) {
  if (image.empty()) return nullptr;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_surface_flush(surface);
  unsigned char* pixels = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* in = &image.bgra[static_cast<std::size_t>(y) * image.width * 4];
    std::uint32_t* out = reinterpret_cast<std::uint32_t*>(pixels + y * stride);
    for (int x = 0; x < image.width; ++x, in += 4) {
      // Cairo wants premultiplied native-endian ARGB.
      const std::uint32_t a = in[3];
      const std::uint32_t r = in[2] * a / 255, g = in[1] * a / 255, b = in[0] * a / 255;
      out[x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(surface);
  return surface;
}

GdkPixbuf* PixbufFromImage(const Image& image) {
  if (image.empty()) return nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* in = &image.bgra[static_cast<std::size_t>(y) * image.width * 4];
    guchar* out = pixels + y * stride;
    for (int x = 0; x < image.width; ++x, in += 4, out += 4) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      out[3] = in[3];
    }
  }
  return pixbuf;
}

// ---------------------------------------------------------------- window

class GtkTopWindow : public GtkControl {
 public:
  GtkTopWindow(GtkWidget* window, GtkWidget* layout, const ControlDescription& description)
      : GtkControl(window, description, nullptr), layout_(GTK_LAYOUT(layout)) {
    const WindowPosition at = PlaceWindow(description, native::PrimaryScreenSize());
    x_ = at.x;
    y_ = at.y;
    gtk_window_move(GTK_WINDOW(window), x_, y_);
    // The place is the program's exact choice: window managers keep a window
    // with a user-given position even where it reaches past the screen.
    GdkGeometry no_limits{};
    gtk_window_set_geometry_hints(GTK_WINDOW(window), nullptr, &no_limits, GDK_HINT_USER_POS);
    g_signal_connect(window, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(window, "key-press-event", G_CALLBACK(OnKey), this);
    g_signal_connect(layout, "button-press-event", G_CALLBACK(OnSurfacePress), this);
  }

  GtkLayout* ChildLayout() override { return GTK_LAYOUT(layout_); }

  void SetShown(bool shown) override {
    GtkWindow* window = GTK_WINDOW(widget());
    if (!shown) {
      if (gtk_widget_get_visible(widget())) gtk_window_get_position(window, &x_, &y_);
      gtk_widget_hide(widget());
      return;
    }
    // Shown again where it was, and activated.
    if (!gtk_widget_get_visible(widget())) gtk_window_move(window, x_, y_);
    gtk_window_present(window);
  }

  void PropertyWritten(const ControlDescription& control, int number) override {
    if (number == window_setting::kTitle) {
      gtk_window_set_title(GTK_WINDOW(widget()), Utf8FromGbk(control.GetText(number)).c_str());
    }
  }

 private:
  static WindowId Id(GtkTopWindow* self) {
    WindowId window = 0;
    ControlId control = 0;
    FindByHandle(self->Handle(), window, control);
    return window;
  }

  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    RequestClose(Id(static_cast<GtkTopWindow*>(self)));
    return TRUE;  // the toolkit destroys the window itself, or keeps it
  }

  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* self = static_cast<GtkTopWindow*>(data);
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    const WindowId window = Id(self);
    const LoadedControl* loaded = FindLoadedControl(window, kWindowItself);
    if (loaded == nullptr || !loaded->description.GetBool(window_setting::kEscCloses)) return FALSE;
    RequestClose(window);
    return TRUE;
  }

  static gboolean OnSurfacePress(GtkWidget*, GdkEventButton* event, gpointer self) {
    return static_cast<GtkTopWindow*>(self)->ButtonPressed(*event);
  }

  GtkLayout* layout_;
  int x_;
  int y_;
};

// ---------------------------------------------------------------- PicBox

class GtkPicBox : public GtkControl {
 public:
  GtkPicBox(GtkWidget* layout, const ControlDescription& description, NativeControl* window)
      : GtkControl(layout, description, window) {
    LoadPicture(description);
    g_signal_connect(layout, "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(layout, "button-press-event", G_CALLBACK(OnPress), this);
  }
  ~GtkPicBox() override {
    if (picture_ != nullptr) cairo_surface_destroy(picture_);
  }

  GtkLayout* ChildLayout() override { return GTK_LAYOUT(widget()); }

  void PropertyWritten(const ControlDescription& control, int number) override {
    if (number == picbox_setting::kPicture) LoadPicture(control);
    GtkControl::PropertyWritten(control, number);
  }

 private:
  // The picture is decoded once and kept; one that cannot be decoded leaves
  // the background colour alone.
  void LoadPicture(const ControlDescription& control) {
    if (picture_ != nullptr) cairo_surface_destroy(picture_);
    picture_ = SurfaceFromImage(DecodePicture(control.GetBytes(picbox_setting::kPicture)));
    back_colour_ = control.GetInt(picbox_setting::kBackColor);
    mode_ = control.GetInt(picbox_setting::kDisplayMode);
  }

  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    auto* self = static_cast<GtkPicBox*>(data);
    // A GtkLayout draws its children in its bin window; paint only there.
    if (!gtk_cairo_should_draw_window(cr, gtk_layout_get_bin_window(GTK_LAYOUT(widget)))) {
      return FALSE;
    }
    SetSourceColour(cr, self->back_colour_);
    cairo_paint(cr);
    if (self->picture_ != nullptr) {
      const double width = gtk_widget_get_allocated_width(widget);
      const double height = gtk_widget_get_allocated_height(widget);
      const double image_width = cairo_image_surface_get_width(self->picture_);
      const double image_height = cairo_image_surface_get_height(self->picture_);
      cairo_save(cr);
      if (self->mode_ == 1) {
        cairo_scale(cr, width / image_width, height / image_height);
      } else if (self->mode_ == 2) {
        const double scale = std::min(width / image_width, height / image_height);
        cairo_translate(cr, (width - image_width * scale) / 2, (height - image_height * scale) / 2);
        cairo_scale(cr, scale, scale);
      }
      cairo_set_source_surface(cr, self->picture_, 0, 0);
      cairo_paint(cr);
      cairo_restore(cr);
    }
    return FALSE;  // then the layout draws the children
  }

  static gboolean OnPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    return static_cast<GtkPicBox*>(self)->ButtonPressed(*event);
  }

  cairo_surface_t* picture_ = nullptr;
  std::int32_t back_colour_ = kDefaultColour;
  std::int32_t mode_ = 0;
};

// ---------------------------------------------------------------- labels

// The font of a label: made from a 60-byte LOGFONTA record with the
// character set, precisions, quality and pitch left to the system, or the
// default GUI font for any other length.
PangoFontDescription* FontFromRecord(Bytes record) {
  PangoFontDescription* font = pango_font_description_new();
  if (record.size() != 60) {
    pango_font_description_set_family(font, "Sans");
    pango_font_description_set_absolute_size(font, 12 * PANGO_SCALE);
    return font;
  }
  std::int32_t height = 0;
  std::int32_t weight = 0;
  std::memcpy(&height, record.data(), 4);
  std::memcpy(&weight, record.data() + 16, 4);
  const char* face = reinterpret_cast<const char*>(record.data() + 28);
  const std::string family = Utf8FromGbk(std::string_view(face, strnlen(face, 32)));
  // Fontconfig falls back to an installed CJK face when the named one is
  // missing; naming the usual ones keeps the choice predictable.
  pango_font_description_set_family(
      font, (family + ",Microsoft YaHei,WenQuanYi Zen Hei,Noto Sans CJK SC,sans-serif").c_str());
  // A negative height is the character height in pixels; a positive one
  // the cell height, of which the characters take about 7/8.
  const int pixels = height < 0 ? -height : (height > 0 ? height * 7 / 8 : 12);
  pango_font_description_set_absolute_size(font, pixels * PANGO_SCALE);
  if (weight > 0) pango_font_description_set_weight(font, static_cast<PangoWeight>(weight));
  if (record[20] != 0) pango_font_description_set_style(font, PANGO_STYLE_ITALIC);
  return font;
}

class GtkTextControl : public GtkControl {
 public:
  struct Settings {
    int text, effect, font, text_colour, align, word_wrap, valign;
    int back_colour;  // -1: no background of its own
  };

  GtkTextControl(const ControlDescription& description, NativeControl* window, Settings settings)
      : GtkControl(gtk_drawing_area_new(), description, window), settings_(settings) {
    gtk_widget_add_events(widget(), GDK_BUTTON_PRESS_MASK);
    g_signal_connect(widget(), "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(widget(), "button-press-event", G_CALLBACK(OnPress), this);
    Apply(description);
  }
  ~GtkTextControl() override {
    if (font_ != nullptr) pango_font_description_free(font_);
  }

  void PropertyWritten(const ControlDescription& control, int number) override {
    GtkControl::PropertyWritten(control, number);
    Apply(control);
    // What lies beneath is redrawn first, then the label, so no trace of
    // the old text remains.
    if (GtkWidget* parent = gtk_widget_get_parent(widget())) gtk_widget_queue_draw(parent);
  }

 private:
  void Apply(const ControlDescription& c) {
    text_ = Utf8FromGbk(c.GetText(settings_.text));
    if (font_ != nullptr) pango_font_description_free(font_);
    font_ = FontFromRecord(c.GetBytes(settings_.font));
    effect_ = c.GetInt(settings_.effect);
    text_colour_ = c.GetInt(settings_.text_colour);
    align_ = c.GetInt(settings_.align);
    valign_ = c.GetInt(settings_.valign);
    word_wrap_ = c.GetBool(settings_.word_wrap);
    back_colour_ = settings_.back_colour >= 0 ? c.GetInt(settings_.back_colour) : 0;
  }

  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
    static_cast<GtkTextControl*>(data)->Draw(widget, cr);
    return TRUE;
  }

  void Draw(GtkWidget* widget, cairo_t* cr) {
    const int width = gtk_widget_get_allocated_width(widget);
    const int height = gtk_widget_get_allocated_height(widget);
    if (settings_.back_colour >= 0) {
      SetSourceColour(cr, back_colour_);
      cairo_paint(cr);
    }
    if (text_.empty()) return;
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, text_.c_str());
    pango_layout_set_font_description(layout, font_);
    const PangoAlignment alignment[] = {PANGO_ALIGN_LEFT, PANGO_ALIGN_CENTER, PANGO_ALIGN_RIGHT};
    pango_layout_set_alignment(layout, alignment[std::clamp(align_, 0, 2)]);
    if (word_wrap_) {
      pango_layout_set_width(layout, width * PANGO_SCALE);
      pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    } else if (align_ != 0) {
      pango_layout_set_width(layout, width * PANGO_SCALE);
    }
    int text_width = 0;
    int text_height = 0;
    pango_layout_get_pixel_size(layout, &text_width, &text_height);
    // Wrapped text is centred vertically; a single line goes by its setting.
    const int vertical = word_wrap_ ? 1 : std::clamp(valign_, 0, 2);
    const double y = vertical == 0 ? 0 : vertical == 1 ? (height - text_height) / 2 : height - text_height;
    // Effects add an offset copy under the text: 1 white, 2 black, 3 black
    // and further off.
    if (effect_ > 0) {
      const double offset = effect_ == 3 ? 2 : 1;
      cairo_set_source_rgb(cr, effect_ == 1 ? 1 : 0, effect_ == 1 ? 1 : 0, effect_ == 1 ? 1 : 0);
      cairo_move_to(cr, offset, y + offset);
      pango_cairo_show_layout(cr, layout);
    }
    SetSourceColour(cr, text_colour_);
    cairo_move_to(cr, 0, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
  }

  static gboolean OnPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    return static_cast<GtkTextControl*>(self)->ButtonPressed(*event);
  }

  Settings settings_;
  std::string text_;
  PangoFontDescription* font_ = nullptr;
  std::int32_t effect_ = 0, text_colour_ = 0, align_ = 0, valign_ = 0, back_colour_ = 0;
  bool word_wrap_ = false;
};

}  // namespace

std::string Utf8FromGbk(std::string_view gbk) {
  gsize written = 0;
  gchar* utf8 = g_convert(gbk.data(), static_cast<gssize>(gbk.size()), "UTF-8", "GBK", nullptr,
                          &written, nullptr);
  if (utf8 == nullptr) return {};
  std::string text(utf8, written);
  g_free(utf8);
  return text;
}

// ---------------------------------------------------------------- GtkControl

GtkControl::GtkControl(GtkWidget* widget, const ControlDescription& control, NativeControl* window)
    : widget_(GTK_WIDGET(g_object_ref_sink(widget))),
      pointer_code_(control.GetInt(kMousePointer)),
      left_(control.GetInt(kLeft)),
      top_(control.GetInt(kTop)) {
  gtk_widget_set_size_request(widget_, control.GetInt(kWidth), control.GetInt(kHeight));
  gtk_widget_set_sensitive(widget_, !control.GetBool(kDisable));
  gtk_widget_add_events(widget_, GDK_BUTTON_PRESS_MASK);
  g_signal_connect_after(widget_, "map", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                           static_cast<GtkControl*>(self)->Restack();
                         }),
                         this);
  g_signal_connect_after(widget_, "realize", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                           static_cast<GtkControl*>(self)->ApplyPointer();
                         }),
                         this);
  if (window != nullptr) {
    container_ = static_cast<GtkControl*>(window);
    gtk_layout_put(container_->ChildLayout(), widget_, left_, top_);
    container_->children_.insert(container_->children_.begin(), this);
  }
}

GtkControl::~GtkControl() {
  if (container_ != nullptr) std::erase(container_->children_, this);
  for (GtkControl* child : children_) child->container_ = nullptr;
  g_signal_handlers_disconnect_matched(widget_, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, this);
  gtk_widget_destroy(widget_);
  g_object_unref(widget_);
}

void GtkControl::MoveInto(NativeControl& target) {
  auto& container = static_cast<GtkControl&>(target);
  if (container.ChildLayout() == nullptr || &container == container_) return;
  g_object_ref(widget_);
  if (GtkWidget* parent = gtk_widget_get_parent(widget_)) {
    gtk_container_remove(GTK_CONTAINER(parent), widget_);
  }
  gtk_layout_put(container.ChildLayout(), widget_, left_, top_);
  g_object_unref(widget_);
  if (container_ != nullptr) std::erase(container_->children_, this);
  container_ = &container;
  container_->children_.insert(container_->children_.begin(), this);
}

void GtkControl::PlaceBehind(NativeControl* sibling) {
  if (container_ == nullptr) return;
  auto& order = container_->children_;
  std::erase(order, this);
  auto at = std::find(order.begin(), order.end(), static_cast<GtkControl*>(sibling));
  order.insert(sibling == nullptr || at == order.end() ? order.begin() : at + 1, this);
  Restack();
}

// GDK raises a window when it is mapped, so the stacking order is put back
// after every map: siblings are raised from the bottom up.
void GtkControl::Restack() {
  if (container_ == nullptr) return;
  for (auto it = container_->children_.rbegin(); it != container_->children_.rend(); ++it) {
    GtkWidget* child = (*it)->widget_;
    if (gtk_widget_get_realized(child) && gtk_widget_get_has_window(child)) {
      gdk_window_raise(gtk_widget_get_window(child));
    }
  }
}

void GtkControl::ApplyPointer() {
  const char* name = PointerName(pointer_code_);
  if (name == nullptr || !gtk_widget_get_has_window(widget_)) return;
  GdkCursor* cursor = gdk_cursor_new_from_name(gtk_widget_get_display(widget_), name);
  gdk_window_set_cursor(gtk_widget_get_window(widget_), cursor);
  if (cursor != nullptr) g_object_unref(cursor);
}

void GtkControl::SetShown(bool shown) {
  if (shown) {
    gtk_widget_show(widget_);
    Restack();
  } else {
    gtk_widget_hide(widget_);
  }
}

void GtkControl::PropertyWritten(const ControlDescription& control, int number) {
  switch (number) {
    case kLeft:
    case kTop:
      left_ = control.GetInt(kLeft);
      top_ = control.GetInt(kTop);
      if (GtkWidget* parent = gtk_widget_get_parent(widget_); parent != nullptr && GTK_IS_LAYOUT(parent)) {
        gtk_layout_move(GTK_LAYOUT(parent), widget_, left_, top_);
      }
      break;
    case kWidth:
    case kHeight:
      gtk_widget_set_size_request(widget_, control.GetInt(kWidth), control.GetInt(kHeight));
      break;
    case kDisable:
      gtk_widget_set_sensitive(widget_, !control.GetBool(kDisable));
      break;
    case kMousePointer:
      pointer_code_ = control.GetInt(kMousePointer);
      if (gtk_widget_get_realized(widget_)) ApplyPointer();
      break;
    default:
      break;
  }
}

gboolean GtkControl::ButtonPressed(const GdkEventButton& event) {
  if (event.button != GDK_BUTTON_PRIMARY) return FALSE;
  // GTK reports a double click as a second press and then a 2BUTTON event;
  // the second press itself is turned into the double-click event below.
  if (event.type != GDK_BUTTON_PRESS) return TRUE;
  WindowId window = 0;
  ControlId control = 0;
  if (!FindByHandle(Handle(), window, control)) return FALSE;
  if (LeftPressMovesWindow(window, control)) {
    GtkWidget* toplevel = gtk_widget_get_toplevel(widget_);
    gtk_window_begin_move_drag(GTK_WINDOW(toplevel), static_cast<gint>(event.button),
                               static_cast<gint>(event.x_root), static_cast<gint>(event.y_root),
                               event.time);
    return TRUE;
  }
  GtkSettings* settings = gtk_widget_get_settings(widget_);
  gint double_time = 400;
  gint double_distance = 5;
  g_object_get(settings, "gtk-double-click-time", &double_time, "gtk-double-click-distance",
               &double_distance, nullptr);
  const bool double_click = last_press_time_ != 0 &&
                            event.time - last_press_time_ <= static_cast<guint32>(double_time) &&
                            std::abs(event.x - last_press_x_) <= double_distance &&
                            std::abs(event.y - last_press_y_) <= double_distance;
  // After a double click the next press starts counting afresh.
  last_press_time_ = double_click ? 0 : event.time;
  last_press_x_ = event.x;
  last_press_y_ = event.y;
  RaiseEvent(window, control, double_click ? kDoubleClick : kLeftButtonDown,
             {static_cast<std::int32_t>(event.x), static_cast<std::int32_t>(event.y),
              KeyState(event.state)});
  return TRUE;
}

}  // namespace gtk

// ---------------------------------------------------------------- factories

std::unique_ptr<NativeControl> CreateNativeWindow(const ControlDescription& description, NativeControl*) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  const int width = description.GetInt(kWidth);
  const int height = description.GetInt(kHeight);
  gtk_window_set_title(GTK_WINDOW(window), gtk::Utf8FromGbk(description.GetText(window_setting::kTitle)).c_str());
  gtk_window_set_decorated(GTK_WINDOW(window), description.GetInt(window_setting::kBorderStyle) != 0);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), !description.GetBool(window_setting::kShowInTaskbar));
  gtk_window_set_keep_above(GTK_WINDOW(window), description.GetBool(window_setting::kAlwaysOnTop));

  // A GtkLayout holds the controls: unlike GtkFixed it does not grow the
  // window to fit a child placed outside it.
  GtkWidget* layout = gtk_layout_new(nullptr, nullptr);
  gtk_widget_set_size_request(layout, width, height);
  gtk_widget_add_events(layout, GDK_BUTTON_PRESS_MASK);
  gtk_container_add(GTK_CONTAINER(window), layout);
  gtk_widget_show(layout);

  // The window takes the executable's icon at 32 and 16 pixels.
  Bytes icon = description.GetBytes(window_setting::kIcon);
  if (icon.empty()) icon = assets::FindEmbedded("DEFAULT_ICON");
  if (GdkPixbuf* full = gtk::PixbufFromImage(DecodeIcon(icon))) {
    GList* icons = nullptr;
    for (const int size : {16, 32}) {
      icons = g_list_prepend(icons, gdk_pixbuf_scale_simple(full, size, size, GDK_INTERP_HYPER));
    }
    gtk_window_set_icon_list(GTK_WINDOW(window), icons);
    g_list_free_full(icons, g_object_unref);
    g_object_unref(full);
  }

  return std::make_unique<gtk::GtkTopWindow>(window, layout, description);
}

std::unique_ptr<NativeControl> CreateNativePicBox(const ControlDescription& description, NativeControl* window) {
  GtkWidget* layout = gtk_layout_new(nullptr, nullptr);
  return std::make_unique<gtk::GtkPicBox>(layout, description, window);
}

std::unique_ptr<NativeControl> CreateNativeTransLabel(const ControlDescription& description,
                                                      NativeControl* window) {
  using namespace translabel_setting;
  return std::make_unique<gtk::GtkTextControl>(
      description, window,
      gtk::GtkTextControl::Settings{kText, kEffect, kFont, kTextColor, kAlign, kWordWrap, kVAlign, -1});
}

std::unique_ptr<NativeControl> CreateNativeLabel(const ControlDescription& description, NativeControl* window) {
  using namespace label_setting;
  return std::make_unique<gtk::GtkTextControl>(
      description, window,
      gtk::GtkTextControl::Settings{kText, kEffect, kFont, kTextColor, kAlign, kWordWrap, kVAlign, kBackColor});
}

// ---------------------------------------------------------------- platform

namespace native {

bool Initialise(std::string& why) {
  // Global keys are X11 grabs, so GDK runs on X11 (XWayland under Wayland).
  gdk_set_allowed_backends("x11");
  gtk::g_display_open = gtk_init_check(nullptr, nullptr);
  if (!gtk::g_display_open) {
    const char* display = std::getenv("DISPLAY");
    why = display == nullptr || *display == '\0'
              ? "No display: DISPLAY is not set. Zorva needs an X11 display (or XWayland)."
              : std::string("Cannot open the X11 display \"") + display + "\".";
  }
  return gtk::g_display_open;
}

void Uninitialise() {}

ScreenSize PrimaryScreenSize() {
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor == nullptr) return {0, 0};
  GdkRectangle area;
  gdk_monitor_get_geometry(monitor, &area);
  return {area.width, area.height};
}

int RunLoop() {
  gtk_main();
  return gtk::g_quit_code;
}

void Quit(int code) {
  gtk::g_quit_code = code;
  gtk_main_quit();
}

void ShowErrorBox(std::string_view message) {
  const std::string text = gtk::Utf8FromGbk(message);
  std::fprintf(stderr, "zorva: %s\n", text.c_str());
  if (!gtk::g_display_open) return;
  GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK,
                                          "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), "Zorva");
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
}

void ExitProcess(int code) {
  std::fflush(nullptr);
  if (GdkDisplay* display = gtk::g_display_open ? gdk_display_get_default() : nullptr) {
    gdk_display_flush(display);
  }
  _exit(code);
}

}  // namespace native
}  // namespace toolkit
