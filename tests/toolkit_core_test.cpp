// The toolkit's own rules, run against the null backend: reading window
// data, the order of loading a window, events, property writes, and the
// two ways of ending.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "assets/embedded.h"
#include "toolkit/native.h"
#include "toolkit/toolkit_internal.h"
#include "toolkit/toolkit_null.h"

namespace sound {
// The toolkit stops every sound on the way out; count that it does.
int g_stop_all_calls = 0;
bool PlaySound(std::span<const std::uint8_t>, bool) { return true; }
void StopAllSounds() {
  ++g_stop_all_calls;
  toolkit::null_backend::Log().push_back("stop sounds");
}
}  // namespace sound

namespace toolkit {
namespace {

using null_backend::Log;
using null_backend::ProcessExit;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A window like the player's: a picture box holding two labels, a hidden
// panel and, inside the panel, a sink label; listed top to bottom.
constexpr std::string_view kWindowData = R"(# fixture
window 0x52010001 Main
  kind window
  width 400
  height 300
  StartPosition 1
  DragByBody true
  on 0 OnCreated
  on 12 OnCloseQuery
control 0x00000031 Sink
  kind Label
  parent Panel
  on 0 OnFeedback
control 0x0000001E Exit
  kind TransLabel
  parent Picture
  on -1 OnPressed
control 0x00000016 Help
  kind TransLabel
  parent Picture
control 0x0000000E Panel
  kind PicBox
  parent Picture
  visible false
control 0x0000000D Picture
  kind PicBox
)";

std::vector<std::string> g_calls;
std::int32_t g_close_answer = -1;  // -1: the close query gives no result

EventResult Created(const EventArgs&) {
  Log().push_back("created");
  return {};
}
EventResult Feedback(const EventArgs& args) {
  Log().push_back("feedback " + std::to_string(args[0]) + " " + std::to_string(args[1]));
  return {};
}
EventResult Pressed(const EventArgs& args) {
  Log().push_back("pressed " + std::to_string(args[0]) + "," + std::to_string(args[1]) + "," +
                  std::to_string(args[2]));
  return {};
}
EventResult CloseQuery(const EventArgs&) {
  Log().push_back("close query");
  if (g_close_answer < 0) return std::nullopt;
  return g_close_answer;
}

constexpr NamedHandler kHandlers[] = {
    {"OnCreated", Created},
    {"OnFeedback", Feedback},
    {"OnPressed", Pressed},
    {"OnCloseQuery", CloseQuery},
};

constexpr WindowId kMain = 0x52010001;

}  // namespace

std::span<const NamedHandler> ProgramHandlers() { return kHandlers; }

namespace {

class ToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    null_backend::Reset();
    sound::g_stop_all_calls = 0;
    g_close_answer = -1;
  }
  void TearDown() override { null_backend::Reset(); }

  static void Prepare(std::string_view data = kWindowData) {
    PrepareToolkitFrom(Bytes(data), kHandlers);
  }

  static void PrepareAndLoad() {
    Prepare();
    LoadWindow(kMain);
    Log().clear();
  }

  // Runs `step`, which must end the process, and gives the exit code.
  template <typename Step>
  static int ExitCodeOf(Step step) {
    try {
      step();
    } catch (const ProcessExit& exit) {
      return exit.code;
    }
    ADD_FAILURE() << "the process did not end";
    return 12345;
  }
};

TEST_F(ToolkitTest, LoadWindowBuildsInTheOrderTheDescriptionGives) {
  Prepare();
  LoadWindow(kMain);
  const std::vector<std::string> expected = {
      // The window, then the controls from the last to the first.
      "create 0x06010000", "create 0x0000000D", "create 0x0000000E", "create 0x00000016",
      "create 0x0000001E", "create 0x00000031",
      // Into their containers, in description order.
      "move 0x00000031 into 0x0000000E", "move 0x0000001E into 0x0000000D",
      "move 0x00000016 into 0x0000000D", "move 0x0000000E into 0x0000000D",
      // Each behind the nearest earlier sibling: earlier is on top.
      "behind 0x00000031 top", "behind 0x0000001E top", "behind 0x00000016 0x0000001E",
      "behind 0x0000000E 0x00000016", "behind 0x0000000D top",
      // Shown without activation, or hidden.
      "show 0x00000031", "show 0x0000001E", "show 0x00000016", "hide 0x0000000E",
      "show 0x0000000D",
      // The created event comes before the window is shown.
      "created", "show 0x06010000"};
  EXPECT_EQ(Log(), expected);
}

