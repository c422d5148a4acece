// libFuzzer target: the window's load, clicks and Apply over an in-memory registry whose contents and
// failing calls come from the input.
//
// ctest runs it for 20 seconds (kestrin_fuzz_bounded). To run it longer, on the copy of the corpus that
// the build keeps:
//     cmake --preset fuzz && cmake --build --preset fuzz
//     build/fuzz/tests/fuzz/kestrin_fuzz -max_total_time=600 build/fuzz/tests/fuzz/corpus
// A crash leaves its input as build/fuzz/tests/fuzz/crash-*; run the target on that file alone to
// replay it. Inputs worth keeping can be merged into the committed corpus with
//     build/fuzz/tests/fuzz/kestrin_fuzz -merge=1 tests/fuzz/corpus build/fuzz/tests/fuzz/corpus
#include "app/kestrin.h"
#include "store/memory_registry.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin
{
namespace
{

#define KESTRIN_CHECK(condition)                                                                             \
    do                                                                                                       \
    {                                                                                                        \
        if (!(condition)) Fail(#condition, __LINE__);                                                        \
    } while (false)

[[noreturn]] void Fail(const char* what, int line)
{
    std::fprintf(stderr, "kestrin_fuzz.cpp:%d: check failed: %s\n", line, what);
    __builtin_trap();
}

using Op = MemoryRegistry::Op;
using Value = MemoryRegistry::Value;
using Snapshot = std::map<std::wstring, std::map<std::wstring, Value>>;

// Where the shell reads these restrictions, spelled out rather than taken from the store.
const std::wstring kPolicies = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies";
const std::vector<std::wstring> kCategories{L"Explorer", L"Network", L"System", L"Dos"};
// Keys that are not ours: near misses of the category keys, below them, above them, elsewhere.
const std::vector<std::wstring> kOtherKeys{kPolicies,
                                           kPolicies + L"\\Explorer\\DisallowRun",
                                           kPolicies + L"\\Explorers",
                                           kPolicies + L"\\Dos\\Dos",
                                           L"Software\\Kestrin",
                                           L""};

struct Entry
{
    std::wstring category;
    std::wstring name;
    std::wstring path;
};

std::vector<Entry> MakeEntries()
{
    PolicyTable table;
    table.InitPolicyTable();
    const std::int32_t starts[] = {table.ExplorerStart, table.NetworkStart, table.SystemStart,
                                   table.DosStart};
    std::vector<Entry> entries;
    std::size_t category = 0;
    for (std::int32_t i = 1; i <= table.PolicyEntries.UBound(); ++i)
    {
        while (category + 1 < kCategories.size() && i >= starts[category + 1])
            ++category;
        auto name = SplitPolicyEntry(table.PolicyEntries(i)).valueName;
        entries.push_back({kCategories[category], name, kPolicies + L"\\" + kCategories[category]});
    }
    return entries;
}

const std::vector<Entry> kEntries = MakeEntries();

std::wstring Fold(std::wstring_view text)
{
    std::wstring folded(text);
    for (auto& c : folded)
        c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    return folded;
}

// Each category key's policy value names, all folded.
const std::map<std::wstring, std::set<std::wstring>> kPolicyNames = []
{
    std::map<std::wstring, std::set<std::wstring>> names;
    for (const auto& entry : kEntries)
        names[Fold(entry.path)].insert(Fold(entry.name));
    return names;
}();

// The registry ignores case, so the input picks the spelling too.
std::wstring Spelled(FuzzedDataProvider& input, std::wstring text)
{
    switch (input.ConsumeIntegralInRange(0, 3))
    {
    case 0:
        return text;
    case 1:
        for (auto& c : text)
            c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
        return text;
    case 2:
        return Fold(text);
    default:
        break;
    }
    const auto mask = input.ConsumeIntegral<std::uint64_t>();
    for (std::size_t i = 0; i < text.size(); ++i)
        if (mask >> (i % 64) & 1u)
            text[i] = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(text[i])));
        else
            text[i] = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(text[i])));
    return text;
}

