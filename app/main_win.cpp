#include "app/program_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // Before anything else can load a DLL into what may be an elevated process.
    kestrin::LimitDllSearchToSystem();
    return kestrin::RunProgram(instance, showCommand);
}
