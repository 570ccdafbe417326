// The program's handlers and window description, run on the null backend
// with a recording hotkey facility and sound player.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/handlers.h"
#include "app/main_window.h"
#include "app/start_up.h"
#include "assets/addresses.h"
#include "assets/embedded.h"
#include "toolkit/native.h"
#include "toolkit/toolkit_internal.h"
#include "toolkit/toolkit_null.h"

using toolkit::null_backend::Log;

namespace {
// Virtual keys the fake facility refuses, as if another program held them.
std::vector<std::int32_t> g_refused_keys;
std::int32_t g_next_id = 100;
struct Registration {
  toolkit::NativeHandle owner, sink;
  std::int32_t modifiers, key;
};
std::vector<Registration> g_registrations;
std::map<std::int32_t, hotkeys::HotkeyId> g_id_of_key;

std::string KeyName(std::int32_t key) { return "F" + std::to_string(key - 0x6F); }
}  // namespace

namespace hotkeys {
HotkeyId RegisterHotkey(toolkit::NativeHandle owner, toolkit::NativeHandle sink, std::int32_t modifiers,
                        std::int32_t key) {
  g_registrations.push_back({owner, sink, modifiers, key});
  Log().push_back("register " + KeyName(key));
  if (std::find(g_refused_keys.begin(), g_refused_keys.end(), key) != g_refused_keys.end()) return 0;
  g_id_of_key[key] = g_next_id;
  return g_next_id++;
}
void UnregisterHotkey(HotkeyId) {}
}  // namespace hotkeys

namespace sound {
bool PlaySound(std::span<const std::uint8_t> file, bool loop) {
  const auto chime = assets::FindEmbedded("chime.wav");
  Log().push_back(file.data() == chime.data() && file.size() == chime.size() && !loop ? "chime" : "other sound");
  return true;
}
void StopAllSounds() { Log().push_back("stop sounds"); }
}  // namespace sound

namespace {

class HandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    toolkit::null_backend::Reset();
    g_registrations.clear();
    g_id_of_key.clear();
    g_next_id = 100;
    HotkeyIdF8 = HotkeyIdF9 = HotkeyIdF10 = HotkeyIdF11 = HotkeyIdF12 = 0;
  }
  void TearDown() override {
    g_refused_keys.clear();
    toolkit::null_backend::Reset();
  }

  static void Start() {
    toolkit::PrepareToolkit();
    toolkit::LoadWindow(MainWindow);
  }

  static std::vector<std::string> Press(std::int32_t id) {
    Log().clear();
    toolkit::RaiseFeedbackEvent(toolkit::GetNativeHandle(MainWindow, HotkeySink), id, 0);
    return Log();
  }
};

TEST_F(HandlersTest, StartUpLoadsThePageRegistersTheKeysAndChimesBeforeShowing) {
  Start();
  std::vector<std::string> from_pane;
  const auto pane = std::find(Log().begin(), Log().end(), "create pane");
  ASSERT_NE(pane, Log().end());
  const std::vector<std::string> expected = {
      "pane load " + std::string(assets::RandomPlayAddress),
      // ... the rest of the controls are put in place ...
  };
  EXPECT_EQ(*(pane + 1), expected[0]);
  const auto first_register = std::find(Log().begin(), Log().end(), "register F9");
  ASSERT_NE(first_register, Log().end());
  EXPECT_GT(first_register, pane);
  EXPECT_EQ(std::vector<std::string>(first_register, Log().end()),
            (std::vector<std::string>{"register F9", "register F10", "register F11", "register F12",
                                      "register F8", "chime", "show 0x06010000"}));
}

TEST_F(HandlersTest, EveryRegistrationNamesTheWindowAndTheSinkWithNoModifiers) {
  Start();
  ASSERT_EQ(g_registrations.size(), 5u);
  for (const Registration& r : g_registrations) {
    EXPECT_EQ(r.owner, toolkit::GetNativeHandle(MainWindow, MainWindowItself));
    EXPECT_EQ(r.sink, toolkit::GetNativeHandle(MainWindow, HotkeySink));
    EXPECT_EQ(r.modifiers, 0);
  }
  EXPECT_EQ(HotkeyIdF9, g_id_of_key[0x78]);
  EXPECT_EQ(HotkeyIdF8, g_id_of_key[0x77]);
}

