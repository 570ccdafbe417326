#pragma once

#include <cstdint>

// Prepares the toolkit, loads the window and runs the message loop until
// the window is closed. Always 0.
std::int32_t StartUp();
