#include "app/handlers.h"

#include <array>
#include <cstdint>

#include "app/main_window.h"
#include "assets/addresses.h"
#include "player/browser_pane.h"
#include "sound/sound_player.h"
#include "toolkit/control_kinds.h"
#include "zorva_files_files.h"

hotkeys::HotkeyId HotkeyIdF9 = 0;
hotkeys::HotkeyId HotkeyIdF10 = 0;
hotkeys::HotkeyId HotkeyIdF11 = 0;
hotkeys::HotkeyId HotkeyIdF12 = 0;
hotkeys::HotkeyId HotkeyIdF8 = 0;

namespace {

using toolkit::EventArgs;
using toolkit::EventResult;

// The confirmation sound of start-up and of every hotkey.
const std::span<const std::uint8_t>& Chime = assets::chime_wav;

constexpr std::int32_t kNoModifiers = 0;
constexpr int kUrl = toolkit::browser_setting::kUrl;

struct HotkeyRow {
  hotkeys::HotkeyId* stored_in;
  std::int32_t virtual_key;
};
// The order of registration, F8 last.
constexpr std::array<HotkeyRow, 5> kHotkeys{{
    {&HotkeyIdF9, 0x78},
    {&HotkeyIdF10, 0x79},
    {&HotkeyIdF11, 0x7A},
    {&HotkeyIdF12, 0x7B},
    {&HotkeyIdF8, 0x77},
}};

void RequestChime() { sound::PlaySound(Chime); }

// A refused key stores 0; it must never match, even should a 0 arrive.
bool IsPressOf(hotkeys::HotkeyId stored, hotkeys::HotkeyId pressed) {
  return stored != 0 && stored == pressed;
}

}  // namespace

EventResult OnMainWindowCreated(const EventArgs&) {
  for (const HotkeyRow& row : kHotkeys) {
    const toolkit::NativeHandle owner = toolkit::GetNativeHandle(MainWindow, MainWindowItself);
    const toolkit::NativeHandle sink = toolkit::GetNativeHandle(MainWindow, HotkeySink);
    *row.stored_in = hotkeys::RegisterHotkey(owner, sink, kNoModifiers, row.virtual_key);
  }
  RequestChime();
  return {};
}

// Five independent tests, in registration order; identifiers are distinct,
// so at most one of them matches.
EventResult OnHotkeySinkFeedback(const EventArgs& args) {
  const hotkeys::HotkeyId pressed = args[0];
  if (IsPressOf(HotkeyIdF9, pressed)) {
    player::BrowserCommand(MainWindow, PlayerPane, player::kRefresh);
    RequestChime();
  }
  if (IsPressOf(HotkeyIdF10, pressed)) {
    RequestChime();
    toolkit::WriteProperty(MainWindow, PlayerPane, kUrl, -1, std::string(assets::HomeAddress));
  }
  if (IsPressOf(HotkeyIdF11, pressed)) {
    RequestChime();
    toolkit::WriteProperty(MainWindow, MainWindowItself, toolkit::kVisible, -1, false);
  }
  if (IsPressOf(HotkeyIdF12, pressed)) {
    RequestChime();
    toolkit::WriteProperty(MainWindow, MainWindowItself, toolkit::kVisible, -1, true);
  }
  if (IsPressOf(HotkeyIdF8, pressed)) {
    RequestChime();
    toolkit::WriteProperty(MainWindow, PlayerPane, kUrl, -1, std::string(assets::RandomPlayAddress));
  }
  return {};
}

EventResult OnInstructionsButtonPressed(const EventArgs&) {
  toolkit::WriteProperty(MainWindow, InstructionsPanel, toolkit::kVisible, -1, true);
  return {};
}

EventResult OnExitButtonPressed(const EventArgs&) { toolkit::EndProgram(0); }

// A left press on the legend picture moves the window instead, so this
// never runs; the binding is kept as the window has always had it.
EventResult OnInstructionsPanelPressed(const EventArgs&) { return {}; }
