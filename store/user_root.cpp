#include "store/user_root.h"

#include <algorithm>
#include <cwctype>

namespace kestrin
{

namespace
{

bool SameIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    return std::ranges::equal(
        a, b,
        [](wchar_t x, wchar_t y)
        { return std::towupper(static_cast<std::wint_t>(x)) == std::towupper(static_cast<std::wint_t>(y)); });
}

} // namespace

bool SameSid(std::wstring_view a, std::wstring_view b)
{
    return SameIgnoringCase(a, b);
}

bool SameAccount(std::wstring_view a, std::wstring_view b)
{
    return SameIgnoringCase(a, b);
}

std::optional<std::wstring> SignedInUserSid(const SessionFacts& session)
{
    if (session.shellProcessId)
    {
        for (const auto& process : session.processes)
            if (process.processId == *session.shellProcessId && !process.userSid.empty())
                return process.userSid;
    }
    // No shell (a replacement shell, or none yet): the session's own processes. Should they disagree, the
    // user is not known.
    if (session.account.empty()) return std::nullopt;
    std::optional<std::wstring> found;
    for (const auto& process : session.processes)
    {
        if (process.userSid.empty() || !SameAccount(process.account, session.account)) continue;
        if (found && !SameSid(*found, process.userSid)) return std::nullopt;
        found = process.userSid;
    }
    return found;
}

HiveChoice ChooseUsersHive(std::wstring_view processUserSid,
                           const std::optional<std::wstring>& sessionUserSid,
                           const std::function<bool(std::wstring_view sid)>& hiveLoaded)
{
    if (!sessionUserSid || sessionUserSid->empty()) return {HiveChoice::Kind::Refuse, {}};
    if (SameSid(*sessionUserSid, processUserSid)) return {HiveChoice::Kind::CurrentUser, {}};
    if (!hiveLoaded(*sessionUserSid)) return {HiveChoice::Kind::Refuse, *sessionUserSid};
    return {HiveChoice::Kind::UsersHive, *sessionUserSid};
}

} // namespace kestrin
