#include "store/registry_win.h"

namespace kestrin
{
namespace
{

HKEY AsHkey(KeyHandle key)
{
    return reinterpret_cast<HKEY>(key);
}

std::optional<std::string> ToAnsi(std::wstring_view text)
{
    return ToCodePage(text, CP_ACP);
}

} // namespace

std::optional<std::string> ToCodePage(std::wstring_view text, UINT codePage,
                                      const CodePageFunctions& functions)
{
    if (text.find(L'\0') != std::wstring_view::npos) return std::nullopt;
    if (text.empty()) return std::string();
    // No flags and no default character: the one form every code page takes. Whether anything was
    // substituted is told by converting back.
    const int length = static_cast<int>(text.size());
    const int size = functions.toMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::nullopt;
    std::string converted(static_cast<std::size_t>(size), '\0');
    if (functions.toMultiByte(codePage, 0, text.data(), length, converted.data(), size, nullptr, nullptr) !=
        size)
        return std::nullopt;

    const int wideSize = functions.toWide(codePage, 0, converted.data(), size, nullptr, 0);
    if (wideSize != length) return std::nullopt;
    std::wstring back(static_cast<std::size_t>(wideSize), L'\0');
    if (functions.toWide(codePage, 0, converted.data(), size, back.data(), wideSize) != wideSize ||
        back != text)
        return std::nullopt;
    return converted;
}

HKEY Win32Registry::ToHkey(RootKey root) const
{
    switch (root)
    {
    case RootKey::CurrentUser:
        break;
    }
    return m_userRoot;
}

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
    const LONG status = RegQueryValueExA(AsHkey(key), ansiName->c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS || !probe) return status;

    probe->type = type;
    probe->size = size;
    probe->dword.reset();
    if (type != REG_DWORD || size != sizeof(DWORD)) return status;
    DWORD data = 0;
    DWORD dataSize = sizeof data;
    const LONG read = RegQueryValueExA(AsHkey(key), ansiName->c_str(), nullptr, &type,
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
    return RegSetValueExA(AsHkey(key), ansiName->c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bytes),
                          sizeof bytes);
}

Status Win32Registry::DeleteValue(KeyHandle key, std::wstring_view name)
{
    const auto ansiName = ToAnsi(name);
    if (!ansiName) return kInvalidParameter;
    return RegDeleteValueA(AsHkey(key), ansiName->c_str());
}

Status Win32Registry::CloseKey(KeyHandle key)
{
    return RegCloseKey(AsHkey(key));
}

} // namespace kestrin