std::wstring AnyName(FuzzedDataProvider& input)
{
    if (input.ConsumeBool()) return kEntries[input.ConsumeIntegralInRange<std::size_t>(0, 35)].name;
    std::wstring name;
    for (const char c : input.ConsumeRandomLengthString(24))
        name.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return name;
}

Value AnyValue(FuzzedDataProvider& input)
{
    switch (input.ConsumeIntegralInRange(0, 7))
    {
    case 0:
        return {kRegDword, DwordBytes(1)};
    case 1:
        return {kRegDword, DwordBytes(0)};
    case 2:
        return {kRegDword, DwordBytes(input.ConsumeIntegral<std::uint32_t>())};
    case 3:
    {
        // A REG_DWORD of the wrong size, empty included: zeros here must not read as "off".
        auto size = input.ConsumeIntegralInRange<std::size_t>(0, 8);
        if (size == 4) size = 0;
        auto data = input.ConsumeBytes<std::uint8_t>(size);
        data.resize(size);
        return {kRegDword, data};
    }
    case 4:
    {
        auto data = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 32) * 2);
        data.insert(data.end(), {0, 0});
        return {kRegSz, data};
    }
    case 5:
        return {kRegBinary,
                input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 8))};
    case 6:
    {
        // Large data costs little input: a few bytes, then one byte repeated.
        const auto type = input.PickValueInArray({kRegDword, kRegSz, kRegBinary});
        auto data = input.ConsumeBytes<std::uint8_t>(4);
        const auto size = input.ConsumeIntegralInRange<std::size_t>(0, 4096);
        data.resize(size, input.ConsumeIntegral<std::uint8_t>());
        return {type, data};
    }
    default:
        return {input.ConsumeIntegral<std::uint32_t>(),
                input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 8))};
    }
}

void FillRegistry(FuzzedDataProvider& input, MemoryRegistry& registry)
{
    for (const auto& category : kCategories)
        if (input.ConsumeBool()) registry.PutKey(Spelled(input, kPolicies + L"\\" + category));
    const auto count = input.ConsumeIntegralInRange(0, 40);
    for (int i = 0; i < count; ++i)
    {
        const std::wstring path =
            input.ConsumeBool()
                ? kPolicies + L"\\" + kCategories[input.ConsumeIntegralInRange<std::size_t>(0, 3)]
                : kOtherKeys[input.ConsumeIntegralInRange<std::size_t>(0, kOtherKeys.size() - 1)];
        // One statement each: argument order is unspecified, and an input must mean the same everywhere.
        const auto spelledPath = Spelled(input, path);
        const auto name = Spelled(input, AnyName(input));
        registry.PutValue(spelledPath, name, AnyValue(input));
    }
}

void AddFaults(FuzzedDataProvider& input, MemoryRegistry& registry)
{
    const auto count = input.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < count; ++i)
    {
        MemoryRegistry::Fault fault;
        if (input.ConsumeBool()) fault.op = static_cast<Op>(input.ConsumeIntegralInRange(0, 5));
        if (input.ConsumeBool())
        {
            const auto& entry = kEntries[input.ConsumeIntegralInRange<std::size_t>(0, 35)];
            fault.path = Spelled(input, entry.path);
            if (input.ConsumeBool()) fault.valueName = Spelled(input, entry.name);
        }
        if (input.ConsumeBool()) fault.callNumber = input.ConsumeIntegralInRange<std::size_t>(1, 320);
        // Never "not found": the store rightly takes that for absence, so faking it would be a lie about
        // the contents rather than a failure.
        fault.status = input.PickValueInArray(
            {kAccessDenied, Status{6}, kInvalidParameter, kMoreData, Status{1018}, Status{1450}});
        registry.AddFault(fault);
    }
}

struct ScriptedRestart final : RestartQuestion
{
    Answer Ask(const std::wstring&, int) override
    {
        ++asked;
        return answer;
    }
    Answer answer = Answer::Decline;
    int asked = 0;
};

struct RecordingHost final : WindowHost
{
    void ShowError(const std::wstring& text) override { errors.push_back(text); }
    std::wstring StatusText(Status status) override { return L"Error " + std::to_wstring(status) + L"."; }
    void NotifyPolicyChanged() override { ++notified; }
    void EndProgram() override { ++ended; }

