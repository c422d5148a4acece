#pragma once

#include "store/registry.h"

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace kestrin
{

// The conversions to and from a code page, as the registry layer calls them; tests hand in stricter ones.
struct CodePageFunctions
{
    decltype(&WideCharToMultiByte) toMultiByte = &WideCharToMultiByte;
    decltype(&MultiByteToWideChar) toWide = &MultiByteToWideChar;
};

// The text in the code page, or nothing when it would not come back unchanged (a character with no
// equivalent there, a best-fit substitute, a NUL that would shorten it). Uses only the arguments every
// code page accepts: UTF-8 (65001), which Windows 10 and 11 can make the ANSI code page, takes no flags
// other than WC_ERR_INVALID_CHARS and no default character.
std::optional<std::string> ToCodePage(std::wstring_view text, UINT codePage,
                                      const CodePageFunctions& functions = {});

// The Windows registry through its ANSI functions: names are converted to the system code page at
// each call, and a name that would not survive the conversion is refused rather than altered.
class Win32Registry final : public Registry
{
public:
    // RootKey::CurrentUser is the hive of the user whose restrictions are edited: HKEY_CURRENT_USER, or
    // that user's hive under HKEY_USERS when the program runs as another account. Not owned.
    explicit Win32Registry(HKEY userRoot = HKEY_CURRENT_USER) : m_userRoot(userRoot) {}

    Status OpenKey(RootKey root, std::wstring_view path, KeyHandle& key) override;
    Status CreateKey(RootKey root, std::wstring_view path, KeyHandle& key) override;
    Status QueryValue(KeyHandle key, std::wstring_view name, ValueProbe* probe) override;
    Status SetDwordValue(KeyHandle key, std::wstring_view name, std::uint32_t data) override;
    Status DeleteValue(KeyHandle key, std::wstring_view name) override;
    Status CloseKey(KeyHandle key) override;

private:
    HKEY ToHkey(RootKey root) const;

    HKEY m_userRoot;
};

} // namespace kestrin
