// The process entry: the program takes no command line.
#include "app/start_up.h"
#include "toolkit/toolkit.h"

int main() { toolkit::RunProgram(StartUp); }
