#include "app/restart_win.h"

#include "app/handles_win.h"

#include <string>

namespace kestrin
{
namespace
{

bool EnableShutdownPrivilege()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool enabled = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) &&
                         AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                         GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return enabled;
}

} // namespace

RestartQuestion::Answer ShellRestartQuestion::Ask(const std::wstring& prompt, int flags)
{
    // On every NT-family system the dialog takes a UTF-16 prompt.
    using RestartDialog = int(WINAPI*)(HWND, LPCWSTR, DWORD);
    const UniqueHmodule shell32(LoadSystemLibrary(L"shell32.dll"));
    const auto restartDialog = Export<RestartDialog>(shell32.Get(), MAKEINTRESOURCEA(59));
    // The dialog restarts the computer itself on "Yes", which only a process holding the shutdown privilege,
    // enabled, may do; where it cannot be enabled the question is asked here, and a refusal told.
    if (!restartDialog || !EnableShutdownPrivilege()) return AskWithMessageBox(prompt, flags);
    return restartDialog(m_owner, prompt.c_str(), static_cast<DWORD>(flags)) == IDYES ? Answer::Agree
                                                                                      : Answer::Decline;
}

RestartQuestion::Answer ShellRestartQuestion::AskWithMessageBox(const std::wstring& prompt, int flags)
{
    const std::wstring text = std::wstring(prompt.c_str()) + L"Do you want to restart your computer now?";
    if (MessageBoxW(m_owner, text.c_str(), std::wstring(kCaption).c_str(), MB_YESNO | MB_ICONQUESTION) !=
        IDYES)
        return Answer::Decline;
    if (EnableShutdownPrivilege() &&
        ExitWindowsEx(static_cast<UINT>(flags), SHTDN_REASON_MAJOR_OPERATINGSYSTEM |
                                                    SHTDN_REASON_MINOR_RECONFIG | SHTDN_REASON_FLAG_PLANNED))
        return Answer::Agree;
    const std::wstring failure = L"The computer could not be restarted. Please restart it yourself.";
    MessageBoxW(m_owner, failure.c_str(), std::wstring(kCaption).c_str(), MB_OK | MB_ICONERROR);
    return Answer::Decline;
}

} // namespace kestrin
