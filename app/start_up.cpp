#include "app/start_up.h"

#include "app/handlers.h"
#include "app/main_window.h"

namespace {

// The program keeps nothing that needs releasing; the routine is
// registered so that every ending runs the same clean-up steps.
void CleanUp() {}

constexpr toolkit::NamedHandler kHandlers[] = {
    {"OnMainWindowCreated", OnMainWindowCreated},
    {"OnHotkeySinkFeedback", OnHotkeySinkFeedback},
    {"OnInstructionsButtonPressed", OnInstructionsButtonPressed},
    {"OnExitButtonPressed", OnExitButtonPressed},
    {"OnInstructionsPanelPressed", OnInstructionsPanelPressed},
};

}  // namespace

std::span<const toolkit::NamedHandler> toolkit::ProgramHandlers() { return kHandlers; }

std::int32_t StartUp() {
  toolkit::PrepareToolkit();
  toolkit::RegisterCleanup(CleanUp);
  toolkit::LoadWindow(MainWindow);
  toolkit::RunMessageLoop();
  return 0;
}
