#pragma once

#include <windows.h>

namespace kestrin::dpi
{

// DPI functions that only newer systems have are looked up when first needed, so the program still
// starts where they are missing (older Windows, Wine); each falls back to the system-wide value.
void EnableAwareness();
UINT ForWindow(HWND window);
RECT WindowRectForClient(SIZE client, DWORD style, DWORD exStyle, UINT dpi);
NONCLIENTMETRICSW NonClientMetrics(UINT dpi);
int SystemMetric(int index, UINT dpi);
// At WM_NCCREATE: has Windows 10 1607 and later scale a per-monitor (v1) window's caption and frame with
// its DPI. Per-monitor v2 windows have that anyway; older systems lack the call.
void EnableNonClientScaling(HWND window);

} // namespace kestrin::dpi
