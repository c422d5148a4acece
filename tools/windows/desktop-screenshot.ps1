<#
.SYNOPSIS
    Saves the whole desktop as a PNG and names the window that holds the foreground: what a CI job keeps
    when one of its steps has failed, to show what was on the screen and where keys and clicks went.

.PARAMETER Path
    The PNG to write.

.EXAMPLE
    powershell -NoProfile -ExecutionPolicy Bypass -File tools\windows\desktop-screenshot.ps1 -Path desktop.png
#>
param(
    [Parameter(Mandatory = $true)] [string] $Path
)

Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
Add-Type -AssemblyName System.Windows.Forms, System.Drawing
Add-Type -TypeDefinition @'
using System;
using System.Runtime.InteropServices;
using System.Text;

public static class KestrinForeground
{
    [DllImport("user32.dll")] static extern IntPtr GetForegroundWindow();
    [DllImport("user32.dll")] static extern uint GetWindowThreadProcessId(IntPtr window, out uint processId);
    [DllImport("user32.dll", CharSet = CharSet.Unicode)] static extern int GetClassName(IntPtr window, StringBuilder name, int size);
    [DllImport("user32.dll", CharSet = CharSet.Unicode)] static extern int GetWindowText(IntPtr window, StringBuilder text, int size);

    public static string Describe()
    {
        IntPtr window = GetForegroundWindow();
        if (window == IntPtr.Zero) return "no window";
        uint processId;
        GetWindowThreadProcessId(window, out processId);
        StringBuilder name = new StringBuilder(256), text = new StringBuilder(256);
        GetClassName(window, name, name.Capacity);
        GetWindowText(window, text, text.Capacity);
        string image;
        try { image = System.Diagnostics.Process.GetProcessById((int)processId).ProcessName; }
        catch (Exception) { image = "an unknown process"; }
        return string.Format("\"{0}\" (class {1}) of {2}, process {3}", text, name, image, processId);
    }
}
'@

# First the foreground, which the capture cannot lose: as it is now, after the step that failed (the window
# tests name the holder of their own time in their failure messages).
Write-Host "The foreground now: $([KestrinForeground]::Describe())"
$bounds = [System.Windows.Forms.SystemInformation]::VirtualScreen
try {
    $bitmap = New-Object System.Drawing.Bitmap $bounds.Width, $bounds.Height
    try {
        $graphics = [System.Drawing.Graphics]::FromImage($bitmap)
        try {
            $graphics.CopyFromScreen($bounds.Left, $bounds.Top, 0, 0, $bitmap.Size)
        } finally {
            $graphics.Dispose()
        }
        $bitmap.Save($Path, [System.Drawing.Imaging.ImageFormat]::Png)
    } finally {
        $bitmap.Dispose()
    }
    Write-Host "The desktop, $($bounds.Width) x $($bounds.Height): $Path"
} catch {
    # A session without an interactive desktop (locked, or a service's) has nothing to capture.
    Write-Host "No screenshot of the desktop: $($_.Exception.Message)"
}
