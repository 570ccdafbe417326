#pragma once
// The null backend: draws nothing and records what the toolkit asks of the
// platform, so that the toolkit's rules can be checked without a display.

#include <string>
#include <vector>

#include "toolkit/toolkit.h"

namespace toolkit::null_backend {

// Each platform call, in order: "create 0x1601000D", "move 0x16010016 into
// 0x1601000D", "behind 0x1601000E 0x16010016", "behind 0x1601001E top",
// "show 0x1601001E", "hide 0x1601000E", "write 0x16010031 11",
// "error <message>", "quit 0", "exit 0".
std::vector<std::string>& Log();

// Makes the factory of this control fail (0: none fails).
void FailCreating(ControlId control);

// Called whenever a control is made, as a backend reporting an event
// while the window is being built.
void OnCreate(void (*callback)());

// Whether the platform starts.
void SetDisplayAvailable(bool available);

// ExitProcess throws this instead of ending the test.
struct ProcessExit {
  int code;
};

// Forgets every loaded window and the toolkit's state between tests.
void Reset();

}  // namespace toolkit::null_backend
