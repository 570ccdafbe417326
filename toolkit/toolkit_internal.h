#pragma once
// Parts of the toolkit that its backends and tests use, beyond the
// program's interface in toolkit.h.

#include <cstdint>
#include <span>
#include <string_view>

#include "toolkit/native.h"

namespace toolkit {

// The embedded file that holds every window description.
inline constexpr std::string_view kWindowDataName = "windows.zwd";

// Window events beyond "created" (0).
enum WindowEvent : std::int32_t {
  kCreated = 0,
  kQueryClose = 1,
  kDestroyed = 2,
  kCloseQuery = 12,
};

// PrepareToolkit with the window data and handlers given.
void PrepareToolkitFrom(std::span<const std::uint8_t> window_data,
                        std::span<const NamedHandler> handlers);

struct WindowPosition {
  int x;
  int y;
};
// Where a window first appears on a screen of the given size.
WindowPosition PlaceWindow(const ControlDescription& window, native::ScreenSize screen);

}  // namespace toolkit

namespace toolkit {
// Forgets the window data, every loaded window and the clean-up list, as at
// process start. For tests that run the toolkit many times in one process.
void ResetToolkit();
}  // namespace toolkit
