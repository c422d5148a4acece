// Measures Kestrin where it runs: start-up to a filled window next to three yardsticks (an empty window,
// the same window with a text-only tree, and that tree window padded to kestrin.exe's size), load and
// "Apply" of all 36 values against the real registry, the program's peak memory and the images' sizes.
// Given another build of kestrin.exe (an earlier revision's), it starts that one in the same rounds and sets
// this build against it.
//   kestrin_bench <kestrin.exe> <empty_window.exe> <tree_window.exe> <padded_tree_window.exe>
//                 [starts [<other kestrin.exe> <its name>]]
// Writes the per-user policy keys: it refuses to run outside Wine unless KESTRIN_BENCH_WRITE_POLICIES=1.
#include "app/kestrin.h"
#include "store/module1.h"
#include "store/registry_win.h"

#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

// The q-quantile, interpolated between the two nearest values.
double Quantile(std::vector<double> values, double q)
{
    std::sort(values.begin(), values.end());
    const double position = q * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(position);
    if (below + 1 >= values.size()) return values.back();
    return values[below] + (position - static_cast<double>(below)) * (values[below + 1] - values[below]);
}

double Median(std::vector<double> values)
{
    return Quantile(std::move(values), 0.5);
}

// One value per round from one program's start and another's in the same round: the two started within a
// second or so of each other, so a change in the machine's load between rounds (other work on a shared
// machine) cancels out.
template <typename Compare>
std::vector<double> PerRound(const std::vector<double>& starts, const std::vector<double>& others,
                             Compare compare)
{
    std::vector<double> values;
    for (std::size_t i = 0; i < starts.size() && i < others.size(); ++i)
        values.push_back(compare(starts[i], others[i]));
    return values;
}

template <typename Compare>
double MedianOverRounds(const std::vector<double>& starts, const std::vector<double>& others, Compare compare)
{
    return Median(PerRound(starts, others, compare));
}

double Ratio(double start, double other)
{
    return start / other;
}

double Difference(double start, double other)
{
    return start - other;
}

struct Estimate
{
    double median;
    double low;
    double high;
};

// The median of the rounds' values with a 95 % percentile bootstrap interval: the rounds resampled with
// replacement, from a fixed seed so that the same rounds always give the same interval.
Estimate MedianWithInterval(const std::vector<double>& values)
{
    constexpr int kResamples = 2000;
    std::mt19937 random(20261208);
    std::uniform_int_distribution<std::size_t> pick(0, values.size() - 1);
    std::vector<double> medians;
    std::vector<double> resample(values.size());
    for (int i = 0; i < kResamples; ++i)
    {
        for (double& value : resample)
            value = values[pick(random)];
        medians.push_back(Median(resample));
    }
    return {Median(values), Quantile(medians, 0.025), Quantile(medians, 0.975)};
}

// The orders of a balanced Latin square (Williams' design) for n programs: every program starts once at
// each place and, within a round, directly after each of the others once. For an odd n no single square
// does that, so the square is followed by its mirror image and each of these holds twice over 2n rounds.
std::vector<std::vector<int>> BalancedOrders(int n)
{
    std::vector<int> first{0}; // 0, 1, n-1, 2, n-2, ...
    for (int low = 1, high = n - 1; low <= high;)
    {
        first.push_back(low++);
        if (low <= high) first.push_back(high--);
    }
    std::vector<std::vector<int>> orders;
    for (int shift = 0; shift < n; ++shift)
    {
        std::vector<int> order;
        for (const int program : first)
            order.push_back((program + shift) % n);
        orders.push_back(order);
    }
    if (n % 2)
        for (int shift = 0; shift < n; ++shift)
            orders.emplace_back(orders[shift].rbegin(), orders[shift].rend());
    return orders;
}

struct StartResult
{
    double milliseconds = -1;
    SIZE_T peakWorkingSet = 0;
};

// Starts the program and waits until its window is visible and, for Kestrin, its tree holds all 40
// nodes; then closes it the way the user would.
StartResult TimeStart(const std::wstring& program, const wchar_t* caption, bool expectTree)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + program + L"\"";
    auto started = Clock::now();
    // Under heavy load Wine now and then refuses to make a process (ERROR_INTERNAL_ERROR): try again.
    for (int attempt = 1; !CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, nullptr, &startup, &process);
         ++attempt)
    {
        std::fprintf(stderr, "could not start %ls: error %lu\n", program.c_str(), GetLastError());
        if (attempt == 3) return {};
        Sleep(100);
        started = Clock::now();
    }

    StartResult result;
    HWND window = nullptr;
    while (Clock::now() - started < std::chrono::seconds(30))
    {
        window = FindWindowW(nullptr, caption);
        if (window && IsWindowVisible(window))
        {
            if (!expectTree) break;
            const HWND tree = FindWindowExW(window, nullptr, WC_TREEVIEWW, nullptr);
            if (tree && SendMessageW(tree, TVM_GETCOUNT, 0, 0) == 40) break;
        }
        window = nullptr;
        Sleep(1);
    }
    if (window)
    {
        result.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters))
            result.peakWorkingSet = counters.PeakWorkingSetSize;
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

