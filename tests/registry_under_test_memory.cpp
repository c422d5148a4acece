#include "tests/registry_under_test.h"

namespace kestrin::testing
{
namespace
{

class MemoryUnderTest final : public RegistryUnderTest
{
public:
    Registry& Get() override { return m_registry; }
    void PutValue(std::wstring_view path, std::wstring_view name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data) override
    {
        m_registry.PutValue(path, name, {type, data});
    }
    void PutKey(std::wstring_view path) override { m_registry.PutKey(path); }
    std::optional<MemoryRegistry::Value> GetValue(std::wstring_view path, std::wstring_view name) override
    {
        return m_registry.GetValue(path, name);
    }
    bool KeyExists(std::wstring_view path) override { return m_registry.KeyExists(path); }
    void DeleteTree(std::wstring_view) override {} // every test starts with a new, empty registry
    std::optional<std::size_t> HandleCount() override { return m_registry.OpenHandleCount(); }

private:
    MemoryRegistry m_registry;
};

} // namespace

std::unique_ptr<RegistryUnderTest> MakeRegistryUnderTest()
{
    return std::make_unique<MemoryUnderTest>();
}

std::string TestProfile()
{
    return {};
}

bool MayWritePolicyKeys()
{
    return true;
}

} // namespace kestrin::testing