TEST_F(ToolkitTest, EventsRaisedWhileLoadingAreLost) {
  Prepare();
  // Every control made raises the bound left-press event of the exit
  // label; while the window is built, none of them reaches the handler.
  null_backend::OnCreate(+[] { RaiseEvent(kMain, 0x1E, kLeftButtonDown, {1, 2, 3}); });
  LoadWindow(kMain);
  EXPECT_EQ(std::count(Log().begin(), Log().end(), "pressed 1,2,3"), 0);
  null_backend::OnCreate(nullptr);
  RaiseEvent(kMain, 0x1E, kLeftButtonDown, {1, 2, 3});
  EXPECT_EQ(Log().back(), "pressed 1,2,3");
}

TEST_F(ToolkitTest, RaiseEventCallsOnlyBoundHandlers) {
  PrepareAndLoad();
  RaiseEvent(kMain, 0x1E, kLeftButtonDown, {3, 4, 2});
  RaiseEvent(kMain, 0x16, kLeftButtonDown, {1, 1, 0});  // nothing bound
  RaiseEvent(kMain, 0x99, 0, {});                       // no such control
  RaiseEvent(0x1234, 0x1E, kLeftButtonDown, {});        // no such window
  EXPECT_EQ(Log(), (std::vector<std::string>{"pressed 3,4,2"}));
}

TEST_F(ToolkitTest, FeedbackReachesTheControlBehindAHandle) {
  PrepareAndLoad();
  RaiseFeedbackEvent(GetNativeHandle(kMain, 0x31), 7, 0);
  RaiseFeedbackEvent(0, 8, 0);
  RaiseFeedbackEvent(GetNativeHandle(kMain, 0x1E), 9, 0);  // no feedback binding
  EXPECT_EQ(Log(), (std::vector<std::string>{"feedback 7 0"}));
}

TEST_F(ToolkitTest, WritingVisibleShowsOrHidesAndIsKept) {
  PrepareAndLoad();
  WriteProperty(kMain, 0x0E, kVisible, -1, true);
  WriteProperty(kMain, kWindowItself, kVisible, -1, false);
  WriteProperty(kMain, kWindowItself, kVisible, -1, true);
  EXPECT_EQ(Log(), (std::vector<std::string>{"show 0x0000000E", "hide 0x06010000", "show 0x06010000"}));
  EXPECT_TRUE(FindLoadedControl(kMain, 0x0E)->description.GetBool(kVisible));
}

TEST_F(ToolkitTest, WritingASettingStoresItAndTellsTheControl) {
  PrepareAndLoad();
  WriteProperty(kMain, 0x1E, translabel_setting::kText, -1, std::string("abc"));
  EXPECT_EQ(FindLoadedControl(kMain, 0x1E)->description.GetText(translabel_setting::kText), "abc");
  // A value of the wrong type, or a property the kind lacks, changes nothing.
  WriteProperty(kMain, 0x1E, translabel_setting::kText, -1, 5);
  WriteProperty(kMain, 0x1E, 99, -1, 5);
  EXPECT_EQ(Log(), (std::vector<std::string>{"write 0x0000001E 8"}));
}

