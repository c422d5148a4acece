#!/usr/bin/env bash
# Toggling with the mouse (on a label and on a picture) and with Space after arrow keys, "Apply",
# and both answers to the restart question: "No" keeps the window open with "Apply" disabled and
# every restriction written as the tree shows it (values that were on already, a string, a DWORD 5, the
# NoDrives mask, kept as they were), nothing else touched; "Yes" ends the program and,
# under Wine, the whole Wine session, with the second Apply kept.
source "$(dirname "$0")/lib.sh" apply "$@"

e2e_setup

e2e_step "presetting the registry"
e2e_reg_add "$E2E_POLICIES\\Explorer" NoRun REG_DWORD 1
e2e_reg_add "$E2E_POLICIES\\Explorer" NoFind REG_SZ 1
e2e_reg_add "$E2E_POLICIES\\Explorer" NoClose REG_DWORD 0
e2e_reg_add "$E2E_POLICIES\\Explorer" NoDrives REG_DWORD 0x03FFFFFF # every drive hidden
e2e_reg_add "$E2E_POLICIES\\Explorer" KestrinUnrelated REG_SZ "not a restriction"
e2e_reg_add "$E2E_POLICIES\\System" NoDispCPL REG_DWORD 5
e2e_reg_add "$E2E_POLICIES\\Dos" Disabled REG_DWORD 1
e2e_reg_add 'HKCU\Software\KestrinE2E\Other' X REG_DWORD 1
e2e_reg delete "$E2E_POLICIES\\Network" /f >/dev/null 2>&1 || true
e2e_export "$E2E_WORK/before.reg"

state=000000000000000000000000000000000000
for ticked in 'Explorer\NoRun' 'Explorer\NoFind' 'Explorer\NoDrives' 'System\NoDispCPL' 'Dos\Disabled'; do
    state="$(e2e_flip "$state" "$(e2e_index "$ticked")")"
done
toggle() { state="$(e2e_flip "$state" "$(e2e_index "$1")")"; }

e2e_step "starting kestrin.exe"
e2e_start_kestrin
pid=$E2E_LAST_PID
e2e_window
[[ "$A_STATE" == disabled ]] || e2e_fail "\"Apply\" is enabled at start"

e2e_step "expanding Explorer with a double click on its folder"
e2e_check_view start "$state"
e2e_double_click_category 0
e2e_check_view explorer "$state"
# A click on any node enables "Apply", a category's too; it changes no restriction.
e2e_wait_window "a click on a category to enable \"Apply\"" '[[ $A_STATE == enabled ]]'

e2e_step "toggling with the mouse"
e2e_click_label "$(e2e_index 'Explorer\NoRun')"
toggle 'Explorer\NoRun'
e2e_wait_window "a click on a label to enable \"Apply\"" '[[ $A_STATE == enabled ]]'
e2e_click_image "$(e2e_index 'Explorer\NoSetFolders')"
toggle 'Explorer\NoSetFolders'
e2e_click_label "$(e2e_index 'Explorer\NoClose')" # a DWORD 0: shown empty, now ticked
toggle 'Explorer\NoClose'
e2e_check_view explorer-clicked "$state"

e2e_step "toggling with Space after arrow keys"
# The last click selected "Remove Shutdown Command" (NoClose).
e2e_key Down space # NoSaveSettings
toggle 'Explorer\NoSaveSettings'
e2e_key Down space # NoDesktop
toggle 'Explorer\NoDesktop'
e2e_key Down Down space space # past NoDrives (a mask, left alone) to NoNetHood, twice: back to empty
e2e_check_view explorer-keys "$state" "E $(e2e_index 'Explorer\NoNetHood')"

e2e_step "expanding Network with the keyboard and toggling in it"
e2e_key Home Left Down Right
E2E_EXPANDED=(0 1 0 0)
e2e_key Down space # NoNetSetup
toggle 'Network\NoNetSetup'
e2e_key Down Down Down Down Down space # NoPrintSharing
toggle 'Network\NoPrintSharing'
e2e_check_view network "$state"

e2e_step "expanding Dos with the mouse and toggling in it"
e2e_double_click_category 3
e2e_check_view dos "$state"
e2e_click_image "$(e2e_index 'Dos\Disabled')"
toggle 'Dos\Disabled'
e2e_click_label "$(e2e_index 'Dos\NoRealMode')"
toggle 'Dos\NoRealMode'
e2e_check_view dos-clicked "$state"

e2e_step "Apply, then No to the restart question"
e2e_window
e2e_click "$A_X" "$A_Y"
e2e_wait "the restart question" e2e_has_window Restart '#32770'
question="$(e2e_dialog_text Restart '#32770')"
grep -q 'Do you want to simulate a Windows reboot?' <<<"$question" ||
    e2e_fail "the restart question says: $question"
e2e_button Restart No '#32770'
e2e_click "$B_X" "$B_Y"
e2e_wait "the restart question to close" e2e_has_no_window Restart '#32770'
e2e_window
[[ "$A_STATE" == disabled ]] || e2e_fail "\"Apply\" is still enabled after Apply and No"
e2e_shot after-no
[[ "$(e2e_apply_looks after-no)" == disabled ]] || e2e_fail "\"Apply\" does not look disabled after No (after-no.png)"
e2e_check_view after-no-tree "$state"
kill -0 "$pid" 2>/dev/null || e2e_fail "the program ended after No"

e2e_step "checking the registry"
e2e_export "$E2E_WORK/after-no.reg"
e2e_expect_written "$E2E_WORK/after-no.reg" "$state" "$E2E_WORK/before.reg"
e2e_expect_only_policies_changed "$E2E_WORK/before.reg" "$E2E_WORK/after-no.reg" Network
grep -qF '"KestrinUnrelated"="not a restriction"' "$E2E_WORK/after-no.reg" || e2e_fail "the unrelated value is gone"
grep -qF $'HKEY_CURRENT_USER\\Software\\KestrinE2E\\Other\t"X"=dword:00000001' "$E2E_WORK/after-no.reg" ||
    e2e_fail "the unrelated key is gone"

e2e_step "toggling once more, Apply, then Yes to the restart question"
e2e_key Home Right Down space # Explorer expanded again, NoRun ticked again
E2E_EXPANDED=(1 1 0 1)
toggle 'Explorer\NoRun'
e2e_check_view yes-tree "$state"
e2e_wait_window "Space to enable \"Apply\" again" '[[ $A_STATE == enabled ]]'
e2e_wineserver_running || e2e_fail "cannot see this prefix's wineserver while the program runs"
e2e_click "$A_X" "$A_Y"
e2e_wait "the restart question" e2e_has_window Restart '#32770'
e2e_button Restart Yes '#32770'
e2e_click "$B_X" "$B_Y"
e2e_wait_exit "$pid"
e2e_wait "the Wine session (wineserver) to end" eval '! e2e_wineserver_running'
[[ -z "$(xdotool search --name "^$E2E_CAPTION\$" 2>/dev/null)" ]] || e2e_fail "a window \"$E2E_CAPTION\" is still on the display"

e2e_step "checking the registry after the session ended"
e2e_export "$E2E_WORK/after-yes.reg"
e2e_expect_written "$E2E_WORK/after-yes.reg" "$state" "$E2E_WORK/before.reg"
e2e_expect_only_policies_changed "$E2E_WORK/before.reg" "$E2E_WORK/after-yes.reg" Network
e2e_step "passed"
