#include "store/user_root_win.h"

#include "store/user_root.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <memory>
#include <type_traits>
#include <vector>

namespace kestrin
{
namespace
{

struct LocalFreer
{
    void operator()(void* memory) const { LocalFree(memory); }
};

struct HandleCloser
{
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

std::optional<std::wstring> SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return std::nullopt;
    const std::unique_ptr<wchar_t, LocalFreer> owned(text);
    return std::wstring(text);
}

std::optional<std::wstring> TokenUserSid(HANDLE process)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return std::nullopt;
    const UniqueHandle owned(token);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return std::nullopt;
    return SidText(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

// wtsapi32 is loaded from the system directory only, and only for this one question.
std::optional<std::wstring> SessionAccountName()
{
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    const HMODULE wtsapi = LoadLibraryW((std::wstring(directory, length) + L"\\wtsapi32.dll").c_str());
    if (!wtsapi) return std::nullopt;
    const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> owned(wtsapi, &FreeLibrary);
    using Query = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
    using Free = void(WINAPI*)(PVOID);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void (*)()>(GetProcAddress(wtsapi, "WTSQuerySessionInformationW")));
    const auto release =
        reinterpret_cast<Free>(reinterpret_cast<void (*)()>(GetProcAddress(wtsapi, "WTSFreeMemory")));
    if (!query || !release) return std::nullopt;

    const auto ask = [&](WTS_INFO_CLASS what) -> std::optional<std::wstring>
    {
        wchar_t* text = nullptr;
        DWORD bytes = 0;
        if (!query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &text, &bytes) || !text)
            return std::nullopt;
        std::wstring answer(text);
        release(text);
        return answer;
    };
    const auto user = ask(WTSUserName);
    if (!user || user->empty()) return std::nullopt; // no one is signed in to this session
    const auto domain = ask(WTSDomainName);
    return domain && !domain->empty() ? *domain + L"\\" + *user : *user;
}

std::optional<std::wstring> AccountSid(const std::wstring& account)
{
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use{};
    LookupAccountNameW(nullptr, account.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
    if (sidSize == 0) return std::nullopt;
    std::vector<unsigned char> sid(sidSize);
    std::wstring domain(domainSize + 1, L'\0');
    if (!LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sidSize, domain.data(), &domainSize, &use))
        return std::nullopt;
    return SidText(sid.data());
}

// The owner of the desktop's shell, for when the session's account name cannot be looked up: the owner
// of its desktop window or, where it registered none (as under Wine), of its taskbar.
std::optional<std::wstring> ShellUserSid()
{
    DWORD processId = 0;
    HWND shell = GetShellWindow();
    if (!shell) shell = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!shell || !GetWindowThreadProcessId(shell, &processId) || processId == 0) return std::nullopt;
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return std::nullopt;
    return TokenUserSid(process.get());
}

} // namespace

std::optional<std::wstring> ProcessUserSid()
{
    return TokenUserSid(GetCurrentProcess());
}

std::optional<std::wstring> SessionUserSid()
{
    if (const auto account = SessionAccountName())
    {
        if (auto sid = AccountSid(*account)) return sid;
    }
    return ShellUserSid();
}

namespace
{

// In the usual case the shell's owner is this process's own user: that settles it without loading
// wtsapi32 or asking for an account's SID. Otherwise the session is asked.
std::optional<std::wstring> SessionUserSidFor(const std::wstring& self)
{
    if (const auto shell = ShellUserSid(); shell && SameSid(*shell, self)) return shell;
    return SessionUserSid();
}

} // namespace

UserRoot OpenUsersHive(const std::wstring& sid)
{
    HKEY hive = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, MAXIMUM_ALLOWED, &hive) != ERROR_SUCCESS) return {};
    return UserRoot(hive);
}

UserRoot OpenSessionUserRoot()
{
    const auto self = ProcessUserSid();
    if (!self) return {};
    UserRoot opened;
    const auto sid = ChooseUsersHive(*self, SessionUserSidFor(*self),
                                     [&opened](std::wstring_view candidate)
                                     {
                                         opened = OpenUsersHive(std::wstring(candidate));
                                         return opened.IsUsersHive();
                                     });
    return sid ? std::move(opened) : UserRoot();
}

} // namespace kestrin
