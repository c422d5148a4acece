#include "store/memory_registry.h"

#include <cwctype>

namespace kestrin
{
namespace
{

std::wstring Fold(std::wstring_view name)
{
    std::wstring folded(name);
    for (auto& c : folded)
        c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    return folded;
}

bool SameName(std::wstring_view a, std::wstring_view b)
{
    return Fold(a) == Fold(b);
}

std::vector<std::wstring_view> SplitPath(std::wstring_view path)
{
    std::vector<std::wstring_view> parts;
    while (!path.empty())
    {
        const auto slash = path.find(L'\\');
        const auto part = path.substr(0, slash);
        if (!part.empty()) parts.push_back(part);
        if (slash == std::wstring_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

} // namespace

struct MemoryRegistry::Key
{
    std::wstring name;
    std::wstring path;
    std::map<std::wstring, std::unique_ptr<Key>> children;         // by folded name
    std::map<std::wstring, std::pair<std::wstring, Value>> values; // folded -> (name, value)
};

MemoryRegistry::MemoryRegistry() : m_root(std::make_unique<Key>()) {}
MemoryRegistry::MemoryRegistry(MemoryRegistry&&) noexcept = default;
MemoryRegistry& MemoryRegistry::operator=(MemoryRegistry&&) noexcept = default;
MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::Key* MemoryRegistry::Find(std::wstring_view path) const
{
    Key* key = m_root.get();
    for (const auto part : SplitPath(path))
    {
        const auto it = key->children.find(Fold(part));
        if (it == key->children.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

MemoryRegistry::Key& MemoryRegistry::Make(std::wstring_view path)
{
    Key* key = m_root.get();
    for (const auto part : SplitPath(path))
    {
        auto& child = key->children[Fold(part)];
        if (!child)
        {
            child = std::make_unique<Key>();
            child->name = part;
            child->path = key->path.empty() ? std::wstring(part) : key->path + L'\\' + std::wstring(part);
        }
        key = child.get();
    }
    return *key;
}

MemoryRegistry::Key* MemoryRegistry::Resolve(KeyHandle handle) const
{
    const auto it = m_handles.find(handle);
    return it == m_handles.end() ? nullptr : it->second.first;
}

std::wstring MemoryRegistry::HandlePath(KeyHandle handle) const
{
    const auto it = m_handles.find(handle);
    return it == m_handles.end() ? std::wstring() : it->second.second;
}

std::optional<Status> MemoryRegistry::Injected(Op op, std::wstring_view path,
                                               std::wstring_view valueName) const
{
    const std::size_t callNumber = m_calls.size() + 1;
    for (const auto& fault : m_faults)
    {
        if (fault.op && *fault.op != op) continue;
        if (fault.path && !SameName(*fault.path, path)) continue;
        if (fault.valueName && !SameName(*fault.valueName, valueName)) continue;
        if (fault.callNumber && *fault.callNumber != callNumber) continue;
        return fault.status;
    }
    return std::nullopt;
}

Status MemoryRegistry::Log(Op op, std::wstring_view path, std::wstring_view valueName, Status status)
{
    m_calls.push_back({op, std::wstring(path), std::wstring(valueName), status});
    return status;
}

Status MemoryRegistry::OpenKey(RootKey, std::wstring_view path, KeyHandle& key)
{
    if (const auto fault = Injected(Op::OpenKey, path, {})) return Log(Op::OpenKey, path, {}, *fault);
    Key* found = Find(path);
    if (!found) return Log(Op::OpenKey, path, {}, kFileNotFound);
    key = m_nextHandle++;
    m_handles.emplace(key, std::make_pair(found, std::wstring(path)));
    return Log(Op::OpenKey, path, {}, kSuccess);
}

Status MemoryRegistry::CreateKey(RootKey, std::wstring_view path, KeyHandle& key)
{
    if (const auto fault = Injected(Op::CreateKey, path, {})) return Log(Op::CreateKey, path, {}, *fault);
    key = m_nextHandle++;
    m_handles.emplace(key, std::make_pair(&Make(path), std::wstring(path)));
    return Log(Op::CreateKey, path, {}, kSuccess);
}

Status MemoryRegistry::QueryValue(KeyHandle handle, std::wstring_view name, ValueProbe* probe)
{
    const auto path = HandlePath(handle);
    if (const auto fault = Injected(Op::QueryValue, path, name))
        return Log(Op::QueryValue, path, name, *fault);
    Key* key = Resolve(handle);
    if (!key) return Log(Op::QueryValue, path, name, 6); // ERROR_INVALID_HANDLE
    const auto it = key->values.find(Fold(name));
    if (it == key->values.end()) return Log(Op::QueryValue, path, name, kFileNotFound);
    if (probe)
    {
        const Value& value = it->second.second;
        probe->type = value.type;
        probe->size = static_cast<std::uint32_t>(value.data.size());
        probe->dword.reset();
        if (value.type == kRegDword && value.data.size() == 4)
            probe->dword = std::uint32_t{value.data[0]} | std::uint32_t{value.data[1]} << 8 |
                           std::uint32_t{value.data[2]} << 16 | std::uint32_t{value.data[3]} << 24;
    }
    return Log(Op::QueryValue, path, name, kSuccess);
}

Status MemoryRegistry::SetDwordValue(KeyHandle handle, std::wstring_view name, std::uint32_t data)
{
    const auto path = HandlePath(handle);
    if (const auto fault = Injected(Op::SetDwordValue, path, name))
        return Log(Op::SetDwordValue, path, name, *fault);
    Key* key = Resolve(handle);
    if (!key) return Log(Op::SetDwordValue, path, name, 6);
    Value value{kRegDword, DwordBytes(data)};
    auto& slot = key->values[Fold(name)];
    if (slot.first.empty())
        slot.first = name; // a replaced value keeps the spelling it was created with, as in Windows
    slot.second = std::move(value);
    return Log(Op::SetDwordValue, path, name, kSuccess);
}

Status MemoryRegistry::DeleteValue(KeyHandle handle, std::wstring_view name)
{
    const auto path = HandlePath(handle);
    if (const auto fault = Injected(Op::DeleteValue, path, name))
        return Log(Op::DeleteValue, path, name, *fault);
    Key* key = Resolve(handle);
    if (!key) return Log(Op::DeleteValue, path, name, 6);
    if (key->values.erase(Fold(name)) == 0) return Log(Op::DeleteValue, path, name, kFileNotFound);
    return Log(Op::DeleteValue, path, name, kSuccess);
}

Status MemoryRegistry::CloseKey(KeyHandle handle)
{
    const auto path = HandlePath(handle);
    const auto it = m_handles.find(handle);
    if (it == m_handles.end()) return Log(Op::CloseKey, path, {}, 6);
    // Like RegCloseKey, a close that reports failure still lets the handle go.
    m_handles.erase(it);
    if (const auto fault = Injected(Op::CloseKey, path, {})) return Log(Op::CloseKey, path, {}, *fault);
    return Log(Op::CloseKey, path, {}, kSuccess);
}

void MemoryRegistry::PutValue(std::wstring_view path, std::wstring_view name, Value value)
{
    Make(path).values[Fold(name)] = {std::wstring(name), std::move(value)};
}

void MemoryRegistry::PutDword(std::wstring_view path, std::wstring_view name, std::uint32_t data)
{
    PutValue(path, name, {kRegDword, DwordBytes(data)});
}

void MemoryRegistry::PutString(std::wstring_view path, std::wstring_view name, std::wstring_view text)
{
    Value value{kRegSz, {}};
    for (const wchar_t c : text)
    {
        value.data.push_back(static_cast<std::uint8_t>(c));
        value.data.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(c) >> 8));
    }
    value.data.insert(value.data.end(), {0, 0});
    PutValue(path, name, std::move(value));
}

void MemoryRegistry::PutKey(std::wstring_view path)
{
    Make(path);
}

bool MemoryRegistry::KeyExists(std::wstring_view path) const
{
    return Find(path) != nullptr;
}

std::optional<MemoryRegistry::Value> MemoryRegistry::GetValue(std::wstring_view path,
                                                              std::wstring_view name) const
{
    const Key* key = Find(path);
    if (!key) return std::nullopt;
    const auto it = key->values.find(Fold(name));
    if (it == key->values.end()) return std::nullopt;
    return it->second.second;
}

std::map<std::wstring, std::map<std::wstring, MemoryRegistry::Value>> MemoryRegistry::Snapshot() const
{
    std::map<std::wstring, std::map<std::wstring, Value>> snapshot;
    std::vector<const Key*> pending{m_root.get()};
    while (!pending.empty())
    {
        const Key* key = pending.back();
        pending.pop_back();
        auto& values = snapshot[key->path];
        for (const auto& [folded, named] : key->values)
            values[named.first] = named.second;
        for (const auto& [folded, child] : key->children)
            pending.push_back(child.get());
    }
    return snapshot;
}

std::vector<std::uint8_t> DwordBytes(std::uint32_t data)
{
    return {static_cast<std::uint8_t>(data), static_cast<std::uint8_t>(data >> 8),
            static_cast<std::uint8_t>(data >> 16), static_cast<std::uint8_t>(data >> 24)};
}

std::wstring_view ToString(MemoryRegistry::Op op)
{
    switch (op)
    {
    case MemoryRegistry::Op::OpenKey:
        return L"OpenKey";
    case MemoryRegistry::Op::CreateKey:
        return L"CreateKey";
    case MemoryRegistry::Op::QueryValue:
        return L"QueryValue";
    case MemoryRegistry::Op::SetDwordValue:
        return L"SetDwordValue";
    case MemoryRegistry::Op::DeleteValue:
        return L"DeleteValue";
    case MemoryRegistry::Op::CloseKey:
        return L"CloseKey";
    }
    return L"?";
}

} // namespace kestrin
