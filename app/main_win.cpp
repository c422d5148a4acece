#include "app/program_win.h"

#include <cstdlib>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // Before anything else can load a DLL into what may be an elevated process.
    kestrin::LimitDllSearchToSystem();
    return kestrin::RunProgram(instance, showCommand);
}

// libstdc++'s default terminate handler prints the uncaught exception's demangled type name, which links
// in the demangler and printf: a third of the program. An unhandled exception ends the program anyway.
namespace __gnu_cxx
{
[[noreturn]] void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx
