"""Thin ctypes bindings to libX11 and libXfixes for the test harness.

Only what the harness needs: window lists and properties, geometry,
XFixes cursor names, root-window screenshots and a MapNotify watcher.
No build step; libX11.so.6 and libXfixes.so.3 come with the GTK stack.

A connection is used from one thread at a time (open one per thread).
X protocol errors (a window vanishing between two calls) are recorded,
never fatal: Xlib's default handler would exit the process.
"""

import ctypes
import ctypes.util
import select
import time
from collections import namedtuple

_x11 = ctypes.CDLL("libX11.so.6")
_xfixes = ctypes.CDLL("libXfixes.so.3")

Window = ctypes.c_ulong
Atom = ctypes.c_ulong

# Event types and masks (X.h).
CreateNotify = 16
DestroyNotify = 17
UnmapNotify = 18
MapNotify = 19
ReparentNotify = 21
ConfigureNotify = 22
SubstructureNotifyMask = 1 << 19
PropertyChangeMask = 1 << 22
IsViewable = 2
ZPixmap = 2
AllPlanes = 0xFFFFFFFF
AnyPropertyType = 0


class XWindowAttributes(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_int), ("y", ctypes.c_int),
        ("width", ctypes.c_int), ("height", ctypes.c_int),
        ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
        ("visual", ctypes.c_void_p), ("root", Window),
        ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
        ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
        ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
        ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
        ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int),
        ("all_event_masks", ctypes.c_long), ("your_event_mask", ctypes.c_long),
        ("do_not_propagate_mask", ctypes.c_long),
        ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p),
    ]


class XAnyWindowEvent(ctypes.Structure):
    # Common head of CreateNotify, MapNotify, ReparentNotify, ...:
    # w1 is `event`/`parent`, w2 is `window`, w3 is `parent` (ReparentNotify).
    _fields_ = [
        ("type", ctypes.c_int), ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
        ("w1", Window), ("w2", Window), ("w3", Window),
    ]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("any", XAnyWindowEvent),
                ("pad", ctypes.c_long * 24)]


class XFixesCursorImage(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_short), ("y", ctypes.c_short),
        ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
        ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
        ("cursor_serial", ctypes.c_ulong),
        ("pixels", ctypes.POINTER(ctypes.c_ulong)),
        ("atom", Atom), ("name", ctypes.c_char_p),
    ]


class XImage(ctypes.Structure):
    _fields_ = [
        ("width", ctypes.c_int), ("height", ctypes.c_int),
        ("xoffset", ctypes.c_int), ("format", ctypes.c_int),
        ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
        ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
        ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
        ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
        ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong),
        ("blue_mask", ctypes.c_ulong), ("obdata", ctypes.c_void_p),
        ("funcs", ctypes.c_void_p * 6),
    ]


def _proto(lib, name, restype, *argtypes):
    f = getattr(lib, name)
    f.restype = restype
    f.argtypes = list(argtypes)
    return f


_vp = ctypes.c_void_p
_pint = ctypes.POINTER(ctypes.c_int)
_puint = ctypes.POINTER(ctypes.c_uint)
_pulong = ctypes.POINTER(ctypes.c_ulong)

XInitThreads = _proto(_x11, "XInitThreads", ctypes.c_int)
XOpenDisplay = _proto(_x11, "XOpenDisplay", _vp, ctypes.c_char_p)
XCloseDisplay = _proto(_x11, "XCloseDisplay", ctypes.c_int, _vp)
XDefaultRootWindow = _proto(_x11, "XDefaultRootWindow", Window, _vp)
XConnectionNumber = _proto(_x11, "XConnectionNumber", ctypes.c_int, _vp)
XInternAtom = _proto(_x11, "XInternAtom", Atom, _vp, ctypes.c_char_p, ctypes.c_int)
XGetAtomName = _proto(_x11, "XGetAtomName", _vp, _vp, Atom)
XFree = _proto(_x11, "XFree", ctypes.c_int, _vp)
XSync = _proto(_x11, "XSync", ctypes.c_int, _vp, ctypes.c_int)
XFlush = _proto(_x11, "XFlush", ctypes.c_int, _vp)
XPending = _proto(_x11, "XPending", ctypes.c_int, _vp)
XNextEvent = _proto(_x11, "XNextEvent", ctypes.c_int, _vp, ctypes.POINTER(XEvent))
XSelectInput = _proto(_x11, "XSelectInput", ctypes.c_int, _vp, Window, ctypes.c_long)
XGetWindowProperty = _proto(
    _x11, "XGetWindowProperty", ctypes.c_int,
    _vp, Window, Atom, ctypes.c_long, ctypes.c_long, ctypes.c_int, Atom,
    ctypes.POINTER(Atom), _pint, _pulong, _pulong, ctypes.POINTER(_vp))
