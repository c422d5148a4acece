#pragma once

#include "store/memory_registry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin::testing
{

// A registry for tests to run against, with direct set-up and inspection that bypasses the
// interface under test: the in-memory one natively, the real one under Windows or Wine.
class RegistryUnderTest
{
public:
    virtual ~RegistryUnderTest() = default;
    virtual Registry& Get() = 0;
    virtual void PutValue(std::wstring_view path, std::wstring_view name, std::uint32_t type,
                          const std::vector<std::uint8_t>& data) = 0;
    virtual void PutKey(std::wstring_view path) = 0;
    virtual std::optional<MemoryRegistry::Value> GetValue(std::wstring_view path, std::wstring_view name) = 0;
    virtual bool KeyExists(std::wstring_view path) = 0;
    virtual void DeleteTree(std::wstring_view path) = 0;
    // A count of open handles to compare before and after an operation: the in-memory registry's open
    // keys, or every handle of this process on Windows; nullopt where it cannot be counted.
    virtual std::optional<std::size_t> HandleCount() = 0;

    void PutDword(std::wstring_view path, std::wstring_view name, std::uint32_t data)
    {
        PutValue(path, name, kRegDword, DwordBytes(data));
    }
    void PutString(std::wstring_view path, std::wstring_view name, std::string_view text)
    {
        std::vector<std::uint8_t> data;
        for (const char c : text)
            data.insert(data.end(), {static_cast<std::uint8_t>(c), 0});
        data.insert(data.end(), {0, 0});
        PutValue(path, name, kRegSz, data);
    }
};

std::unique_ptr<RegistryUnderTest> MakeRegistryUnderTest();

// The run this is (KESTRIN_WINE_PROFILE: "hku", "acp65001", ...), empty for the usual one. The runs on
// Windows itself carry the same names.
std::string TestProfile();

// Whether tests may write the real per-user policy keys: always on the in-memory registry and under
// Wine (a throwaway prefix); on real Windows only when KESTRIN_TEST_WRITE_POLICIES=1.
bool MayWritePolicyKeys();

inline const MemoryRegistry::Value kDwordOne{kRegDword, {1, 0, 0, 0}};

} // namespace kestrin::testing
