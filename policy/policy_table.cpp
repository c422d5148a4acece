#include "policy/policy_table.h"

namespace kestrin
{

void PolicyTable::InitPolicyTable()
{
    ExplorerStart = 1;
    PolicyEntries(1) = L"NoRun,Hide Run Menu";
    PolicyEntries(2) = L"NoFind,Hide Find Menu";
    PolicyEntries(3) = L"NoSetFolders,Hide Folders in Settings Menu";
    PolicyEntries(4) = L"NoSetTaskbar,Hide Taskbar in Settings Menu";
    PolicyEntries(5) = L"NoRecentDocsHistory,Hide Resent Documents Menu";
    PolicyEntries(6) = L"ClearRecentDocsHistory,Clear Resent Documents Menu";
    PolicyEntries(7) = L"NoDeletePrinter,Disable printer deletion";
    PolicyEntries(8) = L"NoAddPrinter,Disable printer addition";
    PolicyEntries(9) = L"NoClose,Remove Shutdown Command";
    PolicyEntries(10) = L"NoSaveSettings,Don't save Settings";
    PolicyEntries(11) = L"NoDesktop,Hide all Items on the Desktop";
    PolicyEntries(12) = L"NoDrives,Hide Drives from  Desktop";
    PolicyEntries(13) = L"NoNetHood,Hide Network icon from Desktop";
    PolicyEntries(14) = L"NoInternetIcon,Hide Internet icon from Desktop";
    PolicyEntries(15) = L"NoPrinterTabs,Disable Details and General Pages";

    NetworkStart = 16;
    PolicyEntries(16) = L"NoNetSetup,Disable Network Control Panel";
    PolicyEntries(17) = L"NoNetSetupIDPage,Disable Identification Page";
    PolicyEntries(18) = L"NoNetSetupSecurityPage,Disable Access Control Page";
    PolicyEntries(19) = L"NoFileSharingControl,Disable File and Print Sharing Controls";
    PolicyEntries(20) = L"NoFileSharing,Disable File Sharing";
    PolicyEntries(21) = L"NoPrintSharing,Disable Print Sharing";

    SystemStart = 22;
    PolicyEntries(22) = L"NoDispCPL,Disable Display System Control Panel";
    PolicyEntries(23) = L"NoDispBackgroundPage,Disable Display Control Background Page";
    PolicyEntries(24) = L"NoDispScrSavPage,Disable Display Control Screen Saver Page";
    PolicyEntries(25) = L"NoDispApperancePage,Disable Display Control Apperance Page";
    PolicyEntries(26) = L"NoDispSettingPage,Disable Display Control Setting Page";
    PolicyEntries(27) = L"NoConfigPage,Disable Configuration Page";
    PolicyEntries(28) = L"NoDevMgrPage,Disable Device Manager Page";
    PolicyEntries(29) = L"NoFileSysPage,Disable File System Page";
    PolicyEntries(30) = L"NoVirtMemPage,Disable Virtual Memory Page";
    PolicyEntries(31) = L"NoAdminPage,Disable Remote Administration Page";
    PolicyEntries(32) = L"NoProfilePage,Disable User Profiles Page";
    PolicyEntries(33) = L"NoPwdPage,Disable Change Passwords Page";
    PolicyEntries(34) = L"NoSecCPL,Disable Password Control Panel";

    DosStart = 35;
    PolicyEntries(35) = L"Disabled,Disable MS-DOS prompt";
    PolicyEntries(36) = L"NoRealMode,Disable MS-DOS app at real mode";
}

PolicyEntryParts SplitPolicyEntry(std::wstring_view entry)
{
    const auto comma = entry.find(L',');
    if (comma == std::wstring_view::npos) return {std::wstring(entry), {}};
    return {std::wstring(entry.substr(0, comma)), std::wstring(entry.substr(comma + 1))};
}

} // namespace kestrin