    std::vector<std::wstring> errors;
    int notified = 0;
    int ended = 0;
};

// The registry less what Apply may change: the 36 values, and the category keys (with the keys above
// them) that it had to create and that hold nothing else.
Snapshot Outside(Snapshot snapshot, const Snapshot& before)
{
    for (auto key = snapshot.begin(); key != snapshot.end();)
    {
        const std::wstring path = Fold(key->first);
        bool holdsCategory = false;
        for (const auto& category : kPolicyNames)
        {
            const std::wstring& categoryPath = category.first;
            holdsCategory = holdsCategory || path == categoryPath || categoryPath.starts_with(path + L'\\');
            if (path == categoryPath)
                std::erase_if(key->second,
                              [&](const auto& value) { return category.second.contains(Fold(value.first)); });
        }
        if (holdsCategory && key->second.empty() && !before.contains(key->first))
            key = snapshot.erase(key);
        else
            ++key;
    }
    return snapshot;
}

// Load reads the entries in tree order, each starting with an open of its key. A read was hit by a
// fault when its open or query failed otherwise than "not found", as nothing real does here.
std::vector<bool> ReadsHit(const std::vector<MemoryRegistry::Call>& calls)
{
    std::vector<bool> hit;
    for (const auto& call : calls)
    {
        if (call.op == Op::OpenKey)
        {
            KESTRIN_CHECK(hit.size() < kEntries.size());
            KESTRIN_CHECK(call.path == kEntries[hit.size()].path);
            hit.push_back(false);
        }
        KESTRIN_CHECK(!hit.empty());
        KESTRIN_CHECK(call.op == Op::OpenKey || call.op == Op::QueryValue || call.op == Op::CloseKey);
        if (call.op == Op::QueryValue) KESTRIN_CHECK(call.valueName == kEntries[hit.size() - 1].name);
        if (call.op != Op::CloseKey && call.status != kSuccess && call.status != kFileNotFound)
            hit.back() = true;
    }
    KESTRIN_CHECK(hit.size() == kEntries.size());
    return hit;
}

bool ShowsOn(const std::optional<Value>& value)
{
    return value && !(value->type == kRegDword && value->data == std::vector<std::uint8_t>{0, 0, 0, 0});
}

MemoryRegistry FromSnapshot(const Snapshot& snapshot)
{
    MemoryRegistry registry;
    for (const auto& [path, values] : snapshot)
    {
        registry.PutKey(path);
        for (const auto& [name, value] : values)
            registry.PutValue(path, name, value);
    }
    return registry;
}

// Every entry not named in the error (all of them, without one) holds what its tree node says: ticked
// and on, kept exactly as it was when it was on already and REG_DWORD 1 when it was off; empty and absent.
void CheckWritten(const kestrin& form, const MemoryRegistry& registry, const Snapshot& applied,
                  const std::wstring& error)
{
    const MemoryRegistry before = FromSnapshot(applied);
    for (const auto& entry : kEntries)
    {
        if (error.find(L" (" + entry.category + L"\\" + entry.name + L"): ") != std::wstring::npos) continue;
        const Node* node = form.TreeView1.FindByKey(entry.name);
        KESTRIN_CHECK(node && (node->Image() == ImageTicked || node->Image() == ImageUnticked));
        const auto value = registry.GetValue(entry.path, entry.name);
        const auto old = before.GetValue(entry.path, entry.name);
        if (node->Image() == ImageTicked)
            KESTRIN_CHECK(ShowsOn(value) && value == (ShowsOn(old) ? old : Value{kRegDword, {1, 0, 0, 0}}));
        else
            KESTRIN_CHECK(!value);
    }
}

// Whether Apply changed any of the 36 values.
bool EntriesChanged(const MemoryRegistry& registry, const Snapshot& applied)
{
    const MemoryRegistry before = FromSnapshot(applied);
    for (const auto& entry : kEntries)
        if (registry.GetValue(entry.path, entry.name) != before.GetValue(entry.path, entry.name)) return true;
    return false;
}