XGetWindowAttributes = _proto(_x11, "XGetWindowAttributes", ctypes.c_int,
                              _vp, Window, ctypes.POINTER(XWindowAttributes))
XTranslateCoordinates = _proto(
    _x11, "XTranslateCoordinates", ctypes.c_int,
    _vp, Window, Window, ctypes.c_int, ctypes.c_int, _pint, _pint,
    ctypes.POINTER(Window))
XQueryTree = _proto(
    _x11, "XQueryTree", ctypes.c_int, _vp, Window, ctypes.POINTER(Window),
    ctypes.POINTER(Window), ctypes.POINTER(ctypes.POINTER(Window)), _puint)
XQueryPointer = _proto(
    _x11, "XQueryPointer", ctypes.c_int, _vp, Window, ctypes.POINTER(Window),
    ctypes.POINTER(Window), _pint, _pint, _pint, _pint, _puint)
XGetImage = _proto(_x11, "XGetImage", ctypes.POINTER(XImage), _vp, Window,
                   ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                   ctypes.c_ulong, ctypes.c_int)
_ErrorHandler = ctypes.CFUNCTYPE(ctypes.c_int, _vp, _vp)
XSetErrorHandler = _proto(_x11, "XSetErrorHandler", _vp, _ErrorHandler)

XFixesQueryExtension = _proto(_xfixes, "XFixesQueryExtension", ctypes.c_int,
                              _vp, _pint, _pint)
XFixesQueryVersion = _proto(_xfixes, "XFixesQueryVersion", ctypes.c_int,
                            _vp, _pint, _pint)
XFixesGetCursorImage = _proto(_xfixes, "XFixesGetCursorImage",
                              ctypes.POINTER(XFixesCursorImage), _vp)

XInitThreads()

errors = []  # (error_code, request_code) of recent protocol errors


class _XErrorEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("display", _vp),
                ("resourceid", ctypes.c_ulong), ("serial", ctypes.c_ulong),
                ("error_code", ctypes.c_ubyte), ("request_code", ctypes.c_ubyte),
                ("minor_code", ctypes.c_ubyte)]


@_ErrorHandler
def _on_error(_display, event):
    e = ctypes.cast(event, ctypes.POINTER(_XErrorEvent)).contents
    errors.append((e.error_code, e.request_code))
    del errors[:-100]
    return 0


XSetErrorHandler(_on_error)

Geometry = namedtuple("Geometry", "x y width height")
WindowInfo = namedtuple("WindowInfo", "id title pid geometry viewable")


class Connection:
    """One Xlib connection to `display` (e.g. ":3")."""

    def __init__(self, display):
        self.display_name = display
        self.dpy = XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open X display %s" % display)
        self.root = XDefaultRootWindow(self.dpy)
        self._atoms = {}
        self._xfixes = None

    def close(self):
        if self.dpy:
            XCloseDisplay(self.dpy)
            self.dpy = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def fileno(self):
        return XConnectionNumber(self.dpy)

    def atom(self, name):
        a = self._atoms.get(name)
        if a is None:
            a = self._atoms[name] = XInternAtom(self.dpy, name.encode(), 0)
        return a

    def atom_name(self, atom):
        p = XGetAtomName(self.dpy, atom)
        if not p:
            return None
        try:
            return ctypes.string_at(p).decode("utf-8", "replace")
        finally:
            XFree(p)

    def get_property(self, window, name, type_name=None):
        """Returns (type name, format, items) or None when absent.

        items: bytes for format 8, a list of ints for formats 16 and 32.
        """
        actual_type = Atom()
        actual_format = ctypes.c_int()
        nitems = ctypes.c_ulong()
        after = ctypes.c_ulong()
        data = _vp()
        req_type = self.atom(type_name) if type_name else AnyPropertyType
        status = XGetWindowProperty(
            self.dpy, window, self.atom(name), 0, 1 << 20, 0, req_type,
            ctypes.byref(actual_type), ctypes.byref(actual_format),
            ctypes.byref(nitems), ctypes.byref(after), ctypes.byref(data))
        if status != 0 or not actual_type.value:
            if data.value:
                XFree(data)
            return None
        try:
            fmt, n = actual_format.value, nitems.value
            if fmt == 8:
                items = ctypes.string_at(data, n)
            elif fmt == 16:
                items = list((ctypes.c_short * n).from_address(data.value))
            else:  # format 32 is an array of C longs
                items = list((ctypes.c_ulong * n).from_address(data.value))
            return self.atom_name(actual_type.value), fmt, items
        finally:
            XFree(data)

    def client_list(self):
        """Window ids in the root's _NET_CLIENT_LIST (the window manager's list)."""
        p = self.get_property(self.root, "_NET_CLIENT_LIST")
        return list(p[2]) if p else []

    def title(self, window):
        p = self.get_property(window, "_NET_WM_NAME")
        if p is None:
            p = self.get_property(window, "WM_NAME")
        if p is None or p[1] != 8:
            return None
        return p[2].decode("utf-8", "replace")

    def pid(self, window):
        p = self.get_property(window, "_NET_WM_PID", "CARDINAL")
        return int(p[2][0]) if p and p[2] else None

    def attributes(self, window):
        a = XWindowAttributes()
        if not XGetWindowAttributes(self.dpy, window, ctypes.byref(a)):
            return None
        return a

    def geometry(self, window):
        """Geometry of `window` in root coordinates, or None if it is gone."""
        a = self.attributes(window)
        if a is None:
            return None
        x, y, child = ctypes.c_int(), ctypes.c_int(), Window()
        if not XTranslateCoordinates(self.dpy, window, self.root, 0, 0,
                                     ctypes.byref(x), ctypes.byref(y),
                                     ctypes.byref(child)):
            return None
        return Geometry(x.value, y.value, a.width, a.height)

    def viewable(self, window):
        a = self.attributes(window)
        return bool(a) and a.map_state == IsViewable

    def _query_tree(self, window):
        """(parent, [children]) of `window`, or None when X refuses."""
        root, parent = Window(), Window()
        kids = ctypes.POINTER(Window)()
        n = ctypes.c_uint()
        if not XQueryTree(self.dpy, window, ctypes.byref(root),
                          ctypes.byref(parent), ctypes.byref(kids),
                          ctypes.byref(n)):
            return None
        try:
            return parent.value, [kids[i] for i in range(n.value)]
        finally:
            if kids:
                XFree(kids)

    def children(self, window):
        tree = self._query_tree(window)
        return tree[1] if tree else []

    def parent(self, window):
        tree = self._query_tree(window)
        return tree[0] if tree else None

    def info(self, window):
        return WindowInfo(window, self.title(window), self.pid(window),
                          self.geometry(window), self.viewable(window))

    def windows(self):
        """WindowInfo for every managed client, or for every top-level window
        carrying WM_NAME/_NET_WM_PID when no window manager keeps a list."""
        ids = self.client_list()
        if not ids:
            ids = [w for w in self.children(self.root)
                   if self.get_property(w, "_NET_WM_PID") or
                   self.get_property(w, "WM_NAME")]
        return [self.info(w) for w in ids]

    def pointer(self):
        root, child = Window(), Window()
        rx, ry, wx, wy = (ctypes.c_int() for _ in range(4))
        mask = ctypes.c_uint()
        XQueryPointer(self.dpy, self.root, ctypes.byref(root), ctypes.byref(child),
                      ctypes.byref(rx), ctypes.byref(ry), ctypes.byref(wx),
                      ctypes.byref(wy), ctypes.byref(mask))
        return rx.value, ry.value

    def cursor_name(self):
        """Name of the cursor shown now (e.g. "left_ptr", "pointer"), "" if unnamed."""
        if self._xfixes is None:
            ev, err = ctypes.c_int(), ctypes.c_int()
            if not XFixesQueryExtension(self.dpy, ctypes.byref(ev), ctypes.byref(err)):
                raise RuntimeError("X server lacks XFixes")
            major, minor = ctypes.c_int(5), ctypes.c_int(0)
            XFixesQueryVersion(self.dpy, ctypes.byref(major), ctypes.byref(minor))
            self._xfixes = major.value
        img = XFixesGetCursorImage(self.dpy)
        if not img:
            return None
        try:
            name = img.contents.name
            return name.decode("utf-8", "replace") if name else ""
        finally:
            XFree(img)

    def capture(self, x=0, y=0, width=None, height=None):
        """An RGB PIL image of the root window (or a part of it)."""
        from PIL import Image
        if width is None or height is None:
            a = self.attributes(self.root)
            width = a.width - x if width is None else width
            height = a.height - y if height is None else height
        img = XGetImage(self.dpy, self.root, x, y, width, height, AllPlanes, ZPixmap)
        if not img:
            raise RuntimeError("XGetImage failed")
        try:
            im = img.contents
            if im.bits_per_pixel != 32:
                raise RuntimeError("unsupported %d bpp" % im.bits_per_pixel)
            raw = ctypes.string_at(im.data, im.bytes_per_line * im.height)
            mode = "BGRX" if im.byte_order == 0 else "XRGB"
            return Image.frombuffer("RGB", (im.width, im.height), raw, "raw",
                                    mode, im.bytes_per_line, 1).copy()
        finally:
            XFree(img.contents.data)
            XFree(img)

    def sync(self):
        XSync(self.dpy, 0)


