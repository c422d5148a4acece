#include "store/user_root.h"

#include <algorithm>
#include <cwctype>

namespace kestrin
{

bool SameSid(std::wstring_view a, std::wstring_view b)
{
    return std::ranges::equal(
        a, b,
        [](wchar_t x, wchar_t y)
        { return std::towupper(static_cast<std::wint_t>(x)) == std::towupper(static_cast<std::wint_t>(y)); });
}

std::optional<std::wstring> ChooseUsersHive(std::wstring_view processUserSid,
                                            const std::optional<std::wstring>& sessionUserSid,
                                            const std::function<bool(std::wstring_view sid)>& hiveLoaded)
{
    if (!sessionUserSid || sessionUserSid->empty() || SameSid(*sessionUserSid, processUserSid))
        return std::nullopt;
    if (!hiveLoaded(*sessionUserSid)) return std::nullopt;
    return sessionUserSid;
}

} // namespace kestrin
