// A DLL that does nothing: placed beside the tests, it stands for one planted beside the program.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
