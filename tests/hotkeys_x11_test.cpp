// The X11 hotkey backend against a real X server: its own Xvfb, openbox and
// session bus, GTK on top. Key presses come from XTest on a second X
// connection that also owns the window holding the keyboard focus.

#include <gtest/gtest.h>

#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "hotkeys/hotkeys.h"
#include "toolkit/toolkit.h"

namespace {

using Clock = std::chrono::steady_clock;
using hotkeys::HotkeyId;

struct Delivery {
  toolkit::NativeHandle control;
  std::int32_t first;
  std::int32_t second;
  bool operator==(const Delivery&) const = default;
};

void PrintTo(const Delivery& d, std::ostream* os) {
  *os << "(control " << d.control << ", " << d.first << ", " << d.second
      << ")";
}

std::vector<Delivery> deliveries;

}  // namespace

void toolkit::RaiseFeedbackEvent(NativeHandle control, std::int32_t first,
                                 std::int32_t second) {
  deliveries.push_back({control, first, second});
}

namespace {

constexpr std::int32_t kVkF6 = 0x75;
constexpr std::int32_t kVkF7 = 0x76;
constexpr std::int32_t kVkF8 = 0x77;
constexpr std::int32_t kVkF9 = 0x78;
constexpr std::int32_t kVkF10 = 0x79;
constexpr std::int32_t kVkF11 = 0x7A;
constexpr std::int32_t kVkF12 = 0x7B;

// ---- processes ------------------------------------------------------------

// Starts `args` with stdout/stderr to `log`; `pass_fd` stays open in the
// child. The child is killed if this process dies first.
pid_t Spawn(const std::vector<std::string>& args, int pass_fd,
            const std::string& log) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);
    dup2(null_fd, 0);
    if (log_fd >= 0) {
      dup2(log_fd, 1);
      dup2(log_fd, 2);
    }
    if (pass_fd >= 0) fcntl(pass_fd, F_SETFD, 0);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (log_fd >= 0) close(log_fd);
  if (null_fd >= 0) close(null_fd);
  return pid;
}

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (waitpid(pid, nullptr, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid = -1;
}

// One line from `fd`, or "" after 15 s or at end of file.
std::string ReadLine(int fd) {
  std::string line;
  const auto deadline = Clock::now() + std::chrono::seconds(15);
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1) break;
    if (c == '\n') return line;
    line += c;
  }
  return "";
}

// ---- X clients other than GDK --------------------------------------------

std::vector<std::pair<Display*, int>> x_errors;
XErrorHandler previous_error_handler = nullptr;
std::set<Display*> test_clients;

int RecordXError(Display* display, XErrorEvent* error) {
  if (test_clients.count(display) != 0) {
    x_errors.push_back({display, error->error_code});
    return 0;
  }
  return previous_error_handler != nullptr ? previous_error_handler(display, error) : 0;
}

