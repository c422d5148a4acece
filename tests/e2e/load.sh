#!/usr/bin/env bash
# What the tree shows at start for values of every kind, and that starting and looking writes
# nothing: a DWORD 0 and a missing value or key show an empty box; any other value, whatever its
# type, shows a tick.
source "$(dirname "$0")/lib.sh" load "$@"

e2e_setup

e2e_step "presetting the registry"
e2e_reg_add "$E2E_POLICIES\\Explorer" NoRun REG_DWORD 1
e2e_reg_add "$E2E_POLICIES\\Explorer" NoFind REG_SZ 1
e2e_reg_add "$E2E_POLICIES\\Explorer" NoClose REG_DWORD 0
e2e_reg_add "$E2E_POLICIES\\Explorer" NoDrives REG_DWORD 67108863
e2e_reg_add "$E2E_POLICIES\\Explorer" NoNetHood REG_SZ 0
e2e_reg_add "$E2E_POLICIES\\Explorer" KestrinUnrelated REG_SZ "not a restriction"
e2e_reg_add "$E2E_POLICIES\\System" NoDevMgrPage REG_BINARY 00000000
e2e_reg_add "$E2E_POLICIES\\System" NoSecCPL REG_DWORD 0
e2e_reg_add "$E2E_POLICIES\\Dos" Disabled REG_DWORD 1
e2e_reg_add 'HKCU\Software\KestrinE2E\Other' X REG_DWORD 1
e2e_reg delete "$E2E_POLICIES\\Network" /f >/dev/null 2>&1 || true
e2e_key_exists "$E2E_POLICIES\\Network" && e2e_fail "could not remove the Network key before the start"
e2e_export "$E2E_WORK/before.reg"

expected=000000000000000000000000000000000000
for ticked in 'Explorer\NoRun' 'Explorer\NoFind' 'Explorer\NoDrives' 'Explorer\NoNetHood' \
    'System\NoDevMgrPage' 'Dos\Disabled'; do
    expected="$(e2e_flip "$expected" "$(e2e_index "$ticked")")"
done

e2e_step "starting kestrin.exe"
e2e_start_kestrin
pid=$E2E_LAST_PID
e2e_window
[[ $W_W -gt 0 && $C_X -ge 0 ]] || e2e_fail "the window is off screen"
[[ "$A_STATE" == disabled ]] || e2e_fail "\"Apply\" is enabled at start"
[[ "$W_FOCUS" == Exit ]] || e2e_fail "the focus at start is on \"$W_FOCUS\", expected \"Exit\""
e2e_shot start
[[ "$(e2e_apply_looks start)" == disabled ]] || e2e_fail "\"Apply\" does not look disabled at start (start.png)"

e2e_step "reading the tree"
e2e_click $((T_X + 150)) $((T_Y + 150)) # empty space in the tree: takes the focus, toggles nothing
e2e_read_tree tree
e2e_expect_tree "$E2E_TREE" "$expected" "the tree at start does not match the registry"
e2e_window
[[ "$A_STATE" == disabled ]] || e2e_fail "\"Apply\" became enabled by expanding, scrolling and selecting"

e2e_step "checking that loading wrote nothing"
e2e_export "$E2E_WORK/loaded.reg"
e2e_expect_same_export "$E2E_WORK/before.reg" "$E2E_WORK/loaded.reg" "starting the program changed the registry"
e2e_key_exists "$E2E_POLICIES\\Network" && e2e_fail "starting the program created the Network key"

e2e_step "leaving with Exit"
e2e_click "$E_X" "$E_Y"
e2e_wait_exit "$pid"
[[ $E2E_EXIT -eq 0 ]] || e2e_fail "kestrin.exe ended with exit code $E2E_EXIT"
e2e_export "$E2E_WORK/after.reg"
e2e_expect_same_export "$E2E_WORK/before.reg" "$E2E_WORK/after.reg" "Exit changed the registry"
e2e_step "passed"
