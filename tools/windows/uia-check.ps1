<#
.SYNOPSIS
    Drives kestrin.exe through UI Automation, as a screen reader or voice control would, and checks what the
    program tells them, and that it writes nothing.

.DESCRIPTION
    First sets the signed-in user's restrictions under
    HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Policies: NoRun = 1 under Explorer,
    Disabled = 1 under Dos, NoNetSetup = REG_DWORD 0 under Network (which counts as off), and none of the
    other 33. Then it starts kestrin.exe and, through UI Automation:
      - checks that the tree is named "Restrictions" and that "Apply" starts disabled;
      - expands the four categories (the proxy shows no children of a collapsed item);
      - checks that a restriction's text starts one indent right of its category's;
      - reads every restriction's Toggle state and checks it against those values (On exactly for a value
        that is there and is not REG_DWORD 0), and checks that the categories have no Toggle pattern;
      - toggles one restriction and checks that its state flips, that automation hears of it once (one
        ToggleState change event), that no other one changes, and that "Apply" becomes enabled;
      - closes the program with "Exit" and checks that the four keys hold exactly what it set.
    At the end it puts the four keys back as they were before it started, and exits with 1 if any check
    failed.

    Writing the policy keys takes an administrator, and UI Automation cannot reach a window that runs with
    more rights than the script (kestrin.exe asks for the highest its user has): run this on an
    administrator's account, from an elevated PowerShell. On a throwaway machine (a CI runner) the
    account is an administrator with UAC off, and everything runs elevated.

.PARAMETER Program
    The kestrin.exe to drive.

.PARAMETER Transcript
    A file that gets a transcript of everything the script prints (a CI job keeps it as an artifact).

.EXAMPLE
    powershell -NoProfile -ExecutionPolicy Bypass -File tools\windows\uia-check.ps1 -Program build\windows-native\app\kestrin.exe
#>
param(
    [Parameter(Mandatory = $true)] [string] $Program,
    [string] $Transcript = ''
)

Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
if ($Transcript) { Start-Transcript -Path $Transcript -Force | Out-Null }

Add-Type -AssemblyName UIAutomationClient
Add-Type -AssemblyName UIAutomationTypes
# Records the new value of each property-changed event; UI Automation raises them on a thread of its own, where a script block
# could not run.
Add-Type -ReferencedAssemblies ([System.Windows.Automation.AutomationElement].Assembly.Location),
    ([System.Windows.Automation.AutomationProperty].Assembly.Location) -TypeDefinition @'
using System.Windows.Automation;

public class KestrinPropertyEvents
{
    readonly System.Collections.Concurrent.ConcurrentQueue<string> values =
        new System.Collections.Concurrent.ConcurrentQueue<string>();
    public int Count { get { return values.Count; } }
    public string Values { get { return string.Join(", ", values.ToArray()); } }
    public AutomationPropertyChangedEventHandler Handler() { return OnChanged; }
    void OnChanged(object sender, AutomationPropertyChangedEventArgs e) { values.Enqueue(string.Format("{0}", e.NewValue)); }
}
'@
Add-Type -TypeDefinition @'
using System;
using System.Runtime.InteropServices;
using System.Text;

public static class KestrinUiaNative
{
    delegate bool EnumWindowsProc(IntPtr window, IntPtr parameter);

    [DllImport("user32.dll")] static extern bool EnumWindows(EnumWindowsProc callback, IntPtr parameter);
    [DllImport("user32.dll")] static extern uint GetWindowThreadProcessId(IntPtr window, out uint processId);
    [DllImport("user32.dll")] static extern bool IsWindowVisible(IntPtr window);
    [DllImport("user32.dll", CharSet = CharSet.Unicode)]
    static extern int GetWindowTextW(IntPtr window, StringBuilder text, int size);
    [DllImport("user32.dll")] static extern bool SetProcessDpiAwarenessContext(IntPtr context);
    [DllImport("user32.dll")] static extern IntPtr SetThreadDpiAwarenessContext(IntPtr context);
    [DllImport("user32.dll")] public static extern IntPtr SendMessageW(IntPtr window, uint message, IntPtr wParam,
                                                                       IntPtr lParam);
    [DllImport("user32.dll")] public static extern uint GetDpiForWindow(IntPtr window);