TEST_F(ToolkitTest, WritesThatNameNothingLoaded) {
  struct Case {
    const char* what;
    WindowId window;
    ControlId control;
    int property;
    bool fatal;
  };
  const Case cases[] = {
      {"a window that is not loaded", 0x1234, kWindowItself, kVisible, true},
      {"a setting of a missing control", kMain, 0x99, 8, true},
      {"a standard property of a missing control", kMain, 0x99, kVisible, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PrepareAndLoad();
    if (c.fatal) {
      EXPECT_EQ(ExitCodeOf([&] { WriteProperty(c.window, c.control, c.property, -1, true); }), -1);
      EXPECT_TRUE(Log().front().starts_with("error "));
    } else {
      WriteProperty(c.window, c.control, c.property, -1, true);
      EXPECT_TRUE(Log().empty());
    }
    null_backend::Reset();
  }
}

TEST_F(ToolkitTest, GetNativeHandleOfSomethingNotLoadedIsFatal) {
  PrepareAndLoad();
  EXPECT_NE(GetNativeHandle(kMain, kWindowItself), GetNativeHandle(kMain, 0x31));
  EXPECT_EQ(ExitCodeOf([] { GetNativeHandle(kMain, 0x99); }), -1);
}

TEST_F(ToolkitTest, CleanUpRunsOnceInOrderAndIgnoresRepeats) {
  static std::vector<int> ran;
  ran.clear();
  RegisterCleanup(+[] { ran.push_back(1); });
  RegisterCleanup(+[] { ran.push_back(2); });
  EXPECT_EQ(ExitCodeOf([] { EndProgram(0); }), 0);
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  // The list is empty afterwards: a second ending runs nothing.
  EXPECT_EQ(ExitCodeOf([] { EndProgram(3); }), 3);
  EXPECT_EQ(ran.size(), 2u);
}

TEST_F(ToolkitTest, RegisteringTheSameRoutineTwiceKeepsOne) {
  static int runs = 0;
  runs = 0;
  void (*routine)() = +[] { ++runs; };
  RegisterCleanup(routine);
  RegisterCleanup(routine);
  ExitCodeOf([] { EndProgram(0); });
  EXPECT_EQ(runs, 1);
}

TEST_F(ToolkitTest, EndProgramBlocksEventsRunsCleanUpStopsSoundsThenExits) {
  PrepareAndLoad();
  static bool events_blocked_during_cleanup = false;
  RegisterCleanup(+[] {
    Log().push_back("clean up");
    events_blocked_during_cleanup = !RaiseEvent(kMain, 0x1E, kLeftButtonDown, {}).has_value() &&
                                    std::count(Log().begin(), Log().end(), "pressed 0,0,0") == 0;
  });
  EXPECT_EQ(ExitCodeOf([] { EndProgram(0); }), 0);
  EXPECT_TRUE(events_blocked_during_cleanup);
  EXPECT_EQ(Log(), (std::vector<std::string>{"clean up", "stop sounds", "uninitialise", "exit 0"}));
}

TEST_F(ToolkitTest, FatalErrorShowsTheBoxAndDropsTheCleanUpList) {
  static bool cleaned = false;
  cleaned = false;
  RegisterCleanup(+[] { cleaned = true; });
  EXPECT_EQ(ExitCodeOf([] { FatalError("boom"); }), -1);
  EXPECT_FALSE(cleaned);
  ASSERT_FALSE(Log().empty());
  EXPECT_NE(Log().front().find("boom"), std::string::npos);
  EXPECT_EQ(Log().back(), "exit -1");
  EXPECT_EQ(sound::g_stop_all_calls, 1);
}

TEST_F(ToolkitTest, StartUpFailuresAreFatalBeforeAnyWindow) {
  struct Case {
    const char* what;
    std::string_view data;
    ControlId failing;
    WindowId load;
  };
  const Case cases[] = {
      {"unreadable window data", "window 0x1 W\n  kind nonsense\n", 0, kMain},
      {"no such window", kWindowData, 0, 0x52010002},
      {"the window cannot be made", kWindowData, kWindowItself, kMain},
      {"a control cannot be made", kWindowData, 0x16, kMain},
      {"a handler the program lacks", "window 0x52010001 W\n  kind window\n  on 0 Missing\n", 0, kMain},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    null_backend::Reset();
    null_backend::FailCreating(c.failing);
    EXPECT_EQ(ExitCodeOf([&] {
                Prepare(c.data);
                LoadWindow(c.load);
              }),
              -1);
    EXPECT_EQ(std::count(Log().begin(), Log().end(), "created"), 0);
    EXPECT_EQ(std::count(Log().begin(), Log().end(), "show 0x06010000"), 0);
    EXPECT_EQ(std::count_if(Log().begin(), Log().end(), [](auto& l) { return l.starts_with("error "); }), 1);
  }
}

TEST_F(ToolkitTest, NoDisplayIsFatal) {
  null_backend::SetDisplayAvailable(false);
  EXPECT_EQ(ExitCodeOf([] { Prepare(); }), -1);
  EXPECT_NE(Log().front().find("no display"), std::string::npos);
}

TEST_F(ToolkitTest, CloseRequestEndsTheLoopWithZero) {
  PrepareAndLoad();
  RunMessageLoop();  // the null loop returns at once; the flag is set
  Log().clear();
  RequestClose(kMain);
  EXPECT_EQ(Log(), (std::vector<std::string>{"close query", "quit 0"}));
  EXPECT_EQ(FindLoadedControl(kMain, kWindowItself), nullptr);
  // With no window left, the loop returns at once.
  RunMessageLoop();
}

TEST_F(ToolkitTest, CloseQueryAnsweringFalseKeepsTheWindow) {
  PrepareAndLoad();
  g_close_answer = 0;
  RequestClose(kMain);
  EXPECT_NE(FindLoadedControl(kMain, kWindowItself), nullptr);
  g_close_answer = 1;
  RequestClose(kMain);
  EXPECT_EQ(FindLoadedControl(kMain, kWindowItself), nullptr);
}

TEST_F(ToolkitTest, CloseBeforeTheLoopPostsNoQuit) {
  PrepareAndLoad();
  RequestClose(kMain);
  EXPECT_EQ(std::count(Log().begin(), Log().end(), "quit 0"), 0);
}

TEST_F(ToolkitTest, DragByBodyAppliesToPicturesAndLabelsOnly) {
  PrepareAndLoad();
  EXPECT_TRUE(LeftPressMovesWindow(kMain, kWindowItself));
  EXPECT_TRUE(LeftPressMovesWindow(kMain, 0x0D));  // PicBox
  EXPECT_TRUE(LeftPressMovesWindow(kMain, 0x31));  // Label
  EXPECT_FALSE(LeftPressMovesWindow(kMain, 0x1E)); // TransLabel
}

TEST(PlaceWindowTest, CentresByTruncatingAndKeepsNegativePlaces) {
  ControlDescription window;
  window.kind = FindKind("window");
  for (int n = 0; n < PropertyCount(*window.kind); ++n) window.properties.emplace_back(0);
  window.properties[kLeft] = 50;
  window.properties[kTop] = 50;
  window.properties[kWidth] = 400;
  window.properties[kHeight] = 300;
  window.properties[window_setting::kStartPosition] = 1;
  struct Case {
    native::ScreenSize screen;
    int x, y;
  };
  for (const Case& c : {Case{{1280, 1024}, 440, 362}, Case{{1921, 1081}, 760, 390},
                        Case{{399, 299}, 0, 0}, Case{{200, 100}, -100, -100}, Case{{397, 297}, -1, -1}}) {
    const WindowPosition at = PlaceWindow(window, c.screen);
    EXPECT_EQ(at.x, c.x) << c.screen.width;
    EXPECT_EQ(at.y, c.y) << c.screen.height;
  }
  window.properties[window_setting::kStartPosition] = 0;
  EXPECT_EQ(PlaceWindow(window, {1280, 1024}).x, 50);
}

// ---------------------------------------------------------------- reader

TEST(WindowDataTest, ReadsValuesOfEveryType) {
  const std::string_view data =
      "window 0x52010001 W\n kind window\n name \"\"\n Title \"a b\"\n BorderStyle 0\n"
      " BackColor 0xFF000000\n left -5\n visible false\n"
      "control 0x10 L\n kind TransLabel\n name \"x\"\n parent W\n TabStop true\n TabOrder 3\n"
      " Font hex:00ff10\n MousePointer 0x7F89\n Text \"\xB1\xEA\"\n";
  const ReadResult read = ReadWindowData(Bytes(data), [](std::string_view) { return toolkit::Bytes{}; });
  ASSERT_EQ(read.error, "");
  const WindowDescription& w = read.data.windows.at(0);
  EXPECT_EQ(w.id, 0x52010001u);
  EXPECT_EQ(w.window.GetText(window_setting::kTitle), "a b");
  EXPECT_EQ(w.window.GetInt(window_setting::kBackColor), kDefaultColour);
  EXPECT_EQ(w.window.GetInt(kLeft), -5);
  EXPECT_FALSE(w.window.GetBool(kVisible));
  EXPECT_TRUE(w.window.GetBool(window_setting::kMovable));  // a default
  const ControlDescription& l = w.controls.at(0);
  EXPECT_EQ(l.parent, kWindowItself);
  EXPECT_TRUE(l.tab_stop);
  EXPECT_EQ(l.tab_order, 3);
  EXPECT_EQ(l.GetInt(kMousePointer), 0x7F89);
  EXPECT_EQ(l.GetText(translabel_setting::kText), "\xB1\xEA");
  const toolkit::Bytes font = l.GetBytes(translabel_setting::kFont);
  EXPECT_EQ(std::vector<std::uint8_t>(font.begin(), font.end()), (std::vector<std::uint8_t>{0, 0xff, 0x10}));
}

TEST(WindowDataTest, ALabelKeepsItsDefaultText) {
  const ReadResult read = ReadWindowData(
      Bytes("window 1 W\n kind window\ncontrol 2 S\n kind Label\n"), [](std::string_view) { return toolkit::Bytes{}; });
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(read.data.windows[0].controls[0].GetText(label_setting::kText), "\xB1\xEA\xC7\xA9");
}

TEST(WindowDataTest, BadDataIsRefusedWithTheLine) {
  struct Case {
    std::string_view data;
    std::string_view error;
  };
  const Case cases[] = {
      {"", "there is no window"},
      {"# only a comment\n", "there is no window"},
      {"kind window\n", "line 1: a setting comes before any window"},
      {"control 2 C\n", "line 1: a control comes before any window"},
      {"window 1 W\n kind Spinner\n", "line 2: unknown kind 'Spinner'"},
      {"window 1 W\n kind PicBox\n", "line 2: a window must be of kind window, and only a window"},
      {"window 1 W\n left 3\n", "line 2: the kind must come first"},
      {"window 1 W\n kind window\ncontrol 2 C\n", "'C' has no kind"},
      {"window 1 W\n kind window\n Colour 3\n", "line 3: window has no property 'Colour'"},
      {"window 1 W\n kind window\n left x\n", "line 3: 'left' is an integer"},
      {"window 1 W\n kind window\n left 99999999999\n", "line 3: 'left' is an integer"},
      {"window 1 W\n kind window\n visible 1\n", "line 3: 'visible' is true or false"},
      {"window 1 W\n kind window\n BorderStyle 7\n", "line 3: 'BorderStyle' is a choice from 0 to 6"},
      {"window 1 W\n kind window\n Title bare\n", "line 3: 'Title' is a quoted text"},
      {"window 1 W\n kind window\n Title \"open\n", "line 3: a text has no closing quote"},
      {"window 1 W\n kind window\n Icon hex:0g\n", "line 3: 'Icon' takes file:NAME or hex:DIGITS"},
      {"window 1 W\n kind window\n Icon hex:abc\n", "line 3: 'Icon' takes file:NAME or hex:DIGITS"},
      {"window 1 W\n kind window\n Icon file:missing.png\n", "line 3: no embedded file 'missing.png'"},
      {"window 1 W\n kind window\n left 1 2\n", "line 3: expected a name and one value"},
      {"window 1 W\n kind window\n on 0\n", "line 3: expected a name and one value"},
      {"window 1 W\n kind window\n on x H\n", "line 3: expected: on EVENT-NUMBER HANDLER"},
      {"window 1 W\n kind window\n on 0 H\n on 0 G\n", "line 4: the event is bound twice"},
      {"window 1 W\n kind window\n parent W\n", "line 3: a window has no parent"},
      {"window 1 W\n kind window\nwindow 1 V\n", "line 3: two windows have this identifier"},
      {"window 1 W\n kind window\ncontrol 2 C\n kind Label\ncontrol 2 D\n",
       "line 5: two controls have this identifier"},
      {"window 1 W\n kind window\ncontrol 0x06010000 C\n", "line 3: this identifier is reserved"},
      {"window 1 W\n kind window\ncontrol 2 C\n kind Label\n parent Nobody\n",
       "line 5: no control 'Nobody' in this window"},
      {"window 1 W\n kind window\ncontrol 2 A\n kind PicBox\n parent B\ncontrol 3 B\n kind PicBox\n"
       " parent A\n",
       "is its own ancestor"},
      {"window 1 W\n kind window\ncontrol 2 C\n kind BrowserPane\n StatusText \"x\"\n",
       "line 5: 'StatusText' is read-only"},
  };
  for (const Case& c : cases) {
    const ReadResult read = ReadWindowData(Bytes(c.data), [](std::string_view) { return toolkit::Bytes{}; });
    EXPECT_NE(read.error.find(c.error), std::string::npos) << "data:\n" << c.data << "\nerror: " << read.error << "\nwanted: " << c.error;
  }
}

TEST(WindowDataTest, GbkTextsMayHoldAnyByteButQuotes) {
  // GBK trail bytes include '\\' and letters; texts keep them as they are.
  const std::string data = "window 1 W\n kind window\n Title \"\x81\x5C\xFE\x40 #x\"\n";
  const ReadResult read = ReadWindowData(Bytes(data), [](std::string_view) { return toolkit::Bytes{}; });
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(read.data.windows[0].window.GetText(window_setting::kTitle), "\x81\x5C\xFE\x40 #x");
}

}  // namespace
}  // namespace toolkit
