// X11 backend of the system-wide hotkey facility (GTK3 + Xlib).
//
// Implemented:
//  [x] Windows virtual-key codes to X keysyms: F1-F24, A-Z, 0-9, keypad,
//      navigation and editing keys, US-layout punctuation, media keys.
//      Any other code, or a keysym with no key on the current keyboard
//      (e.g. F13-F24 on a plain pc105 keymap), is refused with 0.
//  [x] Modifiers 1 Ctrl, 2 Shift, 4 Alt -> ControlMask, ShiftMask, Mod1Mask.
//  [x] Other modifier bits reach XGrabKey as X modifier bits at the same
//      positions (8 Mod1 ... 128 Mod5); bits the server rejects are refused.
//  [x] Passive grabs on the root window, also with CapsLock, NumLock and both,
//      so the locks do not hide the key.
//  [x] Key held by another client (BadAccess): refused, our partial grabs undone.
//  [x] Same key and modifiers registered twice in this process: refused.
//  [x] Presses read by a GDK filter on the root window and delivered
//      synchronously on the GTK thread to the last feedback control given
//      (none is delivered while that control is 0).
//  [x] Auto-repeat: every repeated KeyPress is a press, as RegisterHotKey does.
//  [x] GDK display missing or not X11 (Wayland, Broadway): every call refused.
//  [ ] Keyboard mapping changes (MappingNotify): grabs keep their old keycodes.
//  [ ] ScrollLock or other lock-like modifiers held on: the key is not seen.
//  [ ] owner_window is unused: grabs belong to the connection, not a window.

#include <X11/X.h>
#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdk.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "hotkeys/hotkeys.h"
#include "toolkit/toolkit.h"

