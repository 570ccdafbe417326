#pragma once
// The program's reactions: the five handlers the window description binds,
// and the hotkey identifiers they share.

#include "hotkeys/hotkeys.h"
#include "toolkit/toolkit.h"

// Each holds 0 until OnMainWindowCreated stores its key's registration
// (0 again when the system refused the key).
extern hotkeys::HotkeyId HotkeyIdF9;
extern hotkeys::HotkeyId HotkeyIdF10;
extern hotkeys::HotkeyId HotkeyIdF11;
extern hotkeys::HotkeyId HotkeyIdF12;
extern hotkeys::HotkeyId HotkeyIdF8;

toolkit::EventResult OnMainWindowCreated(const toolkit::EventArgs& args);
toolkit::EventResult OnHotkeySinkFeedback(const toolkit::EventArgs& args);
toolkit::EventResult OnInstructionsButtonPressed(const toolkit::EventArgs& args);
toolkit::EventResult OnExitButtonPressed(const toolkit::EventArgs& args);
toolkit::EventResult OnInstructionsPanelPressed(const toolkit::EventArgs& args);
