#pragma once

#include "store/registry.h"

#include <cstdint>
#include <string>
#include <string_view>

// Registry value operations and the policy store. A restriction is on exactly when its value exists
// under its category's key (unless it is a REG_DWORD 0, which the shell treats as not in effect);
// switching on writes REG_DWORD 1, switching off removes the value.
namespace kestrin::Module1
{

inline constexpr std::wstring_view PolicyRootPath =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";

// True when a value of that name exists under the key, whatever its type or data. Any failure,
// including a missing key, reads as false.
bool ValueExists(Registry& registry, RootKey rootKey, std::wstring_view subKey, std::wstring_view valueName);

// Removes the value if it is there. Returns success when it was removed or was not there, else the
// status of the first registry call that failed; the key itself is never removed.
Status DeleteValueIfPresent(Registry& registry, RootKey rootKey, std::wstring_view subKey,
                            std::wstring_view valueName);

// Creates the key path as needed and sets the value to the 32-bit number; returns the status of the
// first call that failed, or success.
Status SetDwordValue(Registry& registry, RootKey rootKey, std::wstring_view subKey,
                     std::wstring_view valueName, const std::int32_t& data);

std::wstring PolicyKeyPath(const std::wstring& category);

Status EnablePolicy(Registry& registry, const std::wstring& category, const std::wstring& valueName);
Status DisablePolicy(Registry& registry, const std::wstring& category, const std::wstring& valueName);
// True when the restriction is not in effect: its value is absent, unreadable, or a REG_DWORD 0.
bool IsPolicyOff(Registry& registry, const std::wstring& category, const std::wstring& valueName);

} // namespace kestrin::Module1
