#include "tests/registry_under_test.h"

#include "store/registry_win.h"
#include "store/user_root_win.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrin::testing
{
namespace
{

void Check(LSTATUS status, const char* what)
{
    if (status != ERROR_SUCCESS)
        throw std::runtime_error(std::string(what) + " failed with status " + std::to_string(status));
}

// Counts this process's registry key handles through the system's extended handle table, whose
// process ids are full width (the short table cuts them to 16 bits, so two processes can collide).
// Only keys: whatever else a test or a failing expectation opens is not the code under test's doing.
// GetProcessHandleCount always answers 0 under Wine.
std::optional<std::size_t> CountKeyHandles()
{
    struct Entry
    {
        PVOID object;
        ULONG_PTR processId;
        ULONG_PTR handleValue;
        ULONG grantedAccess;
        USHORT creatorBackTraceIndex;
        USHORT objectTypeIndex;
        ULONG handleAttributes;
        ULONG reserved;
    };
    struct Table
    {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto query = ntdll ? reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
                                   GetProcAddress(ntdll, "NtQuerySystemInformation")))
                             : nullptr;
    if (!query) return std::nullopt;

    // A key of our own, to learn which object type is a key.
    HKEY probe = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &probe) != ERROR_SUCCESS)
        return std::nullopt;

    constexpr ULONG kSystemExtendedHandleInformation = 64;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<unsigned char> buffer(1 << 16);
    LONG status = 0;
    for (;;)
    {
        ULONG needed = 0;
        status = query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                       &needed);
        if (status != kInfoLengthMismatch) break;
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
    }
    RegCloseKey(probe);
    if (status < 0) return std::nullopt;

    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    const auto self = static_cast<ULONG_PTR>(GetCurrentProcessId());
    std::optional<USHORT> keyType;
    for (ULONG_PTR i = 0; i < table->count; ++i)
        if (table->entries[i].processId == self &&
            table->entries[i].handleValue == reinterpret_cast<ULONG_PTR>(probe))
            keyType = table->entries[i].objectTypeIndex;
    if (!keyType) return std::nullopt;
    std::size_t count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i)
        if (table->entries[i].processId == self && table->entries[i].objectTypeIndex == *keyType) ++count;
    return count - 1; // less the probe, closed by now
}

// Which hive the code under test reaches: the prefix's HKEY_CURRENT_USER, or, in the run named "hku",
// the same user's hive opened under HKEY_USERS, as the program does when elevated as another account.
// Setting up and checking always go through HKEY_CURRENT_USER: under Wine it is the same hive.
UserRoot RootUnderTest()
{
    if (TestProfile() != "hku") return {};
    const auto sid = ProcessUserSid();
    if (!sid) throw std::runtime_error("this process's user SID could not be read");
    UserRoot root = OpenUsersHive(*sid);
    if (!root.IsUsersHive()) throw std::runtime_error("HKEY_USERS\\<this user's SID> could not be opened");
    return root;
}

class Win32UnderTest final : public RegistryUnderTest
{
public:
    Registry& Get() override { return m_registry; }

    void PutValue(std::wstring_view path, std::wstring_view name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data) override
    {
        HKEY key = nullptr;
        Check(RegCreateKeyExW(HKEY_CURRENT_USER, std::wstring(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              "RegCreateKeyExW");
        const LSTATUS status = RegSetValueExW(key, std::wstring(name).c_str(), 0, type, data.data(),
                                              static_cast<DWORD>(data.size()));
        RegCloseKey(key);
        Check(status, "RegSetValueExW");
    }

    void PutKey(std::wstring_view path) override
    {
        HKEY key = nullptr;
        Check(RegCreateKeyExW(HKEY_CURRENT_USER, std::wstring(path).c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                              &key, nullptr),
              "RegCreateKeyExW");
        RegCloseKey(key);
    }

    std::optional<MemoryRegistry::Value> GetValue(std::wstring_view path, std::wstring_view name) override
    {
        DWORD type = 0;
        DWORD size = 0;
        const std::wstring keyPath(path);
        const std::wstring valueName(name);
        if (RegGetValueW(HKEY_CURRENT_USER, keyPath.c_str(), valueName.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                         &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        std::vector<std::uint8_t> data(size);
        Check(RegGetValueW(HKEY_CURRENT_USER, keyPath.c_str(), valueName.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                           &type, data.data(), &size),
              "RegGetValueW");
        data.resize(size);
        return MemoryRegistry::Value{type, data};
    }

    bool KeyExists(std::wstring_view path) override
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    void DeleteTree(std::wstring_view path) override
    {
        const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, std::wstring(path).c_str());
        if (status != ERROR_FILE_NOT_FOUND) Check(status, "RegDeleteTreeW");
        // RegDeleteTree leaves the key itself on some versions.
        const LSTATUS removed = RegDeleteKeyW(HKEY_CURRENT_USER, std::wstring(path).c_str());
        if (removed != ERROR_FILE_NOT_FOUND) Check(removed, "RegDeleteKeyW");
    }

    std::optional<std::size_t> HandleCount() override { return CountKeyHandles(); }

private:
    UserRoot m_root = RootUnderTest();
    Win32Registry m_registry{m_root.Get()};
};

} // namespace

std::string TestProfile()
{
    const char* profile = std::getenv("KESTRIN_WINE_PROFILE");
    return profile ? profile : "";
}

std::unique_ptr<RegistryUnderTest> MakeRegistryUnderTest()
{
    return std::make_unique<Win32UnderTest>();
}

bool MayWritePolicyKeys()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll && GetProcAddress(ntdll, "wine_get_version")) return true;
    const char* optIn = std::getenv("KESTRIN_TEST_WRITE_POLICIES");
    return optIn && std::string(optIn) == "1";
}

} // namespace kestrin::testing