// Settles GDK: a round trip on its connection, then every pending event.
void Settle() {
  XSync(gdk_x11_get_default_xdisplay(), False);
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

// Runs the GTK main loop until `done` or a generous guard time.
bool PumpUntil(const std::function<bool()>& done) {
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// A second X client: presses keys through XTest, grabs keys, and owns a
// window that takes the keyboard focus.
class XClient {
 public:
  XClient() : display_(XOpenDisplay(nullptr)) {
    if (display_ != nullptr) test_clients.insert(display_);
  }
  ~XClient() {
    if (display_ == nullptr) return;
    XCloseDisplay(display_);
    test_clients.erase(display_);
  }
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;

  bool ok() const { return display_ != nullptr; }
  KeyCode Code(KeySym keysym) const { return XKeysymToKeycode(display_, keysym); }
  unsigned int NumLockMask() const { return XkbKeysymToModifiers(display_, XK_Num_Lock); }

  bool GrabKey(KeySym keysym, unsigned int modifiers) {
    const std::size_t before = x_errors.size();
    XGrabKey(display_, Code(keysym), modifiers, DefaultRootWindow(display_),
             False, GrabModeAsync, GrabModeAsync);
    XSync(display_, False);
    return x_errors.size() == before;
  }

  // Presses and releases `key` with `held` keys down; returns once the
  // server has handled the presses.
  void Tap(KeySym key, const std::vector<KeySym>& held = {}) {
    for (KeySym k : held) XTestFakeKeyEvent(display_, Code(k), True, CurrentTime);
    XTestFakeKeyEvent(display_, Code(key), True, CurrentTime);
    XTestFakeKeyEvent(display_, Code(key), False, CurrentTime);
    for (auto k = held.rbegin(); k != held.rend(); ++k) {
      XTestFakeKeyEvent(display_, Code(*k), False, CurrentTime);
    }
    XSync(display_, False);
  }

  void Hold(KeySym key, bool down) {
    XTestFakeKeyEvent(display_, Code(key), down ? True : False, CurrentTime);
    XSync(display_, False);
  }

  unsigned int LockedModifiers() {
    XkbStateRec state{};
    XkbGetState(display_, XkbUseCoreKbd, &state);
    return state.locked_mods;
  }

  // Turns CapsLock and NumLock on or off by their keys, to match `locks`.
  bool SetLocks(unsigned int locks) {
    const unsigned int num_lock = NumLockMask();
    const unsigned int now = LockedModifiers();
    if ((now & LockMask) != (locks & LockMask)) Tap(XK_Caps_Lock);
    if ((now & num_lock) != (locks & num_lock)) Tap(XK_Num_Lock);
    return (LockedModifiers() & (LockMask | num_lock)) == locks;
  }

  // Maps a window and gives it the keyboard focus.
  bool TakeFocus() {
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 10, 10,
                                  200, 100, 0, 0, 0);
    XSelectInput(display_, window_, KeyPressMask | StructureNotifyMask);
    XStoreName(display_, window_, "hotkeys test focus");
    XMapWindow(display_, window_);
    XFlush(display_);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    bool mapped = false;
    while (!mapped && Clock::now() < deadline) {
      while (!mapped && XPending(display_) > 0) {
        XEvent e;
        XNextEvent(display_, &e);
        mapped = e.type == MapNotify && e.xmap.window == window_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!mapped) return false;
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    XSync(display_, False);
    return HasFocus();
  }

  bool HasFocus() {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    return focus == window_;
  }

  // KeyPress events that reached this client (its focus window or its grabs)
  // since the last call.
  std::vector<KeyCode> TakeKeyPresses() {
    std::vector<KeyCode> keys;
    XSync(display_, False);
    while (XPending(display_) > 0) {
      XEvent e;
      XNextEvent(display_, &e);
      if (e.type == KeyPress) keys.push_back(static_cast<KeyCode>(e.xkey.keycode));
    }
    return keys;
  }

 private:
  Display* display_;
  Window window_ = None;
};

// ---- the headless desktop, once per run -----------------------------------

GtkWidget* owner_window = nullptr;
std::vector<GtkWidget*> controls;

toolkit::NativeHandle Handle(GtkWidget* widget) {
  return reinterpret_cast<toolkit::NativeHandle>(widget);
}

class HeadlessDesktop : public testing::Environment {
 public:
  void SetUp() override {
    char dir[] = "/tmp/zorva-hotkeys-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    setenv("HOME", dir, 1);
    setenv("XDG_RUNTIME_DIR", dir, 1);
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GDK_BACKEND", "x11", 1);
    unsetenv("WAYLAND_DISPLAY");

    // A private session bus with nothing to activate, so nothing GTK asks
    // for starts a daemon that outlives the test.
    const std::string conf = dir_ + "/bus.conf";
    std::ofstream(conf)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
           "Configuration 1.0//EN\" "
           "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:path="
        << dir_
        << "/bus</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
    int pipe_fds[2];
    ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
    dbus_ = Spawn({"dbus-daemon", "--nofork", "--config-file=" + conf,
                   "--print-address=" + std::to_string(pipe_fds[1])},
                  pipe_fds[1], dir_ + "/dbus.log");
    close(pipe_fds[1]);
    const std::string bus = ReadLine(pipe_fds[0]);
    close(pipe_fds[0]);
    ASSERT_FALSE(bus.empty()) << "dbus-daemon did not start";
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);

    // Xvfb picks a free display number and writes it when it accepts clients.
    ASSERT_EQ(pipe2(pipe_fds, O_CLOEXEC), 0);
    xvfb_ = Spawn({"Xvfb", "-displayfd", std::to_string(pipe_fds[1]), "-screen",
                   "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                  pipe_fds[1], dir_ + "/xvfb.log");
    close(pipe_fds[1]);
    const std::string number = ReadLine(pipe_fds[0]);
    close(pipe_fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    setenv("DISPLAY", (":" + number).c_str(), 1);

    openbox_ = Spawn({"openbox", "--sm-disable"}, -1, dir_ + "/openbox.log");
    ASSERT_TRUE(WaitForWindowManager()) << "openbox did not start";

    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    previous_error_handler = XSetErrorHandler(RecordXError);
    owner_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    for (int i = 0; i < 3; ++i) {
      controls.push_back(GTK_WIDGET(g_object_ref_sink(gtk_label_new("control"))));
    }
  }

  void TearDown() override {
    if (gdk_display_get_default() != nullptr) {
      gdk_display_close(gdk_display_get_default());
    }
    Stop(openbox_);
    Stop(xvfb_);
    Stop(dbus_);
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
  }

 private:
  static bool WaitForWindowManager() {
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) return false;
    const Atom wm = XInternAtom(d, "WM_S0", False);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    bool running = false;
    while (!running && Clock::now() < deadline) {
      running = XGetSelectionOwner(d, wm) != None;
      if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XCloseDisplay(d);
    return running;
  }

  std::string dir_;
  pid_t dbus_ = -1;
  pid_t xvfb_ = -1;
  pid_t openbox_ = -1;
};

// ---- tests ----------------------------------------------------------------

std::set<HotkeyId> ids_handed_out;

class HotkeysX11 : public testing::Test {
 protected:
  void SetUp() override {
    deliveries.clear();
    ASSERT_TRUE(client_.ok());
    ASSERT_TRUE(client_.TakeFocus()) << "the test window did not get the focus";
    num_lock_ = client_.NumLockMask();
    ASSERT_NE(num_lock_, 0u);
  }

  void TearDown() override {
    for (HotkeyId id : ids_) hotkeys::UnregisterHotkey(id);
    EXPECT_TRUE(client_.SetLocks(0));
    Settle();
  }

  // Registers and checks that a granted id was never handed out before.
  HotkeyId Register(std::int32_t modifiers, std::int32_t vk,
                    toolkit::NativeHandle control) {
    const HotkeyId id =
        hotkeys::RegisterHotkey(Handle(owner_window), control, modifiers, vk);
    if (id != 0) {
      EXPECT_TRUE(ids_handed_out.insert(id).second) << "id " << id << " reused";
      ids_.push_back(id);
    }
    return id;
  }

  void Unregister(HotkeyId id) {
    hotkeys::UnregisterHotkey(id);
    std::erase(ids_, id);
  }

  // Taps a key and returns what reached the feedback control.
  std::vector<Delivery> Press(KeySym key, const std::vector<KeySym>& held = {}) {
    deliveries.clear();
    client_.Tap(key, held);
    Settle();
    return std::exchange(deliveries, {});
  }

  // Taps a key expected to be delivered, waiting for it within a guard time.
  std::vector<Delivery> PressDelivered(KeySym key,
                                       const std::vector<KeySym>& held = {}) {
    deliveries.clear();
    client_.Tap(key, held);
    EXPECT_TRUE(PumpUntil([] { return !deliveries.empty(); })) << "no delivery";
    Settle();
    return std::exchange(deliveries, {});
  }

  // True when no client but a registered set of others holds any lock
  // variant of `key`: a fresh client can grab them all.
  bool FreeForOthers(KeySym key) {
    XClient other;
    for (unsigned int locks : {0u, unsigned{LockMask}, num_lock_, LockMask | num_lock_}) {
      if (!other.GrabKey(key, locks)) return false;
    }
    return true;
  }

  XClient client_;
  unsigned int num_lock_ = 0;
  std::vector<HotkeyId> ids_;
  const toolkit::NativeHandle control_ = Handle(controls[0]);
};

TEST_F(HotkeysX11, PlayerKeysGetDistinctIdsAndArriveWhileAnotherClientHasFocus) {
  const std::pair<std::int32_t, KeySym> keys[] = {
      {kVkF9, XK_F9}, {kVkF10, XK_F10}, {kVkF11, XK_F11}, {kVkF12, XK_F12}, {kVkF8, XK_F8}};
  std::vector<HotkeyId> ids;
  for (const auto& [vk, keysym] : keys) ids.push_back(Register(hotkeys::kNone, vk, control_));
  for (HotkeyId id : ids) EXPECT_NE(id, 0);
  EXPECT_EQ(std::set<HotkeyId>(ids.begin(), ids.end()).size(), ids.size());

  for (std::size_t i = 0; i < ids.size(); ++i) {
    SCOPED_TRACE(XKeysymToString(keys[i].second));
    EXPECT_EQ(PressDelivered(keys[i].second), (std::vector<Delivery>{{control_, ids[i], 0}}));
  }
  EXPECT_TRUE(client_.HasFocus());
  EXPECT_TRUE(client_.TakeKeyPresses().empty()) << "a grabbed key reached the focus window";
}

TEST_F(HotkeysX11, LocksDoNotHideTheKey) {
  const HotkeyId f9 = Register(hotkeys::kNone, kVkF9, control_);
  const HotkeyId ctrl_f10 = Register(hotkeys::kCtrl, kVkF10, control_);
  ASSERT_NE(f9, 0);
  ASSERT_NE(ctrl_f10, 0);
  const struct {
    const char* name;
    unsigned int locks;
  } cases[] = {{"CapsLock", LockMask}, {"NumLock", num_lock_}, {"both", LockMask | num_lock_}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(client_.SetLocks(c.locks));
    EXPECT_EQ(PressDelivered(XK_F9), (std::vector<Delivery>{{control_, f9, 0}}));
    EXPECT_EQ(PressDelivered(XK_F10, {XK_Control_L}),
              (std::vector<Delivery>{{control_, ctrl_f10, 0}}));
    ASSERT_TRUE(client_.SetLocks(0));
  }
}

TEST_F(HotkeysX11, ModifiersMustMatchExactly) {
  // Bits beyond 1, 2, 4 are X modifier bits: 64 is Mod4, Super on Xvfb.
  const struct {
    std::int32_t modifiers;
    std::vector<KeySym> held;
  } cases[] = {
      {hotkeys::kCtrl, {XK_Control_L}},
      {hotkeys::kShift, {XK_Shift_L}},
      {hotkeys::kAlt, {XK_Alt_L}},
      {hotkeys::kCtrl | hotkeys::kShift, {XK_Control_L, XK_Shift_L}},
      {hotkeys::kCtrl | hotkeys::kShift | hotkeys::kAlt, {XK_Control_L, XK_Shift_L, XK_Alt_L}},
      {64, {XK_Super_L}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "modifiers " << c.modifiers);
    const HotkeyId id = Register(c.modifiers, kVkF6, control_);
    ASSERT_NE(id, 0);
    EXPECT_EQ(PressDelivered(XK_F6, c.held), (std::vector<Delivery>{{control_, id, 0}}));

    client_.TakeKeyPresses();  // the modifier keys themselves
    EXPECT_TRUE(Press(XK_F6).empty());
    EXPECT_EQ(client_.TakeKeyPresses(), std::vector<KeyCode>{client_.Code(XK_F6)})
        << "plain F6 should reach the focus window";
    Unregister(id);
  }
}

TEST_F(HotkeysX11, VirtualKeysMapToTheirKeys) {
  const struct {
    std::int32_t vk;
    KeySym keysym;
  } cases[] = {
      {0x41, XK_a},          {0x5A, XK_z},          {0x30, XK_0},
      {0x39, XK_9},          {0x70, XK_F1},         {0x7B, XK_F12},
      {0x20, XK_space},      {0x0D, XK_Return},     {0x1B, XK_Escape},
      {0x25, XK_Left},       {0x2E, XK_Delete},     {0x60, XK_KP_0},
      {0x6A, XK_KP_Multiply}, {0xBA, XK_semicolon}, {0xDE, XK_apostrophe},
      {0xB3, XF86XK_AudioPlay}, {0xB0, XF86XK_AudioNext},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(XKeysymToString(c.keysym));
    const HotkeyId id = Register(hotkeys::kNone, c.vk, control_);
    ASSERT_NE(id, 0);
    EXPECT_EQ(PressDelivered(c.keysym), (std::vector<Delivery>{{control_, id, 0}}));
    Unregister(id);
  }
}

TEST_F(HotkeysX11, UnknownKeysAndModifiersAreRefusedLeavingNothingGrabbed) {
  const struct {
    std::int32_t modifiers;
    std::int32_t vk;
  } cases[] = {
      {0, 0},       {0, 0x07},      {0, 0x10 /* Shift key */}, {0, 0xFF},
      {0, -1},      {0, 0x10000},   {0, 0x7C /* F13: no such key on Xvfb */},
      {0x100, kVkF6}, {-1, kVkF6},  {0x8000 /* X's AnyModifier */, kVkF6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "modifiers " << c.modifiers << " key " << c.vk);
    EXPECT_EQ(Register(c.modifiers, c.vk, control_), 0);
  }
  EXPECT_TRUE(FreeForOthers(XK_F6));
  EXPECT_NE(Register(hotkeys::kNone, kVkF6, control_), 0);
}

TEST_F(HotkeysX11, KeyHeldByAnotherClientIsRefused) {
  // The other client holds one lock variant; the ones we grabbed before
  // meeting it must be released again.
  for (unsigned int held : {0u, unsigned{LockMask}, num_lock_, LockMask | num_lock_}) {
    SCOPED_TRACE(testing::Message() << "held with modifiers " << held);
    XClient holder;
    ASSERT_TRUE(holder.GrabKey(XK_F7, held));

    EXPECT_EQ(Register(hotkeys::kNone, kVkF7, control_), 0);

    XClient third;
    for (unsigned int locks : {0u, unsigned{LockMask}, num_lock_, LockMask | num_lock_}) {
      if (locks != held) {
        EXPECT_TRUE(third.GrabKey(XK_F7, locks)) << "left grabbed: " << locks;
      }
    }
    ASSERT_TRUE(client_.SetLocks(held));
    EXPECT_TRUE(Press(XK_F7).empty());
    EXPECT_EQ(holder.TakeKeyPresses(), std::vector<KeyCode>{client_.Code(XK_F7)});
    ASSERT_TRUE(client_.SetLocks(0));

    const HotkeyId later = Register(hotkeys::kNone, kVkF9, control_);
    EXPECT_NE(later, 0);
    Unregister(later);
  }
}

TEST_F(HotkeysX11, SameKeyTwiceInThisProcessIsRefused) {
  const HotkeyId first = Register(hotkeys::kNone, kVkF9, control_);
  ASSERT_NE(first, 0);
  EXPECT_EQ(Register(hotkeys::kNone, kVkF9, control_), 0);
  const HotkeyId ctrl = Register(hotkeys::kCtrl, kVkF9, control_);
  EXPECT_NE(ctrl, 0);
  EXPECT_EQ(PressDelivered(XK_F9), (std::vector<Delivery>{{control_, first, 0}}));

  Unregister(first);
  const HotkeyId again = Register(hotkeys::kNone, kVkF9, control_);
  EXPECT_NE(again, 0);
  EXPECT_EQ(PressDelivered(XK_F9), (std::vector<Delivery>{{control_, again, 0}}));
}

TEST_F(HotkeysX11, FeedbackControlIsTheLastOneGivenEvenWhenRefused) {
  const toolkit::NativeHandle c1 = Handle(controls[0]);
  const toolkit::NativeHandle c2 = Handle(controls[1]);
  const toolkit::NativeHandle c3 = Handle(controls[2]);
  const HotkeyId f9 = Register(hotkeys::kNone, kVkF9, c1);
  const HotkeyId f10 = Register(hotkeys::kNone, kVkF10, c2);
  ASSERT_NE(f9, 0);
  ASSERT_NE(f10, 0);
  EXPECT_EQ(PressDelivered(XK_F9), (std::vector<Delivery>{{c2, f9, 0}}));

  EXPECT_EQ(Register(hotkeys::kNone, 0x07, c3), 0);  // unknown key
  EXPECT_EQ(PressDelivered(XK_F10), (std::vector<Delivery>{{c3, f10, 0}}));

  XClient holder;
  ASSERT_TRUE(holder.GrabKey(XK_F7, 0));
  EXPECT_EQ(Register(hotkeys::kNone, kVkF7, c1), 0);  // held elsewhere
  EXPECT_EQ(PressDelivered(XK_F9), (std::vector<Delivery>{{c1, f9, 0}}));

  EXPECT_EQ(Register(hotkeys::kNone, kVkF9, c2), 0);  // already ours
  EXPECT_EQ(PressDelivered(XK_F10), (std::vector<Delivery>{{c2, f10, 0}}));

  // With no control the presses are still taken, but go nowhere.
  const HotkeyId f11 = Register(hotkeys::kNone, kVkF11, 0);
  ASSERT_NE(f11, 0);
  EXPECT_TRUE(Press(XK_F11).empty());
  EXPECT_TRUE(Press(XK_F9).empty());
  EXPECT_TRUE(client_.TakeKeyPresses().empty());
  EXPECT_EQ(Register(hotkeys::kNone, 0x07, c3), 0);
  EXPECT_EQ(PressDelivered(XK_F11), (std::vector<Delivery>{{c3, f11, 0}}));
}

TEST_F(HotkeysX11, EachAutoRepeatedPressIsDelivered) {
  const HotkeyId f9 = Register(hotkeys::kNone, kVkF9, control_);
  ASSERT_NE(f9, 0);
  deliveries.clear();
  client_.Hold(XK_F9, true);
  const bool repeated = PumpUntil([] { return deliveries.size() >= 3; });
  client_.Hold(XK_F9, false);
  Settle();
  EXPECT_TRUE(repeated) << "held F9 gave " << deliveries.size() << " presses";
  for (const Delivery& d : deliveries) EXPECT_EQ(d, (Delivery{control_, f9, 0}));
}

TEST_F(HotkeysX11, UnregisterStopsDeliveryAndReleasesTheKey) {
  const HotkeyId f9 = Register(hotkeys::kNone, kVkF9, control_);
  const HotkeyId f10 = Register(hotkeys::kNone, kVkF10, control_);
  ASSERT_NE(f9, 0);
  ASSERT_NE(f10, 0);
  EXPECT_EQ(PressDelivered(XK_F9), (std::vector<Delivery>{{control_, f9, 0}}));

  Unregister(f9);
  EXPECT_TRUE(Press(XK_F9).empty());
  EXPECT_EQ(client_.TakeKeyPresses(), std::vector<KeyCode>{client_.Code(XK_F9)})
      << "F9 should reach the focus window again";
  EXPECT_TRUE(FreeForOthers(XK_F9));

  // Ids never handed out, or already given back, change nothing.
  hotkeys::UnregisterHotkey(0);
  hotkeys::UnregisterHotkey(f9);
  hotkeys::UnregisterHotkey(-5);
  hotkeys::UnregisterHotkey(123456);
  EXPECT_EQ(PressDelivered(XK_F10), (std::vector<Delivery>{{control_, f10, 0}}));
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  testing::AddGlobalTestEnvironment(new HeadlessDesktop);
  return RUN_ALL_TESTS();
}
