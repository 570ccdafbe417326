// The X11 hotkey backend where GDK has no X11 display: before GTK has any
// display, and on a real GDK display of another kind (Broadway, a stand-in
// for Wayland that runs headless). Every key is refused, nothing crashes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "hotkeys/hotkeys.h"
#include "toolkit/toolkit.h"

namespace {
int feedback_events = 0;
}  // namespace

void toolkit::RaiseFeedbackEvent(NativeHandle, std::int32_t, std::int32_t) {
  ++feedback_events;
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kPlayerKeys[] = {0x77, 0x78, 0x79, 0x7A, 0x7B};  // F8-F12

// broadwayd in a private runtime directory, stopped by pid when destroyed.
class Broadway {
 public:
  Broadway() {
    char dir[] = "/tmp/zorva-hotkeys-broadway-XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    dir_ = dir;
    setenv("XDG_RUNTIME_DIR", dir, 1);
    const std::string http_socket = dir_ + "/http.sock";
    const std::string log = dir_ + "/broadwayd.log";
    if (pipe2(stdout_, O_CLOEXEC) != 0) return;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(126);
      dup2(stdout_[1], 1);
      const int log_fd = open(log.c_str(), O_WRONLY | O_CREAT, 0644);
      if (log_fd >= 0) dup2(log_fd, 2);
      execlp("broadwayd", "broadwayd", "-u", http_socket.c_str(), ":0",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(stdout_[1]);
  }

  ~Broadway() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      const auto deadline = Clock::now() + std::chrono::seconds(5);
      while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
          kill(pid_, SIGKILL);
          waitpid(pid_, nullptr, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    if (stdout_[0] >= 0) close(stdout_[0]);
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
  }

  // broadwayd names its client socket ("Listening on PATH") just before it
  // binds it as an abstract socket; ready once PATH shows in /proc/net/unix.
  bool WaitUntilReady() const {
    std::string out;
    std::string socket;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && Clock::now() < deadline) {
      if (socket.empty()) {
        pollfd p{stdout_[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c;
        if (read(stdout_[0], &c, 1) != 1) return false;
        if (c != '\n') {
          out += c;
        } else if (out.rfind("Listening on ", 0) == 0) {
          socket = "@" + out.substr(13);
        }
        continue;
      }
      std::ifstream sockets("/proc/net/unix");
      for (std::string line; std::getline(sockets, line);) {
        if (line.size() >= socket.size() &&
            line.compare(line.size() - socket.size(), socket.size(), socket) == 0) {
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

 private:
  std::string dir_;
  int stdout_[2] = {-1, -1};
  pid_t pid_ = -1;
};

TEST(HotkeysWithoutX11, EveryKeyIsRefused) {
  ASSERT_EQ(gdk_display_get_default(), nullptr);
  for (std::int32_t vk : kPlayerKeys) {
    EXPECT_EQ(hotkeys::RegisterHotkey(1, 2, hotkeys::kNone, vk), 0);
  }
  hotkeys::UnregisterHotkey(0);
  hotkeys::UnregisterHotkey(1);

  Broadway broadway;
  ASSERT_TRUE(broadway.WaitUntilReady()) << "broadwayd did not start";
  setenv("GDK_BACKEND", "broadway", 1);
  setenv("BROADWAY_DISPLAY", ":0", 1);
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  GdkDisplay* display = gdk_display_get_default();
  ASSERT_NE(display, nullptr);
  ASSERT_FALSE(GDK_IS_X11_DISPLAY(display));

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* control = gtk_label_new("control");
  gtk_container_add(GTK_CONTAINER(window), control);
  for (std::int32_t vk : kPlayerKeys) {
    EXPECT_EQ(hotkeys::RegisterHotkey(reinterpret_cast<toolkit::NativeHandle>(window),
                                      reinterpret_cast<toolkit::NativeHandle>(control),
                                      hotkeys::kNone, vk),
              0);
  }
  hotkeys::UnregisterHotkey(1);
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  EXPECT_EQ(feedback_events, 0);
  gtk_widget_destroy(window);
  gdk_display_close(display);
}

}  // namespace