class MapWatcher:
    """Reports when a top-level window of a given process becomes viewable.

    Selects SubstructureNotify on the root before the process starts, then
    stamps each MapNotify of a root child (the client itself, or the frame a
    window manager maps around it) with time.monotonic() on arrival.
    """

    def __init__(self, display):
        self.conn = Connection(display)
        XSelectInput(self.conn.dpy, self.conn.root, SubstructureNotifyMask)
        XSync(self.conn.dpy, 0)
        self.drain()

    def close(self):
        self.conn.close()

    def drain(self):
        """Discards events received so far."""
        ev = XEvent()
        while XPending(self.conn.dpy):
            XNextEvent(self.conn.dpy, ctypes.byref(ev))

    def _matches(self, window, pid, title):
        # A window manager maps its frame; the client sits a level or two below.
        c = self.conn
        level = [window]
        for _ in range(4):
            for w in level:
                if pid is not None and c.pid(w) == pid:
                    return w
                if title is not None and c.title(w) == title:
                    return w
            level = [k for w in level for k in c.children(w)]
            if not level:
                break
        return None

    def wait(self, pid=None, title=None, timeout=10.0, alive=None):
        """Returns (monotonic time of MapNotify, client window id), or None
        on timeout or when `alive()` turns false."""
        ev = XEvent()
        deadline = time.monotonic() + timeout
        fd = self.conn.fileno()
        dpy = self.conn.dpy
        while True:
            while XPending(dpy):
                XNextEvent(dpy, ctypes.byref(ev))
                now = time.monotonic()
                t = ev.type
                if t == MapNotify and ev.any.w1 == self.conn.root:
                    w = self._matches(ev.any.w2, pid, title)
                    if w is not None:
                        return now, w
            left = deadline - time.monotonic()
            if left <= 0 or (alive is not None and not alive()):
                return None
            select.select([fd], [], [], min(left, 0.05))
