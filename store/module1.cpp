#include "store/module1.h"

namespace kestrin::Module1
{
namespace
{

// Asks whether the value is there. "Not found", for the key or the value, comes back as
// kFileNotFound, like any other failure; callers decide which failures are answers.
Status QueryPresence(Registry& registry, RootKey rootKey, std::wstring_view subKey,
                     std::wstring_view valueName, ValueProbe* probe)
{
    auto opened = OpenKey(registry, rootKey, subKey);
    if (opened.status != kSuccess) return opened.status;
    const Status status = registry.QueryValue(opened.key.Get(), valueName, probe);
    opened.key.Reset();
    return status;
}

// How the shell reads these restrictions: as numbers, so a DWORD 0 is as good as no value.
bool CountsAsOff(const ValueProbe& probe)
{
    return probe.type == kRegDword && probe.dword == 0u;
}

} // namespace

bool ValueExists(Registry& registry, RootKey rootKey, std::wstring_view subKey, std::wstring_view valueName)
{
    return QueryPresence(registry, rootKey, subKey, valueName, nullptr) == kSuccess;
}

Status DeleteValueIfPresent(Registry& registry, RootKey rootKey, std::wstring_view subKey,
                            std::wstring_view valueName, bool* changed)
{
    // Checking first means an absent value costs no write access and creates nothing. A failure
    // other than "not found" is not taken as absence: the value may well be there.
    const Status presence = QueryPresence(registry, rootKey, subKey, valueName, nullptr);
    if (presence == kFileNotFound) return kSuccess;
    if (presence != kSuccess) return presence;

    auto opened = OpenKey(registry, rootKey, subKey);
    if (opened.status != kSuccess) return opened.status;
    const Status deleted = registry.DeleteValue(opened.key.Get(), valueName);
    if (changed && deleted == kSuccess) *changed = true;
    const Status closed = opened.key.Close();
    return deleted != kSuccess ? deleted : closed;
}

Status SetDwordValue(Registry& registry, RootKey rootKey, std::wstring_view subKey,
                     std::wstring_view valueName, const std::int32_t& data, bool* changed)
{
    auto created = CreateKey(registry, rootKey, subKey);
    if (created.status != kSuccess) return created.status;
    const Status set = registry.SetDwordValue(created.key.Get(), valueName, static_cast<std::uint32_t>(data));
    if (changed && set == kSuccess) *changed = true;
    const Status closed = created.key.Close();
    return set != kSuccess ? set : closed;
}

std::wstring PolicyKeyPath(const std::wstring& category)
{
    return std::wstring(PolicyRootPath) + category;
}

Status EnablePolicy(Registry& registry, const std::wstring& category, const std::wstring& valueName,
                    bool* changed)
{
    // Looked at now, not at load: the registry may have changed since. A value that cannot be read is
    // not overwritten blind: it may well hold more than "on".
    const std::wstring path = PolicyKeyPath(category);
    ValueProbe probe;
    const Status presence = QueryPresence(registry, RootKey::CurrentUser, path, valueName, &probe);
    if (presence == kSuccess && !CountsAsOff(probe)) return kSuccess;
    if (presence != kSuccess && presence != kFileNotFound) return presence;
    return SetDwordValue(registry, RootKey::CurrentUser, path, valueName, 1, changed);
}

Status DisablePolicy(Registry& registry, const std::wstring& category, const std::wstring& valueName,
                     bool* changed)
{
    return DeleteValueIfPresent(registry, RootKey::CurrentUser, PolicyKeyPath(category), valueName, changed);
}

bool IsPolicyOff(Registry& registry, const std::wstring& category, const std::wstring& valueName)
{
    ValueProbe probe;
    if (QueryPresence(registry, RootKey::CurrentUser, PolicyKeyPath(category), valueName, &probe) != kSuccess)
        return true;
    return CountsAsOff(probe);
}

} // namespace kestrin::Module1
