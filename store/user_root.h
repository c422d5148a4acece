#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin
{

// String SIDs name the same account whatever their case; so do account names.
bool SameSid(std::wstring_view a, std::wstring_view b);
bool SameAccount(std::wstring_view a, std::wstring_view b);

// A process of the session the program runs in, with the user it runs as.
struct SessionProcess
{
    std::uint32_t processId = 0;
    std::wstring userSid; // empty where the session did not say
    std::wstring account; // "DOMAIN\name" of that SID; empty where it could not be looked up
};

// What the session the program runs in tells of itself.
struct SessionFacts
{
    std::wstring account;                        // signed in to the session, "DOMAIN\name"; empty if unknown
    std::optional<std::uint32_t> shellProcessId; // the owner of the shell's desktop window or taskbar
    std::vector<SessionProcess> processes;       // the session's processes
};

// The SID of the user signed in to the session: the user of the shell's process, else the one user of the
// session's processes whose account is the one the session names. Nothing where neither settles it.
std::optional<std::wstring> SignedInUserSid(const SessionFacts& session);

// Whose restrictions the program edits: those of the user signed in to the session, who sees their
// effect. Elevated with another account's credentials, the process's own HKEY_CURRENT_USER is that other
// account's hive, so the signed-in user's hive is used instead, where it is loaded under HKEY_USERS. When
// that user cannot be found, or their hive not opened, the program refuses rather than edit another
// account's restrictions.
struct HiveChoice
{
    enum class Kind
    {
        CurrentUser, // the process runs as the signed-in user
        UsersHive,   // HKEY_USERS\<sid>, opened by hiveLoaded
        Refuse,
    };
    Kind kind = Kind::Refuse;
    std::wstring sid;

    bool operator==(const HiveChoice&) const = default;
};

HiveChoice ChooseUsersHive(std::wstring_view processUserSid,
                           const std::optional<std::wstring>& sessionUserSid,
                           const std::function<bool(std::wstring_view sid)>& hiveLoaded);

} // namespace kestrin
