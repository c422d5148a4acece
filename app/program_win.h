#pragma once

#include <windows.h>

namespace kestrin
{

// Loads DLLs from the system directory only, never from beside the program or the current directory:
// the program runs elevated. Call it first thing; where the system lacks the call (Windows 7 without
// its update) nothing changes.
void LimitDllSearchToSystem();

// The whole program: the user's hive, the window and its message loop. Returns the exit code; tells the
// user, in a message box, when the window cannot be opened.
int RunProgram(HINSTANCE instance, int showCommand);

} // namespace kestrin
