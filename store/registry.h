#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace kestrin
{

// The platform's status codes: 0 is success, anything else is the system error code.
using Status = std::int32_t;
inline constexpr Status kSuccess = 0;
inline constexpr Status kFileNotFound = 2;
inline constexpr Status kAccessDenied = 5;
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kMoreData = 234;

// Predefined roots, with their Win32 values.
enum class RootKey : std::uint32_t
{
    CurrentUser = 0x80000001u,
};

// Registry value types the tool cares about (Win32 REG_* values).
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

// What a query can report besides "the value is there": its type, its size, and for a 4-byte
// REG_DWORD its number.
struct ValueProbe
{
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    std::optional<std::uint32_t> dword;
};

using KeyHandle = std::uintptr_t;

// The six registry operations the policy store needs, and nothing more. Each answers with a status;
// an open or create that fails leaves the out handle untouched.
class Registry
{
public:
    virtual ~Registry() = default;

    virtual Status OpenKey(RootKey root, std::wstring_view path, KeyHandle& key) = 0;
    // Opens the key, creating it and every missing key above it.
    virtual Status CreateKey(RootKey root, std::wstring_view path, KeyHandle& key) = 0;
    // Without a probe this only asks whether the value is there (no data is read).
    virtual Status QueryValue(KeyHandle key, std::wstring_view name, ValueProbe* probe) = 0;
    // Replaces a value of the same name whatever its type.
    virtual Status SetDwordValue(KeyHandle key, std::wstring_view name, std::uint32_t data) = 0;
    virtual Status DeleteValue(KeyHandle key, std::wstring_view name) = 0;
    virtual Status CloseKey(KeyHandle key) = 0;
};

// Sole owner of an open key: closes it exactly once, and never closes a key that was not opened.
class UniqueKey
{
public:
    UniqueKey() = default;
    UniqueKey(Registry& registry, KeyHandle key) : m_registry(&registry), m_key(key) {}
    UniqueKey(UniqueKey&& other) noexcept
        : m_registry(std::exchange(other.m_registry, nullptr)), m_key(std::exchange(other.m_key, 0))
    {
    }
    UniqueKey& operator=(UniqueKey&& other) noexcept
    {
        if (this != &other)
        {
            Reset();
            m_registry = std::exchange(other.m_registry, nullptr);
            m_key = std::exchange(other.m_key, 0);
        }
        return *this;
    }
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    ~UniqueKey() { Reset(); }

    explicit operator bool() const { return m_registry != nullptr; }
    KeyHandle Get() const { return m_key; }

    // Closes now and reports how the close went; a later Reset or destruction does nothing.
    Status Close()
    {
        if (!m_registry) return kSuccess;
        return std::exchange(m_registry, nullptr)->CloseKey(std::exchange(m_key, 0));
    }

    void Reset() { (void)Close(); }

private:
    Registry* m_registry = nullptr;
    KeyHandle m_key = 0;
};

struct OpenedKey
{
    Status status = kSuccess;
    UniqueKey key;
};

// Opens (or creates) a key and hands it to its owner; a key that failed to open gets none.
template <auto Open> OpenedKey OwnedKey(Registry& registry, RootKey root, std::wstring_view path)
{
    KeyHandle handle = 0;
    const Status status = (registry.*Open)(root, path, handle);
    if (status != kSuccess) return {status, {}};
    return {status, UniqueKey(registry, handle)};
}

inline OpenedKey OpenKey(Registry& registry, RootKey root, std::wstring_view path)
{
    return OwnedKey<&Registry::OpenKey>(registry, root, path);
}

inline OpenedKey CreateKey(Registry& registry, RootKey root, std::wstring_view path)
{
    return OwnedKey<&Registry::CreateKey>(registry, root, path);
}

} // namespace kestrin