    // The visible top-level window of that process with that caption. The program's window has a hidden
    // owner (it keeps the window off the taskbar), so it is looked for among all top-level windows.
    public static IntPtr FindWindow(int processId, string caption)
    {
        IntPtr found = IntPtr.Zero;
        EnumWindows(delegate (IntPtr window, IntPtr unused)
        {
            uint owner;
            GetWindowThreadProcessId(window, out owner);
            if (owner != (uint)processId || !IsWindowVisible(window)) return true;
            StringBuilder text = new StringBuilder(256);
            GetWindowTextW(window, text, text.Capacity);
            if (text.ToString() != caption) return true;
            found = window;
            return false;
        }, IntPtr.Zero);
        return found;
    }

    // Every coordinate in physical pixels, the program's own (it is per-monitor DPI aware), at any scaling.
    public static void BecomePerMonitorAware()
    {
        IntPtr perMonitorAwareV2 = new IntPtr(-4);
        try
        {
            SetProcessDpiAwarenessContext(perMonitorAwareV2);
            SetThreadDpiAwarenessContext(perMonitorAwareV2);
        }
        catch (EntryPointNotFoundException)
        {
        }
    }
}
'@

$Caption = 'Windows Kestrin'
$PolicyRoot = 'Software\Microsoft\Windows\CurrentVersion\Policies'
$CategoryKeys = @('Explorer', 'Network', 'System', 'Dos')
$TvmGetIndent = 0x1106
$IndentTwips = 567

# The 36 restrictions in tree order: category key, value name, the text the tree shows.
$Restrictions = @(
    @('Explorer', 'NoRun', 'Hide Run Menu'),
    @('Explorer', 'NoFind', 'Hide Find Menu'),
    @('Explorer', 'NoSetFolders', 'Hide Folders in Settings Menu'),
    @('Explorer', 'NoSetTaskbar', 'Hide Taskbar in Settings Menu'),
    @('Explorer', 'NoRecentDocsHistory', 'Hide Resent Documents Menu'),
    @('Explorer', 'ClearRecentDocsHistory', 'Clear Resent Documents Menu'),
    @('Explorer', 'NoDeletePrinter', 'Disable printer deletion'),
    @('Explorer', 'NoAddPrinter', 'Disable printer addition'),
    @('Explorer', 'NoClose', 'Remove Shutdown Command'),
    @('Explorer', 'NoSaveSettings', "Don't save Settings"),
    @('Explorer', 'NoDesktop', 'Hide all Items on the Desktop'),
    @('Explorer', 'NoDrives', 'Hide Drives from  Desktop'),
    @('Explorer', 'NoNetHood', 'Hide Network icon from Desktop'),
    @('Explorer', 'NoInternetIcon', 'Hide Internet icon from Desktop'),
    @('Explorer', 'NoPrinterTabs', 'Disable Details and General Pages'),
    @('Network', 'NoNetSetup', 'Disable Network Control Panel'),
    @('Network', 'NoNetSetupIDPage', 'Disable Identification Page'),
    @('Network', 'NoNetSetupSecurityPage', 'Disable Access Control Page'),
    @('Network', 'NoFileSharingControl', 'Disable File and Print Sharing Controls'),
    @('Network', 'NoFileSharing', 'Disable File Sharing'),
    @('Network', 'NoPrintSharing', 'Disable Print Sharing'),
    @('System', 'NoDispCPL', 'Disable Display System Control Panel'),
    @('System', 'NoDispBackgroundPage', 'Disable Display Control Background Page'),
    @('System', 'NoDispScrSavPage', 'Disable Display Control Screen Saver Page'),
    @('System', 'NoDispApperancePage', 'Disable Display Control Apperance Page'),
    @('System', 'NoDispSettingPage', 'Disable Display Control Setting Page'),
    @('System', 'NoConfigPage', 'Disable Configuration Page'),
    @('System', 'NoDevMgrPage', 'Disable Device Manager Page'),
    @('System', 'NoFileSysPage', 'Disable File System Page'),
    @('System', 'NoVirtMemPage', 'Disable Virtual Memory Page'),
    @('System', 'NoAdminPage', 'Disable Remote Administration Page'),
    @('System', 'NoProfilePage', 'Disable User Profiles Page'),
    @('System', 'NoPwdPage', 'Disable Change Passwords Page'),
    @('System', 'NoSecCPL', 'Disable Password Control Panel'),
    @('Dos', 'Disabled', 'Disable MS-DOS prompt'),
    @('Dos', 'NoRealMode', 'Disable MS-DOS app at real mode')
) | ForEach-Object { [pscustomobject]@{ Category = $_[0]; Value = $_[1]; Text = $_[2] } }

