#!/usr/bin/env bash
# A write the registry refuses: the "Dos" key is made readable only (a real access check in Wine's
# registry), "Disable MS-DOS prompt" is ticked and applied. The error box names exactly that
# restriction with the system's reason, the other restrictions are still written, "Apply" stays
# enabled, and no restart question comes.
source "$(dirname "$0")/lib.sh" refused "$@"

e2e_setup

e2e_step "presetting the registry"
e2e_reg_add "$E2E_POLICIES\\Explorer" NoRun REG_DWORD 1
e2e_reg delete "$E2E_POLICIES\\Dos" /f >/dev/null 2>&1 || true
e2e_export "$E2E_WORK/before.reg"

state=000000000000000000000000000000000000
state="$(e2e_flip "$state" "$(e2e_index 'Explorer\NoRun')")"
toggle() { state="$(e2e_flip "$state" "$(e2e_index "$1")")"; }

e2e_step "starting kestrin.exe, then locking the Dos key"
e2e_start_kestrin
pid=$E2E_LAST_PID
e2e_window
# The lock lives in the running Wine session (Wine keeps no key security on disk), so it is set
# while the program runs.
e2e_probe lock-key 'Software\Microsoft\Windows\CurrentVersion\Policies\Dos' || e2e_fail "could not lock the Dos key"
if e2e_reg add "$E2E_POLICIES\\Dos" /v Probe /t REG_DWORD /d 1 /f >/dev/null 2>&1; then
    e2e_fail "the Dos key still takes values after the lock"
fi

e2e_step "ticking Disable MS-DOS prompt and Hide Find Menu, then Apply"
e2e_view start
e2e_double_click_category 3
e2e_view dos
e2e_click_label "$(e2e_index 'Dos\Disabled')"
toggle 'Dos\Disabled'
e2e_double_click_category 0
e2e_view explorer
e2e_click_image "$(e2e_index 'Explorer\NoFind')"
toggle 'Explorer\NoFind'
e2e_check_view explorer-clicked "$state"
e2e_window
e2e_click "$A_X" "$A_Y"

e2e_step "checking the error box"
e2e_wait "the error box" e2e_has_window "$E2E_CAPTION" '#32770'
e2e_has_no_window Restart '#32770' || e2e_fail "the restart question came although a write failed"
text="$(e2e_dialog_text "$E2E_CAPTION" '#32770')"
printf '[%s]   error box: %s\n' "$E2E_CASE" "${text//$'\n'/ | }"
grep -qF 'This restriction was not saved:' <<<"$text" || e2e_fail "the error box does not say one restriction was not saved"
named="$(grep -E ' \([A-Za-z]+\\[A-Za-z]+\): ' <<<"$text" || true)"
count="$(grep -cE ' \([A-Za-z]+\\[A-Za-z]+\): ' <<<"$text" || true)"
[[ "$count" == 1 ]] || e2e_fail "the error box names $count restrictions, expected 1: ${named//$'\n'/ | }"
[[ "$named" == 'Disable MS-DOS prompt (Dos\Disabled): '?* ]] ||
    e2e_fail "the error box names \"$named\", expected \"Disable MS-DOS prompt (Dos\\Disabled): <reason>\""

e2e_button "$E2E_CAPTION" OK '#32770'
e2e_click "$B_X" "$B_Y"
e2e_wait "the error box to close" e2e_has_no_window "$E2E_CAPTION" '#32770'
sleep 1 # a restart question, if one were to follow, would show now
e2e_has_no_window Restart '#32770' || e2e_fail "the restart question came after the error box"
e2e_window
[[ "$A_STATE" == enabled ]] || e2e_fail "\"Apply\" is disabled after a failed write"
e2e_shot after-error
[[ "$(e2e_apply_looks after-error)" == enabled ]] || e2e_fail "\"Apply\" does not look enabled after a failed write"

e2e_step "checking the registry"
e2e_export "$E2E_WORK/after.reg"
saved="$(e2e_flip "$state" "$(e2e_index 'Dos\Disabled')")" # all but the refused one
e2e_expect_written "$E2E_WORK/after.reg" "$saved"
e2e_expect_only_policies_changed "$E2E_WORK/before.reg" "$E2E_WORK/after.reg" Dos

e2e_step "leaving with Exit"
e2e_click "$E_X" "$E_Y"
e2e_wait_exit "$pid"
[[ $E2E_EXIT -eq 0 ]] || e2e_fail "kestrin.exe ended with exit code $E2E_EXIT"
e2e_step "passed"
