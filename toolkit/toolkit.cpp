// The portable toolkit: window data, event dispatch, the order of loading
// a window, and the two ways of ending. The platform work is done by the
// backend behind native.h.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "assets/embedded.h"
#include "sound/sound_player.h"
#include "toolkit/native.h"
#include "toolkit/toolkit_internal.h"

namespace toolkit {
namespace {

struct LoadedWindow {
  WindowId id;
  LoadedControl window;
  std::vector<LoadedControl> controls;  // in description order
};

struct Toolkit {
  WindowData data;
  bool platform_ready = false;
  std::vector<void (*)()> cleanup;
  int event_blocks = 0;  // events call no handler while this is nonzero
  bool loop_entered = false;
  int quit_code = 0;
  std::vector<std::unique_ptr<LoadedWindow>> windows;
};

Toolkit& State() {
  static Toolkit state;
  return state;
}

LoadedWindow* FindWindow(WindowId id) {
  for (auto& window : State().windows) {
    if (window->id == id) return window.get();
  }
  return nullptr;
}

LoadedControl* FindControl(LoadedWindow& window, ControlId id) {
  if (id == kWindowItself || id == 0) return &window.window;
  for (LoadedControl& control : window.controls) {
    if (control.description.id == id) return &control;
  }
  return nullptr;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Stores `value` in the slot of a property of type `type`, converting
// between booleans and integers. False when the value does not fit.
bool Store(StoredValue& slot, ValueType type, const PropertyValue& value) {
  if (const std::string* text = std::get_if<std::string>(&value)) {
    if (type != ValueType::kText) return false;
    slot = *text;
    return true;
  }
  const std::int32_t number =
      std::holds_alternative<bool>(value) ? std::get<bool>(value) : std::get<std::int32_t>(value);
  switch (type) {
    case ValueType::kBool:
      slot = number != 0;
      return true;
    case ValueType::kInt:
    case ValueType::kChoice:
    case ValueType::kPointer:
      slot = number;
      return true;
    default:
      return false;
  }
}

void Shutdown() {
  Toolkit& state = State();
  ++state.event_blocks;  // never lifted: no handler runs from here on
  const std::vector<void (*)()> routines = std::move(state.cleanup);
  state.cleanup.clear();
  for (void (*routine)() : routines) routine();
  sound::StopAllSounds();
  if (state.platform_ready) {
    state.platform_ready = false;
    native::Uninitialise();
  }
}

}  // namespace

void PrepareToolkitFrom(std::span<const std::uint8_t> window_data,
                        std::span<const NamedHandler> handlers) {
  Toolkit& state = State();
  std::string why;
  if (!native::Initialise(why)) FatalError(why);
  state.platform_ready = true;

  ReadResult read = ReadWindowData(window_data, assets::FindEmbedded);
  if (!read.error.empty()) FatalError("The window data cannot be read: " + read.error);
  for (WindowDescription& window : read.data.windows) {
    auto bind = [&](ControlDescription& control) {
      for (EventBinding& binding : control.events) {
        const auto found = std::find_if(handlers.begin(), handlers.end(), [&](const NamedHandler& h) {
          return h.name == binding.handler_name;
        });
        if (found == handlers.end()) {
          FatalError("The window data names a handler the program lacks: " + binding.handler_name);
        }
        binding.handler = found->handler;
      }
    };
    bind(window.window);
    std::for_each(window.controls.begin(), window.controls.end(), bind);
  }
  state.data = std::move(read.data);
}

void PrepareToolkit() {
  const std::span<const std::uint8_t> window_data = assets::FindEmbedded(kWindowDataName);
  PrepareToolkitFrom(window_data, ProgramHandlers());
}

void RegisterCleanup(void (*routine)()) {
  auto& cleanup = State().cleanup;
  if (std::find(cleanup.begin(), cleanup.end(), routine) == cleanup.end()) {
    cleanup.push_back(routine);
  }
}

WindowPosition PlaceWindow(const ControlDescription& window, native::ScreenSize screen) {
  const int width = window.GetInt(kWidth);
  const int height = window.GetInt(kHeight);
  if (window.GetInt(window_setting::kStartPosition) == 1) {
    // Integer division truncates toward zero, as the placement rule asks;
    // a screen smaller than the window gives negative places, kept as such.
    return {(screen.width - width) / 2, (screen.height - height) / 2};
  }
  return {window.GetInt(kLeft), window.GetInt(kTop)};
}

void LoadWindow(WindowId id) {
  Toolkit& state = State();
  const auto description =
      std::find_if(state.data.windows.begin(), state.data.windows.end(),
                   [id](const WindowDescription& window) { return window.id == id; });
  if (description == state.data.windows.end()) FatalError("There is no window " + Hex(id));
  if (FindWindow(id) != nullptr) return;  // a window is loaded once

  ++state.event_blocks;
  auto loaded = std::make_unique<LoadedWindow>();
  LoadedWindow& window = *loaded;
  window.id = id;
  window.window.description = description->window;
  window.controls.resize(description->controls.size());
  state.windows.push_back(std::move(loaded));

  window.window.native = description->window.kind->create(window.window.description, nullptr);
  if (!window.window.native) FatalError("The window " + Hex(id) + " cannot be created");

  // Controls are made from the last in the description to the first, each
  // as a child of the window, none of them visible yet.
  for (std::size_t i = description->controls.size(); i-- > 0;) {
    LoadedControl& control = window.controls[i];
    control.description = description->controls[i];
    control.native = control.description.kind->create(control.description, window.window.native.get());
    if (!control.native) {
      FatalError("The control " + Hex(control.description.id) + " of window " + Hex(id) +
                 " cannot be created");
    }
  }
  for (LoadedControl& control : window.controls) {
    if (control.description.parent != kWindowItself) {
      control.native->MoveInto(*FindControl(window, control.description.parent)->native);
    }
  }
  // Earlier in the description means higher among siblings.
  for (std::size_t i = 0; i < window.controls.size(); ++i) {
    NativeControl* above = nullptr;
    for (std::size_t j = i; j-- > 0;) {
      if (window.controls[j].description.parent == window.controls[i].description.parent) {
        above = window.controls[j].native.get();
        break;
      }
    }
    window.controls[i].native->PlaceBehind(above);
  }
  for (LoadedControl& control : window.controls) {
    control.native->SetShown(control.description.GetBool(kVisible));
  }
  --state.event_blocks;

  RaiseEvent(id, kWindowItself, 0);

  LoadedWindow* still_there = FindWindow(id);
  if (still_there != nullptr && still_there->window.description.GetBool(kVisible)) {
    still_there->window.native->SetShown(true);
  }
}

void RunMessageLoop() {
  Toolkit& state = State();
  state.loop_entered = true;
  if (state.windows.empty()) return;
  state.quit_code = native::RunLoop();
}

void EndProgram(std::int32_t exit_code) {
  Shutdown();
  native::ExitProcess(exit_code);
}

void FatalError(std::string_view message) {
  Toolkit& state = State();
  ++state.event_blocks;
  native::ShowErrorBox("The program met an error while running:\n" + std::string(message));
  state.cleanup.clear();
  EndProgram(-1);
}

EventResult RaiseEvent(WindowId window_id, ControlId control_id, std::int32_t event,
                       const EventArgs& args) {
  if (State().event_blocks > 0) return std::nullopt;
  LoadedWindow* window = FindWindow(window_id);
  if (window == nullptr) return std::nullopt;
  const LoadedControl* control = FindControl(*window, control_id);
  if (control == nullptr) return std::nullopt;
  for (const EventBinding& binding : control->description.events) {
    if (binding.event == event && binding.handler != nullptr) return binding.handler(args);
  }
  return std::nullopt;
}

NativeHandle GetNativeHandle(WindowId window_id, ControlId control_id) {
  LoadedWindow* window = FindWindow(window_id);
  const LoadedControl* control = window != nullptr ? FindControl(*window, control_id) : nullptr;
  if (control == nullptr || !control->native) {
    FatalError("There is no loaded control " + Hex(control_id) + " in window " + Hex(window_id));
  }
  return control->native->Handle();
}

void WriteProperty(WindowId window_id, ControlId control_id, int property, int /*index*/,
                   const PropertyValue& value) {
  LoadedWindow* window = FindWindow(window_id);
  if (window == nullptr) FatalError("Window " + Hex(window_id) + " is not loaded");
  LoadedControl* control = FindControl(*window, control_id);
  if (control == nullptr) {
    if (property >= kFirstSetting) {
      FatalError("There is no control " + Hex(control_id) + " in window " + Hex(window_id));
    }
    return;
  }
  ControlDescription& description = control->description;
  const PropertySpec* info = FindProperty(*description.kind, property);
  if (info == nullptr || info->read_only) return;
  if (!Store(description.properties[static_cast<std::size_t>(property)], info->type, value)) return;
  if (property == kVisible) {
    control->native->SetShown(description.GetBool(kVisible));
  } else {
    control->native->PropertyWritten(description, property);
  }
}

void RaiseFeedbackEvent(NativeHandle handle, std::int32_t first, std::int32_t second) {
  WindowId window = 0;
  ControlId control = 0;
  if (FindByHandle(handle, window, control)) RaiseEvent(window, control, 0, {first, second});
}

void RunProgram(std::int32_t (*start_up)()) {
  start_up();
  Shutdown();
  native::ExitProcess(State().quit_code);
}

LoadedControl* FindLoadedControl(WindowId window_id, ControlId control_id) {
  LoadedWindow* window = FindWindow(window_id);
  return window != nullptr ? FindControl(*window, control_id) : nullptr;
}

bool FindByHandle(NativeHandle handle, WindowId& window_id, ControlId& control_id) {
  if (handle == 0) return false;
  for (const auto& window : State().windows) {
    if (window->window.native && window->window.native->Handle() == handle) {
      window_id = window->id;
      control_id = kWindowItself;
      return true;
    }
    for (const LoadedControl& control : window->controls) {
      if (control.native && control.native->Handle() == handle) {
        window_id = window->id;
        control_id = control.description.id;
        return true;
      }
    }
  }
  return false;
}

void RequestClose(WindowId window_id) {
  if (FindWindow(window_id) == nullptr) return;
  // A handler that hands back false to either close query keeps the window.
  for (const std::int32_t query : {kCloseQuery, kQueryClose}) {
    const EventResult answer = RaiseEvent(window_id, kWindowItself, query);
    if (answer.has_value() && *answer == 0) return;
  }
  RaiseEvent(window_id, kWindowItself, kDestroyed);
  WindowDestroyed(window_id);
}

void WindowDestroyed(WindowId window_id) {
  Toolkit& state = State();
  const auto found = std::find_if(state.windows.begin(), state.windows.end(),
                                  [window_id](const auto& window) { return window->id == window_id; });
  if (found == state.windows.end()) return;
  std::unique_ptr<LoadedWindow> window = std::move(*found);
  state.windows.erase(found);
  window->controls.clear();
  window.reset();
  if (state.windows.empty() && state.loop_entered) native::Quit(0);
}

bool LeftPressMovesWindow(WindowId window_id, ControlId control_id) {
  LoadedWindow* window = FindWindow(window_id);
  const LoadedControl* control = window != nullptr ? FindControl(*window, control_id) : nullptr;
  return control != nullptr && window->window.description.GetBool(window_setting::kDragByBody) &&
         control->description.kind->drags_window;
}

}  // namespace toolkit

namespace toolkit {
void ResetToolkit() { State() = Toolkit{}; }
}  // namespace toolkit