# What the script sets before the program starts; every other restriction is absent.
$Planted = @(
    [pscustomobject]@{ Category = 'Explorer'; Value = 'NoRun'; Data = 1 },
    [pscustomobject]@{ Category = 'Dos'; Value = 'Disabled'; Data = 1 },
    [pscustomobject]@{ Category = 'Network'; Value = 'NoNetSetup'; Data = 0 }
)
# The one restriction the script toggles (absent, so off).
$ToggledText = 'Hide Find Menu'

$script:passed = 0
$script:failures = New-Object System.Collections.Generic.List[string]

function Check([bool] $ok, [string] $what) {
    if ($ok) {
        $script:passed++
        Write-Host "ok    $what"
    } else {
        $script:failures.Add($what)
        Write-Host "FAIL  $what"
    }
}

# Calls $probe until it answers something other than $null or $false, for at most $milliseconds; returns
# that answer, or $null.
function Wait-For([scriptblock] $probe, [int] $milliseconds = 5000) {
    $deadline = [DateTime]::UtcNow.AddMilliseconds($milliseconds)
    while ($true) {
        try {
            $answer = & $probe
            if ($null -ne $answer -and -not ($answer -is [bool] -and -not $answer)) { return $answer }
        } catch {
        }
        if ([DateTime]::UtcNow -gt $deadline) { return $null }
        Start-Sleep -Milliseconds 100
    }
}

# --- The registry -----------------------------------------------------------------------------------------

# Everything in the four keys: for each, $null when the key is missing, else its values (kind and data).
function Get-PolicyKeys {
    $snapshot = [ordered]@{}
    foreach ($category in $CategoryKeys) {
        $key = [Microsoft.Win32.Registry]::CurrentUser.OpenSubKey("$PolicyRoot\$category")
        if ($null -eq $key) {
            $snapshot[$category] = $null
            continue
        }
        try {
            $values = [ordered]@{}
            foreach ($name in @($key.GetValueNames() | Sort-Object)) {
                $values[$name] = [pscustomobject]@{
                    Kind = $key.GetValueKind($name)
                    Data = $key.GetValue($name, $null,
                        [Microsoft.Win32.RegistryValueOptions]::DoNotExpandEnvironmentNames)
                }
            }
            $snapshot[$category] = $values
        } finally {
            $key.Close()
        }
    }
    return $snapshot
}

# One line per key and value, to compare and to print.
function Format-PolicyKeys($snapshot) {
    foreach ($category in $CategoryKeys) {
        $values = $snapshot[$category]
        if ($null -eq $values) {
            "$category (no key)"
            continue
        }
        "$category (key)"
        foreach ($name in $values.Keys) {
            $value = $values[$name]
            $data = $value.Data
            if ($data -is [byte[]]) {
                $data = ($data | ForEach-Object { $_.ToString('x2') }) -join ' '
            } elseif ($data -is [string[]]) {
                $data = $data -join '|'
            }
            "$category\$name = $($value.Kind) $data"
        }
    }
}

function Set-PlantedValues {
    $hkcu = [Microsoft.Win32.Registry]::CurrentUser
    foreach ($restriction in $Restrictions) {
        $key = $hkcu.OpenSubKey("$PolicyRoot\$($restriction.Category)", $true)
        if ($null -ne $key) {
            try { $key.DeleteValue($restriction.Value, $false) } finally { $key.Close() }
        }
    }
    foreach ($value in $Planted) {
        $key = $hkcu.CreateSubKey("$PolicyRoot\$($value.Category)")
        try {
            $key.SetValue($value.Value, [int] $value.Data, [Microsoft.Win32.RegistryValueKind]::DWord)
        } finally {
            $key.Close()
        }
    }
}

