#include "app/dpi_win.h"

namespace kestrin::dpi
{
namespace
{

template <typename Function> Function User32(const char* name)
{
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

UINT SystemDpi()
{
    const HDC screen = GetDC(nullptr);
    const int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
    if (screen) ReleaseDC(nullptr, screen);
    return value > 0 ? static_cast<UINT>(value) : USER_DEFAULT_SCREEN_DPI;
}

} // namespace

void EnableAwareness()
{
    using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    if (const auto set = User32<SetContext>("SetProcessDpiAwarenessContext"))
    {
        if (set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) || set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE))
            return;
    }
    using SetAware = BOOL(WINAPI*)();
    if (const auto setAware = User32<SetAware>("SetProcessDPIAware")) setAware();
}

UINT ForWindow(HWND window)
{
    using GetDpi = UINT(WINAPI*)(HWND);
    static const auto getDpi = User32<GetDpi>("GetDpiForWindow");
    if (getDpi && window)
    {
        if (const UINT value = getDpi(window)) return value;
    }
    return SystemDpi();
}

RECT WindowRectForClient(SIZE client, DWORD style, DWORD exStyle, UINT dpi)
{
    RECT rect{0, 0, client.cx, client.cy};
    using Adjust = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = User32<Adjust>("AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, style, FALSE, exStyle, dpi))
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return rect;
}

NONCLIENTMETRICSW NonClientMetrics(UINT dpi)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    using ForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = User32<ForDpi>("SystemParametersInfoForDpi");
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) return metrics;
    metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    // The system-wide metrics are for the system DPI; scale them to the window's.
    const UINT system = SystemDpi();
    if (system != dpi)
        metrics.lfMessageFont.lfHeight =
            MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), static_cast<int>(system));
    return metrics;
}

int SystemMetric(int index, UINT dpi)
{
    using ForDpi = int(WINAPI*)(int, UINT);
    static const auto forDpi = User32<ForDpi>("GetSystemMetricsForDpi");
    if (forDpi) return forDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(SystemDpi()));
}

void EnableNonClientScaling(HWND window)
{
    // A per-monitor v2 window has it already, and the call would only cost time.
    using ThreadContext = DPI_AWARENESS_CONTEXT(WINAPI*)();
    using SameContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);
    const auto threadContext = User32<ThreadContext>("GetThreadDpiAwarenessContext");
    const auto same = User32<SameContext>("AreDpiAwarenessContextsEqual");
    if (threadContext && same && same(threadContext(), DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) return;
    using Enable = BOOL(WINAPI*)(HWND);
    if (const auto enable = User32<Enable>("EnableNonClientDpiScaling")) enable(window);
}

} // namespace kestrin::dpi
