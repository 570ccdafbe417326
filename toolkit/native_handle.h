#pragma once
// The handle by which platform facilities (hotkeys, sound) refer to a window
// or control without seeing the platform's own types: a GtkWidget* on GTK,
// an HWND on Windows. Zero is never a valid handle.

#include <cstdint>

namespace toolkit {
using NativeHandle = std::uintptr_t;
}  // namespace toolkit