function Restore-PolicyKeys($original) {
    $hkcu = [Microsoft.Win32.Registry]::CurrentUser
    foreach ($category in $CategoryKeys) {
        $path = "$PolicyRoot\$category"
        $before = $original[$category]
        if ($null -eq $before) {
            $hkcu.DeleteSubKeyTree($path, $false)
            continue
        }
        $key = $hkcu.CreateSubKey($path)
        try {
            foreach ($name in $key.GetValueNames()) {
                if (-not $before.Contains($name)) { $key.DeleteValue($name, $false) }
            }
            foreach ($name in $before.Keys) {
                $key.SetValue($name, $before[$name].Data, $before[$name].Kind)
            }
        } finally {
            $key.Close()
        }
    }
}

# On exactly for a value that is there and is not REG_DWORD 0, as the program reads it.
function Get-ExpectedState($snapshot, $restriction) {
    $values = $snapshot[$restriction.Category]
    if ($null -eq $values -or -not $values.Contains($restriction.Value)) { return 'Off' }
    $value = $values[$restriction.Value]
    if ($value.Kind -eq [Microsoft.Win32.RegistryValueKind]::DWord -and [int] $value.Data -eq 0) { return 'Off' }
    return 'On'
}

# --- UI Automation ----------------------------------------------------------------------------------------

$Element = [System.Windows.Automation.AutomationElement]
$ControlType = [System.Windows.Automation.ControlType]
$TreeScope = [System.Windows.Automation.TreeScope]

function New-Condition($property, $value) {
    return New-Object System.Windows.Automation.PropertyCondition($property, $value)
}

function Find-Element($parent, $type, [string] $name) {
    $condition = New-Condition ($Element::ControlTypeProperty) $type
    if ($name) {
        $condition = New-Object System.Windows.Automation.AndCondition($condition,
            (New-Condition ($Element::NameProperty) $name))
    }
    return $parent.FindFirst($TreeScope::Descendants, $condition)
}

function Get-TreeItems($parent) {
    $condition = New-Condition ($Element::ControlTypeProperty) ($ControlType::TreeItem)
    return @($parent.FindAll($TreeScope::Children, $condition))
}

function Get-ToggleState($item) {
    $pattern = $item.GetCurrentPattern([System.Windows.Automation.TogglePattern]::Pattern)
    return $pattern.Current.ToggleState.ToString()
}

function Test-TogglePattern($item) {
    return [bool] $item.GetCurrentPropertyValue($Element::IsTogglePatternAvailableProperty)
}

# --- The run ----------------------------------------------------------------------------------------------

