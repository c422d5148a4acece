#include "store/registry_win.h"

#include <windows.h>

#include <optional>
#include <string>

namespace kestrin
{
namespace
{

HKEY ToHkey(RootKey root)
{
    switch (root)
    {
    case RootKey::CurrentUser:
        break;
    }
    return HKEY_CURRENT_USER;
}

HKEY ToHkey(KeyHandle key)
{
    return reinterpret_cast<HKEY>(key);
}

// To the ANSI code page, or nothing when a character has no exact equivalent there (or is a NUL,
// which would silently shorten the name).
std::optional<std::string> ToAnsi(std::wstring_view text)
{
    if (text.find(L'\0') != std::wstring_view::npos) return std::nullopt;
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    BOOL lossy = FALSE;
    const int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return std::nullopt;
    std::string ansi(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, ansi.data(), size, nullptr,
                        &lossy);
    if (lossy) return std::nullopt;
    return ansi;
}

} // namespace

Status Win32Registry::OpenKey(RootKey root, std::wstring_view path, KeyHandle& key)
{
    const auto ansiPath = ToAnsi(path);
    if (!ansiPath) return kInvalidParameter;
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyA(ToHkey(root), ansiPath->c_str(), &opened);
    if (status == ERROR_SUCCESS) key = reinterpret_cast<KeyHandle>(opened);
    return status;
}

Status Win32Registry::CreateKey(RootKey root, std::wstring_view path, KeyHandle& key)
{
    const auto ansiPath = ToAnsi(path);
    if (!ansiPath) return kInvalidParameter;
    HKEY created = nullptr;
    const LONG status = RegCreateKeyA(ToHkey(root), ansiPath->c_str(), &created);
    if (status == ERROR_SUCCESS) key = reinterpret_cast<KeyHandle>(created);
    return status;
}

Status Win32Registry::QueryValue(KeyHandle key, std::wstring_view name, ValueProbe* probe)
{
    const auto ansiName = ToAnsi(name);
    if (!ansiName) return kInvalidParameter;
    DWORD type = 0;
    DWORD size = 0;
    // No data buffer: this only asks whether the value is there.
    const LONG status = RegQueryValueExA(ToHkey(key), ansiName->c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS || !probe) return status;

    probe->type = type;
    probe->size = size;
    probe->dword.reset();
    if (type != REG_DWORD || size != sizeof(DWORD)) return status;
    DWORD data = 0;
    DWORD dataSize = sizeof data;
    const LONG read = RegQueryValueExA(ToHkey(key), ansiName->c_str(), nullptr, &type,
                                       reinterpret_cast<BYTE*>(&data), &dataSize);
    if (read != ERROR_SUCCESS) return read;
    if (type == REG_DWORD && dataSize == sizeof data) probe->dword = data;
    probe->type = type;
    probe->size = dataSize;
    return status;
}

Status Win32Registry::SetDwordValue(KeyHandle key, std::wstring_view name, std::uint32_t data)
{
    const auto ansiName = ToAnsi(name);
    if (!ansiName) return kInvalidParameter;
    const DWORD bytes = data; // REG_DWORD is stored little-endian, as DWORD is in memory on x86
    return RegSetValueExA(ToHkey(key), ansiName->c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bytes),
                          sizeof bytes);
}

Status Win32Registry::DeleteValue(KeyHandle key, std::wstring_view name)
{
    const auto ansiName = ToAnsi(name);
    if (!ansiName) return kInvalidParameter;
    return RegDeleteValueA(ToHkey(key), ansiName->c_str());
}

Status Win32Registry::CloseKey(KeyHandle key)
{
    return RegCloseKey(ToHkey(key));
}

} // namespace kestrin
