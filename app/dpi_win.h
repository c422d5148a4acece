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

} // namespace kestrin::dpi
