#pragma once
// The window toolkit: builds windows and controls from the window
// descriptions the executable carries, runs the message loop and calls the
// program's event handlers.
//
// Everything here runs on the one user-interface thread. Texts are in the
// GBK code page, as the window descriptions store them; the platform
// backends convert them where they meet the system.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "toolkit/native_handle.h"

namespace toolkit {

using WindowId = std::uint32_t;
using ControlId = std::uint32_t;

// The control identifier that stands for a window itself.
inline constexpr ControlId kWindowItself = 0x06010000;

// Up to five 32-bit values travel with an event; unused ones are 0.
using EventArgs = std::array<std::int32_t, 5>;
// A handler may hand back a 32-bit result; std::nullopt means it gave none.
using EventResult = std::optional<std::int32_t>;
using EventHandler = EventResult (*)(const EventArgs& args);

// A handler as the window descriptions name it.
struct NamedHandler {
  std::string_view name;
  EventHandler handler;
};

// A value written to a numbered property: a boolean, an integer or a
// GBK text.
using PropertyValue = std::variant<bool, std::int32_t, std::string>;

// Standard property numbers, the same on every control kind.
enum StandardProperty : int {
  kLeft = 0,
  kTop = 1,
  kWidth = 2,
  kHeight = 3,
  kTag = 4,
  kVisible = 5,
  kDisable = 6,
  kMousePointer = 7,
};

// Event numbers shared by every kind.
enum CommonEvent : std::int32_t {
  kLeftButtonDown = -1,
  kDoubleClick = -3,
};

// Reads the embedded window data and binds every event table to the
// program's handlers (toolkit::ProgramHandlers). Fatal when the data cannot
// be read.
void PrepareToolkit();

// Appends `routine` to the clean-up list unless it is already there.
void RegisterCleanup(void (*routine)());

// Builds the window and its controls, raises its created event, then shows
// it. Fatal when there is no such window or a part of it cannot be made.
void LoadWindow(WindowId window);

// Dispatches messages until the quit message; returns at once when the
// program has no window.
void RunMessageLoop();

// Runs the shutdown steps and ends the process with `exit_code`.
[[noreturn]] void EndProgram(std::int32_t exit_code);

// Reports a failure the program cannot go on from, then ends with -1
// (a POSIX exit status of 255).
[[noreturn]] void FatalError(std::string_view message);

// Calls the handler bound to `event` of the control, unless events are
// blocked or nothing is bound.
EventResult RaiseEvent(WindowId window, ControlId control, std::int32_t event,
                       const EventArgs& args = {});

// The system handle of the window or control; fatal when it is not loaded.
NativeHandle GetNativeHandle(WindowId window, ControlId control);

// Changes a numbered property; `index` is -1 for a property that is not an
// array. Fatal for a window that is not loaded, or for a kind's own
// property of a control that does not exist.
void WriteProperty(WindowId window, ControlId control, int property, int index,
                   const PropertyValue& value);

// Raises the feedback event (event 0) of the control behind `control`.
// The hotkey facility delivers presses this way.
void RaiseFeedbackEvent(NativeHandle control, std::int32_t first, std::int32_t second);

// The process entry's whole work: runs `start_up` once, then the shutdown
// steps, and ends the process with the code the quit message carried.
[[noreturn]] void RunProgram(std::int32_t (*start_up)());

// The program's handlers, which the window descriptions name. Defined by
// the program.
std::span<const NamedHandler> ProgramHandlers();

}  // namespace toolkit