struct Decline final : kestrin::RestartQuestion
{
    Answer Ask(const std::wstring&, int) override { return Answer::Decline; }
};

struct QuietHost final : kestrin::WindowHost
{
    void ShowError(const std::wstring&) override { ++errors; }
    std::wstring StatusText(kestrin::Status) override { return {}; }
    void NotifyPolicyChanged() override {}
    void EndProgram() override {}
    int errors = 0;
};

// Size of the file on disk, or -1.
long long FileSize(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool OnWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// One line of the comparison: a median over the rounds with its interval, the label padded so that the
// lines align.
void PrintEstimate(const std::wstring& label, const char* format, const Estimate& estimate,
                   const char* note = "")
{
    std::printf("%-*ls ", 36, (label + L":").c_str());
    std::printf(format, estimate.median, estimate.low, estimate.high);
    std::printf("%s\n", note);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5 || argc == 7 || argc > 8)
    {
        std::fprintf(stderr, "usage: kestrin_bench <kestrin.exe> <empty_window.exe> <tree_window.exe> "
                             "<padded_tree_window.exe> [starts [<other kestrin.exe> <its name>]]\n");
        return 2;
    }
    const char* optIn = std::getenv("KESTRIN_BENCH_WRITE_POLICIES");
    if (!OnWine() && !(optIn && std::string(optIn) == "1"))
    {
        std::fprintf(stderr,
                     "refusing to change this machine's policies; set KESTRIN_BENCH_WRITE_POLICIES=1\n");
        return 2;
    }
    const int starts = argc > 5 ? std::max(1, _wtoi(argv[5])) : 15;
    const bool compared = argc == 8;
    const std::wstring otherName = compared ? argv[7] : L"";

    // (a) Start-up, the programs in turn so none gets a warmer system. A start is slowed by the system
    // still tidying up after the program before (its windows, its process), so the rounds take the orders
    // of a balanced Latin square: over a whole number of its orders each program starts as often at each
    // place and, within a round, directly after each of the others equally often.
    struct Program
    {
        const wchar_t* path;
        const wchar_t* caption;
        bool hasTree;
        std::vector<double> starts;
    };
    std::vector<Program> programs = {{argv[1], L"Windows Kestrin", true, {}},
                                     {argv[2], L"Kestrin Bench Empty", false, {}},
                                     {argv[3], L"Kestrin Bench Tree", true, {}},
                                     {argv[4], L"Kestrin Bench Padded Tree", true, {}}};
    if (compared) programs.push_back({argv[6], L"Windows Kestrin", true, {}});
    const std::vector<std::vector<int>> orders = BalancedOrders(static_cast<int>(programs.size()));
    const int orderCount = static_cast<int>(orders.size());
    if (starts % orderCount)
        std::fprintf(stderr,
                     "note: %d rounds are not a multiple of the %d orders, so the order is not balanced\n",
                     starts, orderCount);
    for (const Program& program : programs) // warm-up: the first start loads everything from disk
        TimeStart(program.path, program.caption, program.hasTree);
    SIZE_T peak = 0;
    for (int i = 0; i < starts; ++i)
    {
        for (const int index : orders[i % orders.size()])
        {
            Program& program = programs[index];
            const StartResult start = TimeStart(program.path, program.caption, program.hasTree);
            if (start.milliseconds < 0)
            {
                std::fprintf(stderr, "%ls did not start, or its window did not show within 30 s\n",
                             program.path);
                return 1;
            }
            program.starts.push_back(start.milliseconds);
            if (&program == &programs[0]) peak = std::max(peak, start.peakWorkingSet);
        }
    }
    const std::vector<double>& kestrinStarts = programs[0].starts;
    const std::vector<double>& emptyStarts = programs[1].starts;
    const std::vector<double>& treeStarts = programs[2].starts;
    const std::vector<double>& paddedStarts = programs[3].starts;

    // (b) Load and "Apply" in-process on the real registry: half the entries switched each time.
    kestrin::Win32Registry registry;
    Decline decline;
    QuietHost host;
    std::vector<double> loads;
    std::vector<double> applies;
    constexpr int kRepetitions = 200;
    for (int i = 0; i < kRepetitions; ++i)
    {
        kestrin::kestrin form(registry, decline, host);
        auto begin = Clock::now();
        form.Form_Load();
        loads.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        for (std::size_t n = 1; n < form.TreeView1.Nodes().size(); n += 2)
            form.TreeView1.NodeClick(*form.TreeView1.Nodes()[n]);
        begin = Clock::now();
        form.Command1_Click();
        applies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    }
    // Leave the keys as a fresh prefix has them.
    for (const auto* category : {L"Explorer", L"Network", L"System", L"Dos"})
        RegDeleteKeyW(HKEY_CURRENT_USER, kestrin::Module1::PolicyKeyPath(category).c_str());

    const double kestrinMedian = Median(kestrinStarts);
    const double emptyMedian = Median(emptyStarts);
    const double treeMedian = Median(treeStarts);
    const double paddedMedian = Median(paddedStarts);
    std::printf("| measure | value |\n|---|---|\n");
    std::printf("| start to filled window, kestrin.exe (median of %d) | %.1f ms |\n", starts, kestrinMedian);
    if (compared)
        std::printf("| start to filled window, kestrin.exe of %ls (median of %d) | %.1f ms |\n",
                    otherName.c_str(), starts, Median(programs[4].starts));
    std::printf("| start to window, empty window program (median of %d) | %.1f ms |\n", starts, emptyMedian);
    std::printf(
        "| start to filled window, tree window: the same window with a text-only tree (median of %d) | "
        "%.1f ms |\n",
        starts, treeMedian);
    std::printf("| start to filled window, padded tree window: the tree window at kestrin.exe's size "
                "(median of %d) | %.1f ms |\n",
                starts, paddedMedian);
    std::printf("| ratio to the empty window (median of the rounds' ratios) | %.2f |\n",
                MedianOverRounds(kestrinStarts, emptyStarts, Ratio));
    std::printf("| ratio to the tree window (median of the rounds' ratios) | %.2f |\n",
                MedianOverRounds(kestrinStarts, treeStarts, Ratio));
    std::printf("| ratio to the padded tree window (median of the rounds' ratios) | %.2f |\n",
                MedianOverRounds(kestrinStarts, paddedStarts, Ratio));
    std::printf("| gap to the tree window from image size: padded minus tree window (median of the rounds) "
                "| %+.1f ms |\n",
                MedianOverRounds(paddedStarts, treeStarts, Difference));
    std::printf("| gap to the tree window from the program's own work: kestrin.exe minus padded (median of "
                "the rounds) | %+.1f ms |\n",
                MedianOverRounds(kestrinStarts, paddedStarts, Difference));
    std::printf("| load: 36 reads (median of %d) | %.3f ms |\n", kRepetitions, Median(loads));
    std::printf("| Apply: 36 writes (median of %d) | %.3f ms |\n", kRepetitions, Median(applies));
    std::printf("| peak working set of kestrin.exe | %.1f MiB |\n",
                static_cast<double>(peak) / (1024.0 * 1024.0));
    const wchar_t* const sizeNames[] = {L"kestrin.exe", L"the empty window program", L"the tree window",
                                        L"the padded tree window"};
    for (int i = 0; i < 4; ++i)
        std::printf("| size of %ls | %lld bytes |\n", sizeNames[i], FileSize(programs[i].path));
    if (compared)
        std::printf("| size of kestrin.exe of %ls | %lld bytes |\n", otherName.c_str(),
                    FileSize(programs[4].path));
    if (host.errors) std::printf("| Apply errors during the run | %d |\n", host.errors);

    // The comparison, a line each, after a blank line: medians over the rounds with their intervals.
    std::printf("\nmedians of the %d rounds' ratios and differences, 95 %% bootstrap intervals:\n", starts);
    if (compared)
    {
        const std::vector<double>& otherStarts = programs[4].starts;
        PrintEstimate(L"this build / " + otherName, "%.3f (%.3f to %.3f)",
                      MedianWithInterval(PerRound(kestrinStarts, otherStarts, Ratio)));
        PrintEstimate(L"this build - " + otherName, "%+.1f ms (%+.1f to %+.1f)",
                      MedianWithInterval(PerRound(kestrinStarts, otherStarts, Difference)));
    }
    PrintEstimate(L"this build / tree window", "%.3f (%.3f to %.3f)",
                  MedianWithInterval(PerRound(kestrinStarts, treeStarts, Ratio)), ", goal <= 1.05");
    if (compared)
        PrintEstimate(otherName + L" / tree window", "%.3f (%.3f to %.3f)",
                      MedianWithInterval(PerRound(programs[4].starts, treeStarts, Ratio)));
    return host.errors ? 1 : 0;
}
