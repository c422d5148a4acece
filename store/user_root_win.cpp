#include "store/user_root_win.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <algorithm>
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
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;

std::optional<std::wstring> SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) return std::nullopt;
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

// The process of the desktop's shell: the owner of its desktop window or, where it registered none (as
// under Wine), of its taskbar.
std::optional<DWORD> ShellProcessId()
{
    DWORD processId = 0;
    HWND shell = GetShellWindow();
    if (!shell) shell = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!shell || !GetWindowThreadProcessId(shell, &processId) || processId == 0) return std::nullopt;
    return processId;
}

// The shell's user, where this process may read its token: only when it is this process's own user (a
// process of another account needs SE_DEBUG_NAME for that).
std::optional<std::wstring> ShellUserSidIfOwn(std::optional<DWORD> shell)
{
    if (!shell) return std::nullopt;
    const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *shell));
    if (!process) return std::nullopt;
    return TokenUserSid(process.get());
}

// wtsapi32 is loaded from the system directory only, and only when the shell's owner did not settle it.
UniqueModule LoadWtsapi()
{
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {nullptr, &FreeLibrary};
    return {LoadLibraryW((std::wstring(directory, length) + L"\\wtsapi32.dll").c_str()), &FreeLibrary};
}

template <typename Function> Function Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::wstring SessionAccount(HMODULE wtsapi)
{
    using Query = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
    using Free = void(WINAPI*)(PVOID);
    const auto query = Export<Query>(wtsapi, "WTSQuerySessionInformationW");
    const auto release = Export<Free>(wtsapi, "WTSFreeMemory");
    if (!query || !release) return {};
    const auto ask = [&](WTS_INFO_CLASS what)
    {
        wchar_t* text = nullptr;
        DWORD bytes = 0;
        if (!query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &text, &bytes) || !text)
            return std::wstring();
        std::wstring answer(text);
        release(text);
        return answer;
    };
    const std::wstring user = ask(WTSUserName);
    if (user.empty()) return {}; // no one is signed in to this session
    const std::wstring domain = ask(WTSDomainName);
    return domain.empty() ? user : domain + L"\\" + user;
}

// Each process of this session with its user. The SIDs come from the session's own list, with no name
// lookup; an administrator's process (elevated, as the program is when it runs as another account) is
// told every account's processes.
std::vector<SessionProcess> SessionProcesses(HMODULE wtsapi)
{
    using Enumerate = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, PWTS_PROCESS_INFOW*, DWORD*);
    using Free = void(WINAPI*)(PVOID);
    const auto enumerate = Export<Enumerate>(wtsapi, "WTSEnumerateProcessesW");
    const auto release = Export<Free>(wtsapi, "WTSFreeMemory");
    DWORD session = 0;
    if (!enumerate || !release || !ProcessIdToSessionId(GetCurrentProcessId(), &session)) return {};
    PWTS_PROCESS_INFOW list = nullptr;
    DWORD count = 0;
    if (!enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count) || !list) return {};
    std::vector<SessionProcess> processes;
    for (DWORD i = 0; i < count; ++i)
    {
        if (list[i].SessionId != session) continue;
        processes.push_back({list[i].ProcessId, SidText(list[i].pUserSid).value_or(L""), {}});
    }
    release(list);
    return processes;
}

} // namespace

std::optional<std::wstring> ProcessUserSid()
{
    return TokenUserSid(GetCurrentProcess());
}

std::optional<std::wstring> AccountOfSid(const std::wstring& sid)
{
    PSID binary = nullptr;
    if (!ConvertStringSidToSidW(sid.c_str(), &binary)) return std::nullopt;
    const std::unique_ptr<void, LocalFreer> owned(binary);
    DWORD nameSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use{};
    LookupAccountSidW(nullptr, binary, nullptr, &nameSize, nullptr, &domainSize, &use);
    if (nameSize == 0) return std::nullopt;
    std::wstring name(nameSize, L'\0');
    std::wstring domain(domainSize + 1, L'\0');
    if (!LookupAccountSidW(nullptr, binary, name.data(), &nameSize, domain.data(), &domainSize, &use))
        return std::nullopt;
    name.resize(nameSize);
    domain.resize(domainSize);
    return domain.empty() ? name : domain + L"\\" + name;
}

void LookUpAccounts(SessionFacts& session)
{
    std::vector<std::pair<std::wstring, std::wstring>> known; // SID, account
    for (auto& process : session.processes)
    {
        if (process.userSid.empty()) continue;
        auto it = std::find_if(known.begin(), known.end(),
                               [&](const auto& entry) { return SameSid(entry.first, process.userSid); });
        if (it == known.end())
            it = known.insert(known.end(), {process.userSid, AccountOfSid(process.userSid).value_or(L"")});
        process.account = it->second;
    }
}

SessionFacts CurrentSessionFacts()
{
    SessionFacts facts;
    facts.shellProcessId = ShellProcessId();
    const UniqueModule wtsapi = LoadWtsapi();
    if (!wtsapi) return facts;
    facts.account = SessionAccount(wtsapi.get());
    facts.processes = SessionProcesses(wtsapi.get());
    // Names are looked up only where the shell's process does not tell: a domain account's lookup may
    // wait for a domain controller that does not answer.
    const bool shellListed =
        facts.shellProcessId &&
        std::any_of(facts.processes.begin(), facts.processes.end(),
                    [&](const SessionProcess& process)
                    { return process.processId == *facts.shellProcessId && !process.userSid.empty(); });
    if (!shellListed) LookUpAccounts(facts);
    return facts;
}

UserRoot OpenUsersHive(const std::wstring& sid)
{
    HKEY hive = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, MAXIMUM_ALLOWED, &hive) != ERROR_SUCCESS) return {};
    return UserRoot(hive);
}

SessionUserRoot OpenSessionUserRoot()
{
    SessionUserRoot result;
    const auto self = ProcessUserSid();
    // In the usual case the shell's owner is this process's own user: that settles it without loading
    // wtsapi32 or looking up any account.
    const std::optional<DWORD> shell = ShellProcessId();
    if (const auto shellUser = ShellUserSidIfOwn(shell); self && shellUser && SameSid(*shellUser, *self))
        return result;

    SessionFacts facts = CurrentSessionFacts();
    UserRoot opened;
    const HiveChoice choice = ChooseUsersHive(self.value_or(L""), SignedInUserSid(facts),
                                              [&opened](std::wstring_view candidate)
                                              {
                                                  opened = OpenUsersHive(std::wstring(candidate));
                                                  return opened.IsUsersHive();
                                              });
    switch (choice.kind)
    {
    case HiveChoice::Kind::CurrentUser:
        return result;
    case HiveChoice::Kind::UsersHive:
        result.root = std::move(opened);
        return result;
    case HiveChoice::Kind::Refuse:
        break;
    }
    result.refused = true;
    result.processAccount = self ? AccountOfSid(*self).value_or(*self) : std::wstring();
    result.sessionAccount = facts.account;
    if (result.sessionAccount.empty() && !choice.sid.empty())
        result.sessionAccount = AccountOfSid(choice.sid).value_or(choice.sid);
    return result;
}

} // namespace kestrin
