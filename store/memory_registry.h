#pragma once

#include "store/registry.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin
{

// A registry held in memory that answers like the Windows one: names compare without regard to case,
// create makes every missing key on the path, set replaces a value of any type, and a missing key or
// value answers 2. It stands in for the registry where there is none, and lets tests see every call,
// count open handles and make any chosen call fail.
class MemoryRegistry final : public Registry
{
public:
    enum class Op
    {
        OpenKey,
        CreateKey,
        QueryValue,
        SetDwordValue,
        DeleteValue,
        CloseKey,
    };

    struct Call
    {
        Op op;
        std::wstring path; // key path of the call (for handle calls, the path the handle was opened with)
        std::wstring valueName; // empty for key calls
        Status status;
    };

    // A failure to inject: every field that is set must match. Call numbers count from 1 over all
    // calls made since construction or the last ClearCalls.
    struct Fault
    {
        std::optional<Op> op;
        std::optional<std::wstring> path;
        std::optional<std::wstring> valueName;
        std::optional<std::size_t> callNumber;
        Status status = kAccessDenied;
    };

    struct Value
    {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        bool operator==(const Value&) const = default;
    };

    MemoryRegistry();
    MemoryRegistry(MemoryRegistry&&) noexcept;
    MemoryRegistry& operator=(MemoryRegistry&&) noexcept;
    ~MemoryRegistry() override;

    Status OpenKey(RootKey root, std::wstring_view path, KeyHandle& key) override;
    Status CreateKey(RootKey root, std::wstring_view path, KeyHandle& key) override;
    Status QueryValue(KeyHandle key, std::wstring_view name, ValueProbe* probe) override;
    Status SetDwordValue(KeyHandle key, std::wstring_view name, std::uint32_t data) override;
    Status DeleteValue(KeyHandle key, std::wstring_view name) override;
    Status CloseKey(KeyHandle key) override;

    // Direct access for setting up and checking, outside the call log and faults.
    void PutValue(std::wstring_view path, std::wstring_view name, Value value);
    void PutDword(std::wstring_view path, std::wstring_view name, std::uint32_t data);
    void PutString(std::wstring_view path, std::wstring_view name, std::wstring_view text);
    void PutKey(std::wstring_view path);
    bool KeyExists(std::wstring_view path) const;
    std::optional<Value> GetValue(std::wstring_view path, std::wstring_view name) const;
    // Every key (full path, as first created) and value, for before/after comparisons.
    std::map<std::wstring, std::map<std::wstring, Value>> Snapshot() const;

    void AddFault(Fault fault) { m_faults.push_back(std::move(fault)); }
    void ClearFaults() { m_faults.clear(); }
    const std::vector<Call>& Calls() const { return m_calls; }
    void ClearCalls() { m_calls.clear(); }
    std::size_t OpenHandleCount() const { return m_handles.size(); }

private:
    struct Key;

    Key* Find(std::wstring_view path) const;
    Key& Make(std::wstring_view path);
    Key* Resolve(KeyHandle handle) const;
    std::wstring HandlePath(KeyHandle handle) const;
    std::optional<Status> Injected(Op op, std::wstring_view path, std::wstring_view valueName) const;
    Status Log(Op op, std::wstring_view path, std::wstring_view valueName, Status status);

    std::unique_ptr<Key> m_root;
    std::map<KeyHandle, std::pair<Key*, std::wstring>> m_handles;
    KeyHandle m_nextHandle = 0x100;
    std::vector<Fault> m_faults;
    std::vector<Call> m_calls;
};

std::wstring_view ToString(MemoryRegistry::Op op);

// The four bytes a REG_DWORD holds: little-endian.
std::vector<std::uint8_t> DwordBytes(std::uint32_t data);

} // namespace kestrin
