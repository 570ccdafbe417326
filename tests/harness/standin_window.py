"""A small GTK3 window driven through ctypes (no bindings, no build).

Used by the harness self-test and benches as a stand-in toplevel:

  /usr/bin/python3 standin_window.py [--title T] [--size 400x300]
      [--undecorated] [--center] [--cursor NAME] [--hide-after S] [--show-after S]

Prints one line per event on stdout: "mapped", "unmapped",
"key NAME", "button N X Y". Esc quits with exit code 0.
"""

import argparse
import ctypes
import sys

gtk = ctypes.CDLL("libgtk-3.so.0")
gdk = ctypes.CDLL("libgdk-3.so.0")
gobject = ctypes.CDLL("libgobject-2.0.so.0")
glib = ctypes.CDLL("libglib-2.0.so.0")

vp = ctypes.c_void_p
gtk.gtk_init_check.restype = ctypes.c_int
gtk.gtk_init_check.argtypes = [vp, vp]
gtk.gtk_window_new.restype = vp
gtk.gtk_window_new.argtypes = [ctypes.c_int]
gtk.gtk_window_set_title.argtypes = [vp, ctypes.c_char_p]
gtk.gtk_window_set_default_size.argtypes = [vp, ctypes.c_int, ctypes.c_int]
gtk.gtk_window_set_decorated.argtypes = [vp, ctypes.c_int]
gtk.gtk_window_set_position.argtypes = [vp, ctypes.c_int]
gtk.gtk_widget_add_events.argtypes = [vp, ctypes.c_int]
gtk.gtk_widget_show_all.argtypes = [vp]
gtk.gtk_widget_hide.argtypes = [vp]
gtk.gtk_widget_get_window.restype = vp
gtk.gtk_widget_get_window.argtypes = [vp]
gdk.gdk_display_get_default.restype = vp
gdk.gdk_cursor_new_from_name.restype = vp
gdk.gdk_cursor_new_from_name.argtypes = [vp, ctypes.c_char_p]
gdk.gdk_window_set_cursor.argtypes = [vp, vp]
gdk.gdk_keyval_name.restype = ctypes.c_char_p
gdk.gdk_keyval_name.argtypes = [ctypes.c_uint]
gobject.g_signal_connect_data.restype = ctypes.c_ulong
gobject.g_signal_connect_data.argtypes = [vp, ctypes.c_char_p, vp, vp, vp, ctypes.c_int]
glib.g_timeout_add.restype = ctypes.c_uint
glib.g_timeout_add.argtypes = [ctypes.c_uint, vp, vp]

EventCb = ctypes.CFUNCTYPE(ctypes.c_int, vp, vp, vp)
VoidCb = ctypes.CFUNCTYPE(None, vp, vp)
SourceCb = ctypes.CFUNCTYPE(ctypes.c_int, vp)

GDK_BUTTON_PRESS_MASK = 1 << 8
GDK_KEY_PRESS_MASK = 1 << 10
GTK_WIN_POS_CENTER = 1


def say(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--title", default="Stand-in")
    ap.add_argument("--size", default="400x300")
    ap.add_argument("--undecorated", action="store_true")
    ap.add_argument("--center", action="store_true")
    ap.add_argument("--cursor")
    ap.add_argument("--hide-after", type=float)
    ap.add_argument("--show-after", type=float)
    args = ap.parse_args()
    if not gtk.gtk_init_check(None, None):
        sys.stderr.write("cannot open display\n")
        return 2
    width, height = (int(v) for v in args.size.split("x"))
    win = gtk.gtk_window_new(0)
    gtk.gtk_window_set_title(win, args.title.encode())
    gtk.gtk_window_set_default_size(win, width, height)
    if args.undecorated:
        gtk.gtk_window_set_decorated(win, 0)
    if args.center:
        gtk.gtk_window_set_position(win, GTK_WIN_POS_CENTER)
    gtk.gtk_widget_add_events(win, GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK)

    @VoidCb
    def on_destroy(_w, _d):
        gtk.gtk_main_quit()

    @EventCb
    def on_key(_w, event, _d):
        keyval = ctypes.c_uint.from_address(event + 28).value
        name = (gdk.gdk_keyval_name(keyval) or b"?").decode()
        say("key " + name)
        if name == "Escape":
            gtk.gtk_main_quit()
        return 1

    @EventCb
    def on_button(_w, event, _d):
        x = ctypes.c_double.from_address(event + 24).value
        y = ctypes.c_double.from_address(event + 32).value
        button = ctypes.c_uint.from_address(event + 52).value
        say("button %d %d %d" % (button, x, y))
        return 1

    @EventCb
    def on_map(_w, _e, _d):
        say("mapped")
        return 0

    @EventCb
    def on_unmap(_w, _e, _d):
        say("unmapped")
        return 0

    @SourceCb
    def hide(_d):
        gtk.gtk_widget_hide(win)
        return 0

    @SourceCb
    def show(_d):
        gtk.gtk_widget_show_all(win)
        return 0

    callbacks = [on_destroy, on_key, on_button, on_map, on_unmap, hide, show]
    for signal, cb in ((b"destroy", on_destroy), (b"key-press-event", on_key),
                       (b"button-press-event", on_button), (b"map-event", on_map),
                       (b"unmap-event", on_unmap)):
        gobject.g_signal_connect_data(win, signal, ctypes.cast(cb, vp), None, None, 0)
    gtk.gtk_widget_show_all(win)
    if args.cursor:
        cursor = gdk.gdk_cursor_new_from_name(gdk.gdk_display_get_default(),
                                              args.cursor.encode())
        gdk.gdk_window_set_cursor(gtk.gtk_widget_get_window(win), cursor)
    if args.hide_after is not None:
        glib.g_timeout_add(int(args.hide_after * 1000), ctypes.cast(hide, vp), None)
    if args.show_after is not None:
        glib.g_timeout_add(int(args.show_after * 1000), ctypes.cast(show, vp), None)
    gtk.gtk_main()
    del callbacks
    return 0


if __name__ == "__main__":
    sys.exit(main())
