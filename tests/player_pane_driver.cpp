// A window holding one browser pane where the player keeps its own: inside
// a hidden 400x300 panel, at x 448, 144x112. For
// tests/player_browser_pane_test.py.
//
//   player_pane_driver [FontSize=N] [Offline=true|false] [Silent=true|false] [url=TEXT]
//
// The arguments are the pane's settings in the window description; the
// driver then reads commands from standard input, one a line, runs each
// through the toolkit as the program would, and answers "done" on
// standard output:
//   url TEXT          write the url property (TEXT may be empty)
//   url-hex HEX       write the url property as raw bytes
//   set N VALUE       write property N (0-15) as an integer
//   cmd CODE          player::BrowserCommand
//   panel 0|1         hide or show the panel holding the pane
//   window 0|1        hide or show the window
//   state             answer "state loading=0|1 uri=URI" and "title TITLE"
//                     before "done"
//   quit              end the program with 0

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "player/browser_pane.h"
#include "toolkit/toolkit_internal.h"

namespace {

constexpr toolkit::WindowId kWindow = 0x52010001;
constexpr toolkit::ControlId kPane = 0x16010031;
constexpr toolkit::ControlId kPanel = 0x1601000E;

std::string g_description;

void Answer(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

void Run(std::string_view line) {
  const std::size_t space = line.find(' ');
  const std::string_view verb = line.substr(0, space);
  const std::string_view rest = space == std::string_view::npos ? "" : line.substr(space + 1);
  if (verb == "url") {
    toolkit::WriteProperty(kWindow, kPane, toolkit::browser_setting::kUrl, -1, std::string(rest));
  } else if (verb == "url-hex") {
    toolkit::WriteProperty(kWindow, kPane, toolkit::browser_setting::kUrl, -1, FromHex(rest));
  } else if (verb == "set") {
    const std::size_t gap = rest.find(' ');
    const int number = std::atoi(std::string(rest.substr(0, gap)).c_str());
    const std::int32_t value = std::atoi(std::string(rest.substr(gap + 1)).c_str());
    toolkit::WriteProperty(kWindow, kPane, number, -1, value);
  } else if (verb == "cmd") {
    player::BrowserCommand(kWindow, kPane, std::atoi(std::string(rest).c_str()));
  } else if (verb == "panel" || verb == "window") {
    const toolkit::ControlId control = verb == "panel" ? kPanel : toolkit::kWindowItself;
    toolkit::WriteProperty(kWindow, control, toolkit::kVisible, -1, rest == "1");
  } else if (verb == "state") {
    auto* view = reinterpret_cast<WebKitWebView*>(toolkit::GetNativeHandle(kWindow, kPane));
    const gchar* uri = webkit_web_view_get_uri(view);
    const gchar* title = webkit_web_view_get_title(view);
    Answer(std::string("state loading=") + (webkit_web_view_is_loading(view) ? "1" : "0") +
           " uri=" + (uri != nullptr ? uri : ""));
    Answer(std::string("title ") + (title != nullptr ? title : ""));
  } else if (verb == "quit") {
    toolkit::EndProgram(0);
  }
  Answer("done " + std::string(verb));
}

gboolean OnInput(GIOChannel* channel, GIOCondition, gpointer) {
  gchar* text = nullptr;
  gsize length = 0;
  if (g_io_channel_read_line(channel, &text, &length, nullptr, nullptr) != G_IO_STATUS_NORMAL) {
    toolkit::EndProgram(0);  // the test has gone
  }
  std::string_view line(text, length);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  const std::string command(line);
  g_free(text);
  Run(command);
  return G_SOURCE_CONTINUE;
}

std::int32_t StartUp() {
  const auto* data = reinterpret_cast<const std::uint8_t*>(g_description.data());
  toolkit::PrepareToolkitFrom({data, g_description.size()}, {});
  toolkit::LoadWindow(kWindow);
  GIOChannel* input = g_io_channel_unix_new(0);
  g_io_channel_set_encoding(input, nullptr, nullptr);
  g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), OnInput, nullptr);
  Answer("ready");
  toolkit::RunMessageLoop();
  return 0;
}

}  // namespace

std::span<const toolkit::NamedHandler> toolkit::ProgramHandlers() { return {}; }

int main(int argc, char** argv) {
  std::string settings;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const std::size_t equals = argument.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = argument.substr(0, equals);
    const std::string_view value = argument.substr(equals + 1);
    settings += "  " + std::string(name) + " " +
                (name == "url" ? "\"" + std::string(value) + "\"" : std::string(value)) + "\n";
  }
  g_description =
      "window 0x52010001 DriverWindow\n"
      "  kind window\n  left 100\n  top 100\n  width 400\n  height 300\n  visible true\n"
      "  Title \"pane driver\"\n  BorderStyle 0\n  StartPosition 0\n"
      "control 0x16010031 Pane\n  kind BrowserPane\n  parent Panel\n"
      "  left 448\n  top 128\n  width 144\n  height 112\n  visible true\n" +
      settings +
      "control 0x1601000E Panel\n  kind PicBox\n"
      "  left 0\n  top 0\n  width 400\n  height 300\n  visible false\n";
  toolkit::RunProgram(StartUp);
}
