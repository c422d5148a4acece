// A small helper for the end-to-end tests, run under Wine next to kestrin.exe in the same session.
//
//   kestrin_e2e_probe windows TITLE   Lists every visible top-level window titled TITLE (topmost
//                                     first), with its child controls: class, screen rectangle,
//                                     enabled or disabled, whether it has the focus, text.
//   kestrin_e2e_probe lock-key SUBKEY Creates HKCU\SUBKEY if needed and leaves it readable only, so
//                                     that writing a value there is refused with "Access denied".
//
// Output is UTF-8, one line per window or control; a text of several lines goes on and on following
// lines that start with "    | ".

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace
{

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                        nullptr);
    return result;
}

std::wstring TextOf(HWND window)
{
    // WM_GETTEXT crosses process boundaries; GetWindowText does not for another process's controls.
    wchar_t buffer[4096] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 2000, &copied))
        return L"";
    std::wstring text;
    for (const wchar_t c : std::wstring_view(buffer, copied))
        if (c != L'\r') text += c;
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

void Print(const std::wstring& line)
{
    const std::string text = Utf8(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
}

struct Search
{
    std::wstring title;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM data)
{
    auto& search = *reinterpret_cast<Search*>(data);
    if (IsWindowVisible(window) && TextOf(window) == search.title) search.found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM data)
{
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

int ListWindows(const std::wstring& title)
{
    Search search{title, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    for (const HWND window : search.found)
    {
        GUITHREADINFO thread{};
        thread.cbSize = sizeof thread;
        GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread);
        RECT frame{};
        GetWindowRect(window, &frame);
        POINT client{0, 0};
        ClientToScreen(window, &client);
        RECT inside{};
        GetClientRect(window, &inside);
        Print(L"window class=" + ClassOf(window) + L" frame=" + std::to_wstring(frame.left) + L"," +
              std::to_wstring(frame.top) + L"," + std::to_wstring(frame.right - frame.left) + L"x" +
              std::to_wstring(frame.bottom - frame.top) + L" client=" + std::to_wstring(client.x) + L"," +
              std::to_wstring(client.y) + L"," + std::to_wstring(inside.right) + L"x" +
              std::to_wstring(inside.bottom) + L" active=" + (thread.hwndActive == window ? L"yes" : L"no"));
        std::vector<HWND> children;
        EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
        for (const HWND child : children)
        {
            if (!IsWindowVisible(child)) continue;
            RECT area{};
            GetWindowRect(child, &area);
            // A text of several lines goes on continuation lines that start with "    | ".
            std::wstring text = TextOf(child);
            for (std::size_t at = text.find(L'\n'); at != std::wstring::npos; at = text.find(L'\n', at + 7))
                text.replace(at, 1, L"\n    | ");
            Print(L"  control class=" + ClassOf(child) + L" rect=" + std::to_wstring(area.left) + L"," +
                  std::to_wstring(area.top) + L"," + std::to_wstring(area.right - area.left) + L"x" +
                  std::to_wstring(area.bottom - area.top) + L" " +
                  (IsWindowEnabled(child) ? L"enabled" : L"disabled") +
                  (thread.hwndFocus == child ? L" focus" : L"") + L" text=" + text);
        }
    }
    return search.found.empty() ? 1 : 0;
}

int LockKey(const std::wstring& subKey)
{
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
    {
        std::fprintf(stderr, "lock-key: creating the key failed (%ld)\n", static_cast<long>(status));
        return 1;
    }

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    {
        RegCloseKey(key);
        return 1;
    }
    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = KEY_READ;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    PACL acl = nullptr;
    DWORD result = SetEntriesInAclW(1, &access, nullptr, &acl);
    if (result == ERROR_SUCCESS)
        result = SetSecurityInfo(key, SE_REGISTRY_KEY,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                 nullptr, acl, nullptr);
    if (acl) LocalFree(acl);
    FreeSid(everyone);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
    {
        std::fprintf(stderr, "lock-key: setting the key's access failed (%lu)\n",
                     static_cast<unsigned long>(result));
        return 1;
    }

    // Prove the lock holds before the test relies on it.
    HKEY probe = nullptr;
    status = RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_SET_VALUE, &probe);
    if (status == ERROR_SUCCESS)
    {
        RegCloseKey(probe);
        std::fprintf(stderr, "lock-key: the key still opens for writing\n");
        return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdout), _O_BINARY); // "\n", not "\r\n"
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"windows" && argc == 3) return ListWindows(argv[2]);
    if (command == L"lock-key" && argc == 3) return LockKey(argv[2]);
    std::fprintf(stderr, "usage: kestrin_e2e_probe windows TITLE | lock-key SUBKEY\n");
    return 2;
}
