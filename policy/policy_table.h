#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrin
{

// An array indexed from 1 to 36, as the table has always been numbered; readers take its bounds from
// LBound and UBound rather than from a separate count.
class PolicyEntryArray
{
public:
    static constexpr std::int32_t kLowerBound = 1;
    static constexpr std::int32_t kUpperBound = 36;

    static constexpr std::int32_t LBound() { return kLowerBound; }
    static constexpr std::int32_t UBound() { return kUpperBound; }

    std::wstring& operator()(std::int32_t index) { return m_entries.at(Offset(index)); }
    const std::wstring& operator()(std::int32_t index) const { return m_entries.at(Offset(index)); }

private:
    static std::size_t Offset(std::int32_t index)
    {
        if (index < kLowerBound || index > kUpperBound)
            throw std::out_of_range("policy entry index out of range");
        return static_cast<std::size_t>(index - kLowerBound);
    }

    std::array<std::wstring, kUpperBound - kLowerBound + 1> m_entries;
};

// The restrictions the tool knows: each entry is "ValueName,Description", grouped into categories by
// the index at which each category starts. Empty until InitPolicyTable runs.
struct PolicyTable
{
    PolicyEntryArray PolicyEntries;
    std::int32_t ExplorerStart = 0;
    std::int32_t NetworkStart = 0;
    std::int32_t SystemStart = 0;
    std::int32_t DosStart = 0;

    void InitPolicyTable();
};

struct PolicyEntryParts
{
    std::wstring valueName;
    std::wstring description;
};

// Splits an entry at its first comma: the value name before it, the description after it.
PolicyEntryParts SplitPolicyEntry(std::wstring_view entry);

} // namespace kestrin