TEST_F(HandlersTest, EachKeyDoesItsActionWithTheChimeOnTheRightSide) {
  Start();
  const std::string home = "pane load " + std::string(assets::HomeAddress);
  const std::string random = "pane load " + std::string(assets::RandomPlayAddress);
  struct Case {
    std::int32_t key;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {0x78, {"pane command 4", "chime"}},  // F9: the reload, then the chime
      {0x79, {"chime", home}},
      {0x7A, {"chime", "hide 0x06010000"}},
      {0x7B, {"chime", "show 0x06010000"}},
      {0x77, {"chime", random}},
      // Pressed again, each does the same: a second load of the same page,
      // a second hide of a hidden window.
      {0x77, {"chime", random}},
      {0x7A, {"chime", "hide 0x06010000"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Press(g_id_of_key.at(c.key)), c.expected) << KeyName(c.key);
  }
}

TEST_F(HandlersTest, UnknownIdentifiersDoNothingNotEvenAChime) {
  Start();
  for (const std::int32_t id : {0, 1, 99, 105, -100}) {
    EXPECT_TRUE(Press(id).empty()) << id;
  }
}

TEST_F(HandlersTest, ARefusedKeyStoresZeroAndTheOthersStillWork) {
  g_refused_keys = {0x7A};
  Start();
  EXPECT_EQ(HotkeyIdF11, 0);
  EXPECT_EQ(std::count(Log().begin(), Log().end(), "chime"), 1);
  EXPECT_TRUE(Press(0).empty());
  EXPECT_EQ(Press(HotkeyIdF12), (std::vector<std::string>{"chime", "show 0x06010000"}));
}

TEST_F(HandlersTest, EveryKeyRefusedStillChimesAtStart) {
  g_refused_keys = {0x77, 0x78, 0x79, 0x7A, 0x7B};
  Start();
  EXPECT_EQ(std::count(Log().begin(), Log().end(), "chime"), 1);
  for (hotkeys::HotkeyId id : {HotkeyIdF8, HotkeyIdF9, HotkeyIdF10, HotkeyIdF11, HotkeyIdF12}) {
    EXPECT_EQ(id, 0);
  }
}

TEST_F(HandlersTest, InstructionsButtonShowsTheLegendEveryTime) {
  Start();
  for (int press = 0; press < 2; ++press) {
    Log().clear();
    toolkit::RaiseEvent(MainWindow, InstructionsButton, toolkit::kLeftButtonDown, {5, 6, 0});
    EXPECT_EQ(Log(), (std::vector<std::string>{"show 0x1601000E"}));
  }
}

TEST_F(HandlersTest, ExitButtonEndsTheProgramWithZeroAndStopsTheSounds) {
  Start();
  Log().clear();
  int code = 12345;
  try {
    toolkit::RaiseEvent(MainWindow, ExitButton, toolkit::kLeftButtonDown, {1, 1, 0});
  } catch (const toolkit::null_backend::ProcessExit& exit) {
    code = exit.code;
  }
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Log(), (std::vector<std::string>{"stop sounds", "uninitialise", "exit 0"}));
}

TEST_F(HandlersTest, InstructionsPanelPressChangesNothing) {
  Start();
  Log().clear();
  toolkit::RaiseEvent(MainWindow, InstructionsPanel, toolkit::kLeftButtonDown, {1, 1, 0});
  EXPECT_TRUE(Log().empty());
}

// The window as the executable carries it.
TEST(MainWindowDescription, HoldsTheWindowAndItsSixControls) {
  const auto read = toolkit::ReadWindowData(assets::FindEmbedded(toolkit::kWindowDataName), assets::FindEmbedded);
  ASSERT_EQ(read.error, "");
  ASSERT_EQ(read.data.windows.size(), 1u);
  const toolkit::WindowDescription& window = read.data.windows[0];
  EXPECT_EQ(window.id, MainWindow);
  // "ZORVA听歌软件" in GBK: 13 bytes.
  EXPECT_EQ(window.window.GetText(toolkit::window_setting::kTitle), "ZORVA\xCC\xFD\xB8\xE8\xC8\xED\xBC\xFE");

  struct Row {
    toolkit::ControlId id;
    const char* kind;
    const char* gbk_name;
    toolkit::ControlId parent;
    int left, top, width, height;
    bool visible, tab_stop;
    std::int32_t pointer;
  };
  const Row rows[] = {
      {PlayerPane, "BrowserPane", "\xB3\xAC\xCE\xC4\xB1\xBE\xE4\xAF\xC0\xC0\xBF\xF2" "1", InstructionsPanel, 448, 128, 144, 112, true, true, 0},
      {HotkeySink, "Label", "\xB1\xEA\xC7\xA9" "1", InstructionsPanel, 424, -32, 48, 16, true, false, 0},
      {ExitButton, "TransLabel", "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9" "2", BackgroundPanel, 202, 244, 88, 32, true, false, 0x7F89},
      {InstructionsButton, "TransLabel", "\xCD\xB8\xC3\xF7\xB1\xEA\xC7\xA9" "1", BackgroundPanel, 127, 244, 96, 32, true, false, 0x7F8B},
      {InstructionsPanel, "PicBox", "\xCD\xBC\xC6\xAC\xBF\xF2" "2", BackgroundPanel, 0, 0, 400, 300, false, false, 0},
      {BackgroundPanel, "PicBox", "\xCD\xBC\xC6\xAC\xBF\xF2" "1", MainWindowItself, 0, 0, 400, 300, true, false, 0},
  };
  ASSERT_EQ(window.controls.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    const toolkit::ControlDescription& c = window.controls[i];
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.id, row.id);
    EXPECT_EQ(c.kind->name, row.kind);
    EXPECT_EQ(c.name, row.gbk_name);
    EXPECT_EQ(c.parent, row.parent);
    EXPECT_EQ(c.GetInt(toolkit::kLeft), row.left);
    EXPECT_EQ(c.GetInt(toolkit::kTop), row.top);
    EXPECT_EQ(c.GetInt(toolkit::kWidth), row.width);
    EXPECT_EQ(c.GetInt(toolkit::kHeight), row.height);
    EXPECT_EQ(c.GetBool(toolkit::kVisible), row.visible);
    EXPECT_EQ(c.tab_stop, row.tab_stop);
    EXPECT_EQ(c.GetInt(toolkit::kMousePointer), row.pointer);
  }
  // The pane's stored address is the random-play address itself.
  EXPECT_EQ(window.controls[0].GetText(toolkit::browser_setting::kUrl), assets::RandomPlayAddress);
  // Button texts are 8 GBK bytes each: "退出软件", "操作说明".
  EXPECT_EQ(window.controls[2].GetText(toolkit::translabel_setting::kText), "\xCD\xCB\xB3\xF6\xC8\xED\xBC\xFE");
  EXPECT_EQ(window.controls[3].GetText(toolkit::translabel_setting::kText), "\xB2\xD9\xD7\xF7\xCB\xB5\xC3\xF7");
  EXPECT_EQ(window.controls[2].GetBytes(toolkit::translabel_setting::kFont).size(), 60u);
}

}  // namespace