void Apply(kestrin& form, MemoryRegistry& registry, const ScriptedRestart& restart, const RecordingHost& host,
           const Snapshot& before)
{
    const auto errorsBefore = host.errors.size();
    const auto askedBefore = restart.asked;
    const auto notifiedBefore = host.notified;
    const auto endedBefore = host.ended;
    const bool enabled = form.Command1.Enabled();
    const auto snapshotBefore = registry.Snapshot();

    const bool applied = form.Command1.Click();

    KESTRIN_CHECK(registry.OpenHandleCount() == 0);
    KESTRIN_CHECK(Outside(registry.Snapshot(), before) == Outside(before, before));
    KESTRIN_CHECK(applied == enabled);
    if (!applied)
    {
        KESTRIN_CHECK(registry.Snapshot() == snapshotBefore);
        KESTRIN_CHECK(host.errors.size() == errorsBefore && restart.asked == askedBefore);
        return;
    }
    // Running programs hear of it exactly when a value changed, failures or not.
    KESTRIN_CHECK(host.notified == notifiedBefore + (EntriesChanged(registry, snapshotBefore) ? 1 : 0));
    if (host.errors.size() == errorsBefore)
    {
        CheckWritten(form, registry, snapshotBefore, {});
        KESTRIN_CHECK(!form.Command1.Enabled());
        KESTRIN_CHECK(restart.asked == askedBefore + 1);
        KESTRIN_CHECK(host.ended == endedBefore + (restart.answer == RestartQuestion::Answer::Agree ? 1 : 0));
    }
    else
    {
        KESTRIN_CHECK(host.errors.size() == errorsBefore + 1);
        CheckWritten(form, registry, snapshotBefore, host.errors.back());
        KESTRIN_CHECK(form.Command1.Enabled());
        KESTRIN_CHECK(restart.asked == askedBefore && host.ended == endedBefore);
    }
}

void Run(FuzzedDataProvider& input)
{
    MemoryRegistry registry;
    FillRegistry(input, registry);
    AddFaults(input, registry);
    ScriptedRestart restart;
    restart.answer = input.ConsumeBool() ? RestartQuestion::Answer::Agree : RestartQuestion::Answer::Decline;
    RecordingHost host;
    kestrin form{registry, restart, host};
    const auto before = registry.Snapshot();

    form.Form_Load();
    KESTRIN_CHECK(registry.OpenHandleCount() == 0);
    KESTRIN_CHECK(registry.Snapshot() == before);
    const auto hit = ReadsHit(registry.Calls());
    for (std::size_t i = 0; i < kEntries.size(); ++i)
    {
        const Node* node = form.TreeView1.FindByKey(kEntries[i].name);
        KESTRIN_CHECK(node);
        const bool on = !hit[i] && ShowsOn(registry.GetValue(kEntries[i].path, kEntries[i].name));
        KESTRIN_CHECK(node->Image() == (on ? ImageTicked : ImageUnticked));
    }
    KESTRIN_CHECK(!form.Command1.Enabled());

    const auto& nodes = form.TreeView1.Nodes();
    const auto clicks = input.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < clicks; ++i)
        form.TreeView1.NodeClick(*nodes[input.ConsumeIntegralInRange<std::size_t>(0, nodes.size() - 1)]);
    Apply(form, registry, restart, host, before);

    // Trying again once whatever failed has gone away saves everything.
    if (!host.errors.empty() && form.Command1.Enabled() && input.ConsumeBool())
    {
        registry.ClearFaults();
        const auto errors = host.errors.size();
        Apply(form, registry, restart, host, before);
        KESTRIN_CHECK(host.errors.size() == errors);
    }
}

} // namespace
} // namespace kestrin

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    try
    {
        kestrin::Run(input);
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "kestrin_fuzz: exception escaped: %s\n", error.what());
        __builtin_trap();
    }
    catch (...)
    {
        std::fprintf(stderr, "kestrin_fuzz: unknown exception escaped\n");
        __builtin_trap();
    }
    return 0;
}
