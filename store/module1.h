#pragma once

#include "store/registry.h"

#include <cstdint>
#include <string>
#include <string_view>

// Registry value operations and the policy store. A restriction is on exactly when its value exists
// under its category's key (unless it is a REG_DWORD 0, which the shell treats as not in effect);
// switching on writes REG_DWORD 1 where the value is not already on, switching off removes the value.
namespace kestrin::Module1
{

inline constexpr std::wstring_view PolicyRootPath =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";

// True when a value of that name exists under the key, whatever its type or data. Any failure,
// including a missing key, reads as false.
bool ValueExists(Registry& registry, RootKey rootKey, std::wstring_view subKey, std::wstring_view valueName);

// Removes the value if it is there. Returns success when it was removed or was not there, else the
// status of the first registry call that failed; the key itself is never removed. `changed`, when
// given, is set when the value was removed.
Status DeleteValueIfPresent(Registry& registry, RootKey rootKey, std::wstring_view subKey,
                            std::wstring_view valueName, bool* changed = nullptr);

// Creates the key path as needed and sets the value to the 32-bit number; returns the status of the
// first call that failed, or success. `changed`, when given, is set when the value was written.
Status SetDwordValue(Registry& registry, RootKey rootKey, std::wstring_view subKey,
                     std::wstring_view valueName, const std::int32_t& data, bool* changed = nullptr);

std::wstring PolicyKeyPath(const std::wstring& category);

// Switches the restriction on. A value that is already on is left exactly as it is, type and data:
// some of these values carry more than on and off (NoDrives is a mask of drives). A value that is
// absent or a REG_DWORD 0 becomes REG_DWORD 1.
Status EnablePolicy(Registry& registry, const std::wstring& category, const std::wstring& valueName,
                    bool* changed = nullptr);
Status DisablePolicy(Registry& registry, const std::wstring& category, const std::wstring& valueName,
                     bool* changed = nullptr);
// True when the restriction is not in effect: its value is absent, unreadable, or a REG_DWORD 0.
bool IsPolicyOff(Registry& registry, const std::wstring& category, const std::wstring& valueName);

} // namespace kestrin::Module1
