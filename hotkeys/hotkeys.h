#pragma once
// The system-wide hotkey facility.
//
// Contract, for every backend (hotkeys_x11.cpp, hotkeys_win32.cpp):
// - RegisterHotkey asks the system for `virtual_key` (a Windows virtual-key
//   code: 0x70 F1 ... 0x7B F12) with `modifiers` (1 Ctrl, 2 Shift, 4 Alt,
//   summed; any other value is passed on unchanged). It yields a nonzero
//   HotkeyId, distinct from every other one handed out in the run, or 0 when
//   the system refuses (another program, or another copy of this one,
//   already holds the key). A refusal is never fatal and leaves nothing to
//   undo.
// - Every call, refused or not, makes `feedback_control` the one control
//   that receives the presses of every registered key.
// - A press is delivered synchronously on the user-interface thread, through
//   toolkit::RaiseFeedbackEvent(feedback control, id, 0), wherever the
//   keyboard focus is and whether or not the owner window is visible.
//   0 is never delivered, nor an identifier the facility did not hand out.
// - Registrations last until UnregisterHotkey or the end of the process.

#include <cstdint>

#include "toolkit/native_handle.h"

namespace hotkeys {

using HotkeyId = std::int32_t;

enum Modifier : std::int32_t { kNone = 0, kCtrl = 1, kShift = 2, kAlt = 4 };

HotkeyId RegisterHotkey(toolkit::NativeHandle owner_window,
                        toolkit::NativeHandle feedback_control,
                        std::int32_t modifiers, std::int32_t virtual_key);

void UnregisterHotkey(HotkeyId id);

}  // namespace hotkeys