[KestrinUiaNative]::BecomePerMonitorAware()
$programPath = (Resolve-Path -LiteralPath $Program).Path
$original = Get-PolicyKeys
$process = $null
try {
    Set-PlantedValues
    $plantedKeys = Get-PolicyKeys
    $plantedLines = @(Format-PolicyKeys $plantedKeys)
    Write-Host 'The four policy keys before the program starts:'
    $plantedLines | ForEach-Object { Write-Host "      $_" }

    $process = Start-Process -FilePath $programPath -PassThru
    $null = $process.Handle # keeps the exit code readable once the process has ended
    $handle = Wait-For {
        $found = [KestrinUiaNative]::FindWindow($process.Id, $Caption)
        if ($found -ne [IntPtr]::Zero) { $found }
    } 30000
    Check ($null -ne $handle) "the window ""$Caption"" appears"
    if ($null -eq $handle) { throw "the window ""$Caption"" never appeared" }
    $window = $Element::FromHandle($handle)

    $tree = Find-Element $window ($ControlType::Tree)
    Check ($null -ne $tree) 'the window has a tree'
    if ($null -eq $tree) { throw 'no tree' }
    $treeName = $tree.Current.Name
    Check ($treeName -eq 'Restrictions') "the tree's accessible name is ""Restrictions"" (it is ""$treeName"")"
    $apply = Find-Element $window ($ControlType::Button) 'Apply'
    $exit = Find-Element $window ($ControlType::Button) 'Exit'
    Check ($null -ne $apply -and $null -ne $exit) 'the buttons "Apply" and "Exit" are there'
    if ($null -eq $apply -or $null -eq $exit) { throw 'no buttons' }
    Check (-not $apply.Current.IsEnabled) '"Apply" is disabled while nothing has changed'

    $categoryItems = @(Get-TreeItems $tree)
    $categoryNames = @($categoryItems | ForEach-Object { $_.Current.Name })
    Check (($categoryNames -join '|') -eq ($CategoryKeys -join '|')) `
        "the tree's top level is Explorer, Network, System, Dos (it is: $($categoryNames -join ', '))"
    if ($categoryItems.Count -ne $CategoryKeys.Count) { throw 'not the four categories' }

    $items = @{} # restriction text -> its tree item
    for ($i = 0; $i -lt $categoryItems.Count; $i++) {
        $category = $categoryItems[$i]
        $name = $CategoryKeys[$i]
        Check (-not (Test-TogglePattern $category)) "the category ""$name"" has no Toggle pattern"
        $expand = $category.GetCurrentPattern([System.Windows.Automation.ExpandCollapsePattern]::Pattern)
        $expand.Expand()
        $expected = @($Restrictions | Where-Object { $_.Category -eq $name } | ForEach-Object { $_.Text })
        $children = Wait-For { $shown = @(Get-TreeItems $category); if ($shown.Count -eq $expected.Count) { , $shown } }
        if ($null -eq $children) { $children = @() } else { $children = @($children) }
        $childNames = @($children | ForEach-Object { $_.Current.Name })
        Check (($childNames -join '|') -eq ($expected -join '|')) `
            ("expanded, ""$name"" shows its $($expected.Count) restrictions in order " +
             "(it shows: $($childNames -join ', '))")
        foreach ($child in $children) { $items[$child.Current.Name] = $child }

        if ($name -eq 'Explorer' -and $children.Count -gt 0) {
            # The state pictures have no width where Windows takes that, else one transparent pixel: a
            # restriction's text starts one indent right of its category's, or that one pixel more.
            $treeHandle = [IntPtr] $tree.Current.NativeWindowHandle
            $indent = [KestrinUiaNative]::SendMessageW($treeHandle, $TvmGetIndent, [IntPtr]::Zero,
                                                       [IntPtr]::Zero).ToInt32()
            $dpi = [KestrinUiaNative]::GetDpiForWindow($treeHandle)
            $expectedIndent = [int][Math]::Floor(($IndentTwips * $dpi + 720) / 1440)
            Check ($indent -eq $expectedIndent) `
                "the tree's indent is $IndentTwips twips at $dpi DPI, $expectedIndent px (TVM_GETINDENT: $indent)"
            # The proxy's rectangle of an item is that of its text (TVM_GETITEMRECT, text only), on the screen.
            $categoryRect = $category.Current.BoundingRectangle
            $entryRect = $children[0].Current.BoundingRectangle
            if ($categoryRect.IsEmpty -or $entryRect.IsEmpty) {
                Check $false """Explorer"" and ""$($childNames[0])"" have rectangles on the screen"
            } else {
                $offset = [int][Math]::Round($entryRect.Left - $categoryRect.Left)
                # Which one the offset shows; the window tests read the state list's width itself.
                $outcomes = @{ 0 = 'as with state pictures of no width'; 1 = 'one pixel more, as with the fallback' }
                $how = $outcomes[$offset - $indent]
                Check ($null -ne $how) `
                    ("""$($childNames[0])"" starts one indent ($indent px) right of ""Explorer"", or one pixel " +
                     "more: its text at x = $($entryRect.Left), Explorer's at x = $($categoryRect.Left), " +
                     "$offset px apart ($how)")
            }
        }
    }

    # Every restriction's state, against the registry as the script set it.
    $states = @{}
    foreach ($restriction in $Restrictions) {
        $item = $items[$restriction.Text]
        if ($null -eq $item) {
            Check $false """$($restriction.Text)"" is in the tree"
            continue
        }
        if (-not (Test-TogglePattern $item)) {
            Check $false """$($restriction.Text)"" has a Toggle pattern"
            continue
        }
        $state = Get-ToggleState $item
        $states[$restriction.Text] = $state
        $expectedState = Get-ExpectedState $plantedKeys $restriction
        Check ($state -eq $expectedState) `
            ("""$($restriction.Text)"" ($($restriction.Category)\$($restriction.Value)) reads $expectedState " +
             "(it reads $state)")
    }

    # One restriction toggled as automation does it; only it changes, and "Apply" has work to do.
    $target = $items[$ToggledText]
    if ($null -ne $target -and $states.ContainsKey($ToggledText)) {
        $before = $states[$ToggledText]
        $wanted = if ($before -eq 'On') { 'Off' } else { 'On' }
        $toggleEvents = New-Object KestrinPropertyEvents
        $toggleHandler = $toggleEvents.Handler()
        [System.Windows.Automation.Automation]::AddAutomationPropertyChangedEventHandler($target,
            $TreeScope::Element, $toggleHandler, [System.Windows.Automation.TogglePattern]::ToggleStateProperty)
        try {
            $target.GetCurrentPattern([System.Windows.Automation.TogglePattern]::Pattern).Toggle()
        } catch {
            Write-Host "      Toggle() failed: $($_.Exception.Message)"
        }
        $flipped = Wait-For { (Get-ToggleState $target) -eq $wanted } 3000
        Check ($null -ne $flipped) """$ToggledText"" reads $wanted after Toggle() (it reads $(Get-ToggleState $target))"
        Start-Sleep -Milliseconds 1000 # events come asynchronously
        [System.Windows.Automation.Automation]::RemoveAutomationPropertyChangedEventHandler($target, $toggleHandler)
        Check ($toggleEvents.Count -eq 1) `
            ("automation hears of the toggle once: one ToggleState change event (there were $($toggleEvents.Count): $($toggleEvents.Values))")
        $enabled = Wait-For { $apply.Current.IsEnabled } 3000
        Check ($null -ne $enabled) '"Apply" is enabled after the toggle'
        foreach ($restriction in $Restrictions) {
            if ($restriction.Text -eq $ToggledText -or -not $states.ContainsKey($restriction.Text)) { continue }
            $now = Get-ToggleState $items[$restriction.Text]
            if ($now -ne $states[$restriction.Text]) {
                Check $false """$($restriction.Text)"" did not change with the toggle (it reads $now)"
            }
        }
    } else {
        Check $false """$ToggledText"" can be toggled"
    }

    # "Exit" writes nothing.
    $exit.GetCurrentPattern([System.Windows.Automation.InvokePattern]::Pattern).Invoke()
    $ended = $process.WaitForExit(10000)
    Check $ended 'the program ends on "Exit"'
    if ($ended) {
        Check ($process.ExitCode -eq 0) "the program ends with exit code 0 (it ended with $($process.ExitCode))"
    }
    $afterLines = @(Format-PolicyKeys (Get-PolicyKeys))
    $differences = @(Compare-Object $plantedLines $afterLines)
    Check ($differences.Count -eq 0) 'nothing was written: the four keys hold exactly what the script set'
    foreach ($difference in $differences) {
        $side = if ($difference.SideIndicator -eq '<=') { 'before' } else { 'after ' }
        Write-Host "      $side $($difference.InputObject)"
    }
} catch {
    Check $false "the run went through (it stopped: $($_.Exception.Message))"
} finally {
    if ($null -ne $process -and -not $process.HasExited) { Stop-Process -Id $process.Id -Force }
    Restore-PolicyKeys $original
}

Write-Host ''
Write-Host "uia-check: $($script:passed) passed, $($script:failures.Count) failed"
if ($script:failures.Count -gt 0) {
    Write-Host 'Failed:'
    $script:failures | ForEach-Object { Write-Host "  $_" }
}
if ($Transcript) { Stop-Transcript | Out-Null }
if ($script:failures.Count -gt 0) { exit 1 }
exit 0
