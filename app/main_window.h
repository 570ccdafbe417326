#pragma once
// The identifiers by which the program's code reaches its window and the
// controls it touches (app/windows.zwd.in describes them all).

#include "toolkit/toolkit.h"

inline constexpr toolkit::WindowId MainWindow = 0x52010001;
inline constexpr toolkit::ControlId MainWindowItself = toolkit::kWindowItself;
inline constexpr toolkit::ControlId PlayerPane = 0x16010031;
inline constexpr toolkit::ControlId HotkeySink = 0x16010022;
inline constexpr toolkit::ControlId ExitButton = 0x1601001E;
inline constexpr toolkit::ControlId InstructionsButton = 0x16010016;
inline constexpr toolkit::ControlId InstructionsPanel = 0x1601000E;
inline constexpr toolkit::ControlId BackgroundPanel = 0x1601000D;