namespace hotkeys {
namespace {

constexpr unsigned int kAllModifierBits = ShiftMask | LockMask | ControlMask |
                                          Mod1Mask | Mod2Mask | Mod3Mask |
                                          Mod4Mask | Mod5Mask;

struct KeyName {
  std::int32_t virtual_key;
  KeySym keysym;
};

// Keys beyond the letter, digit, F-key and keypad-digit ranges.
constexpr KeyName kOtherKeys[] = {
    {0x08, XK_BackSpace},
    {0x09, XK_Tab},
    {0x0C, XK_Clear},
    {0x0D, XK_Return},
    {0x13, XK_Pause},
    {0x14, XK_Caps_Lock},
    {0x1B, XK_Escape},
    {0x20, XK_space},
    {0x21, XK_Prior},
    {0x22, XK_Next},
    {0x23, XK_End},
    {0x24, XK_Home},
    {0x25, XK_Left},
    {0x26, XK_Up},
    {0x27, XK_Right},
    {0x28, XK_Down},
    {0x2C, XK_Print},
    {0x2D, XK_Insert},
    {0x2E, XK_Delete},
    {0x2F, XK_Help},
    {0x5B, XK_Super_L},
    {0x5C, XK_Super_R},
    {0x5D, XK_Menu},
    {0x6A, XK_KP_Multiply},
    {0x6B, XK_KP_Add},
    {0x6C, XK_KP_Separator},
    {0x6D, XK_KP_Subtract},
    {0x6E, XK_KP_Decimal},
    {0x6F, XK_KP_Divide},
    {0x90, XK_Num_Lock},
    {0x91, XK_Scroll_Lock},
    {0xAD, XF86XK_AudioMute},
    {0xAE, XF86XK_AudioLowerVolume},
    {0xAF, XF86XK_AudioRaiseVolume},
    {0xB0, XF86XK_AudioNext},
    {0xB1, XF86XK_AudioPrev},
    {0xB2, XF86XK_AudioStop},
    {0xB3, XF86XK_AudioPlay},
    {0xBA, XK_semicolon},
    {0xBB, XK_equal},
    {0xBC, XK_comma},
    {0xBD, XK_minus},
    {0xBE, XK_period},
    {0xBF, XK_slash},
    {0xC0, XK_grave},
    {0xDB, XK_bracketleft},
    {0xDC, XK_backslash},
    {0xDD, XK_bracketright},
    {0xDE, XK_apostrophe},
};

KeySym KeysymForVirtualKey(std::int32_t vk) {
  if (vk >= 0x70 && vk <= 0x87) return XK_F1 + static_cast<KeySym>(vk - 0x70);
  if (vk >= 'A' && vk <= 'Z') return XK_a + static_cast<KeySym>(vk - 'A');
  if (vk >= '0' && vk <= '9') return XK_0 + static_cast<KeySym>(vk - '0');
  if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + static_cast<KeySym>(vk - 0x60);
  for (const KeyName& k : kOtherKeys) {
    if (k.virtual_key == vk) return k.keysym;
  }
  return NoSymbol;
}

unsigned int XModifiers(std::int32_t modifiers) {
  unsigned int x = static_cast<unsigned int>(modifiers) &
                   ~static_cast<unsigned int>(kCtrl | kShift | kAlt);
  if (modifiers & kCtrl) x |= ControlMask;
  if (modifiers & kShift) x |= ShiftMask;
  if (modifiers & kAlt) x |= Mod1Mask;
  return x;
}

// The modifier bit that Num_Lock sets, or 0 when no modifier carries it.
unsigned int NumLockMask(Display* display) {
  const KeyCode num_lock = XKeysymToKeycode(display, XK_Num_Lock);
  XModifierKeymap* map = XGetModifierMapping(display);
  unsigned int mask = 0;
  if (map != nullptr && num_lock != 0) {
    for (int modifier = 0; modifier < 8 && mask == 0; ++modifier) {
      for (int i = 0; i < map->max_keypermod; ++i) {
        if (map->modifiermap[modifier * map->max_keypermod + i] == num_lock) {
          mask = 1u << modifier;
          break;
        }
      }
    }
  }
  if (map != nullptr) XFreeModifiermap(map);
  return mask;
}

struct Registration {
  HotkeyId id;
  KeyCode keycode;
  unsigned int modifiers;            // without lock bits
  unsigned int locks;                // lock bits ignored when matching
  std::vector<unsigned int> grabbed;  // every modifier set grabbed
};

std::vector<Registration> registrations;
toolkit::NativeHandle feedback_control = 0;
HotkeyId next_id = 1;
bool filter_installed = false;

bool Grab(GdkDisplay* display, KeyCode keycode, unsigned int modifiers) {
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  gdk_x11_display_error_trap_push(display);
  XGrabKey(x, keycode, modifiers, GDK_ROOT_WINDOW(), False, GrabModeAsync,
           GrabModeAsync);
  XSync(x, False);
  return gdk_x11_display_error_trap_pop(display) == 0;
}

void Ungrab(GdkDisplay* display, KeyCode keycode,
            const std::vector<unsigned int>& grabbed) {
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  gdk_x11_display_error_trap_push(display);
  for (unsigned int modifiers : grabbed) {
    XUngrabKey(x, keycode, modifiers, GDK_ROOT_WINDOW());
  }
  XSync(x, False);
  gdk_x11_display_error_trap_pop_ignored(display);
}

GdkFilterReturn OnRootWindowEvent(GdkXEvent* native, GdkEvent* /*event*/,
                                  gpointer /*data*/) {
  const XEvent* xevent = static_cast<const XEvent*>(native);
  if (xevent->type != KeyPress) return GDK_FILTER_CONTINUE;
  const XKeyEvent& key = xevent->xkey;
  HotkeyId id = 0;
  for (const Registration& r : registrations) {
    if (r.keycode == key.keycode &&
        (key.state & kAllModifierBits & ~r.locks) == r.modifiers) {
      id = r.id;
      break;
    }
  }
  if (id == 0) return GDK_FILTER_CONTINUE;
  // Copied out first: the receiver may register or unregister keys.
  const toolkit::NativeHandle control = feedback_control;
  if (control != 0) toolkit::RaiseFeedbackEvent(control, id, 0);
  return GDK_FILTER_REMOVE;
}

}  // namespace

HotkeyId RegisterHotkey(toolkit::NativeHandle /*owner_window*/,
                        toolkit::NativeHandle feedback, std::int32_t modifiers,
                        std::int32_t virtual_key) {
  feedback_control = feedback;

  const KeySym keysym = KeysymForVirtualKey(virtual_key);
  if (keysym == NoSymbol) return 0;
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return 0;
  if (next_id == std::numeric_limits<HotkeyId>::max()) return 0;

  Display* x = GDK_DISPLAY_XDISPLAY(display);
  const KeyCode keycode = XKeysymToKeycode(x, keysym);
  if (keycode == 0) return 0;

  const unsigned int locks = LockMask | NumLockMask(x);
  const unsigned int wanted = XModifiers(modifiers);
  const unsigned int base = wanted & ~locks;
  for (const Registration& r : registrations) {
    if (r.keycode == keycode && r.modifiers == base) return 0;
  }

  std::vector<unsigned int> variants;
  for (unsigned int lock : {0u, unsigned{LockMask}, locks & ~unsigned{LockMask}, locks}) {
    const unsigned int v = wanted | lock;
    if (std::find(variants.begin(), variants.end(), v) == variants.end()) {
      variants.push_back(v);
    }
  }
  std::vector<unsigned int> grabbed;
  for (unsigned int v : variants) {
    if (!Grab(display, keycode, v)) {
      Ungrab(display, keycode, grabbed);
      return 0;
    }
    grabbed.push_back(v);
  }

  if (!filter_installed) {
    gdk_window_add_filter(gdk_get_default_root_window(), OnRootWindowEvent,
                          nullptr);
    filter_installed = true;
  }
  const HotkeyId id = next_id++;
  registrations.push_back({id, keycode, base, locks, std::move(grabbed)});
  return id;
}

void UnregisterHotkey(HotkeyId id) {
  const auto it =
      std::find_if(registrations.begin(), registrations.end(),
                   [id](const Registration& r) { return r.id == id; });
  if (it == registrations.end()) return;
  GdkDisplay* display = gdk_display_get_default();
  if (display != nullptr && GDK_IS_X11_DISPLAY(display)) {
    Ungrab(display, it->keycode, it->grabbed);
  }
  registrations.erase(it);
}

}  // namespace hotkeys
