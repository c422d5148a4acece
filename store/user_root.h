#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrin
{

// String SIDs name the same account whatever their case.
bool SameSid(std::wstring_view a, std::wstring_view b);

// Whose restrictions the program edits: those of the user signed in to the session, who sees their
// effect. Elevated with another account's credentials, the process's own HKEY_CURRENT_USER is that other
// account's hive, so the signed-in user's hive is used instead, where it is loaded under HKEY_USERS.
// Returns the SID whose HKEY_USERS hive to use, or nothing for the process's own HKEY_CURRENT_USER
// (the same user, the session user unknown, or their hive not loaded).
std::optional<std::wstring> ChooseUsersHive(std::wstring_view processUserSid,
                                            const std::optional<std::wstring>& sessionUserSid,
                                            const std::function<bool(std::wstring_view sid)>& hiveLoaded);

} // namespace kestrin
