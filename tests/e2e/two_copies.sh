#!/usr/bin/env bash
# Two copies at once on the same registry: each shows what the registry held when it started, each
# "Apply" writes that copy's whole tree (so the later one wins), and both run on and end cleanly.
source "$(dirname "$0")/lib.sh" two_copies "$@"

e2e_setup

e2e_step "presetting the registry"
e2e_reg_add "$E2E_POLICIES\\Explorer" NoRun REG_DWORD 1
e2e_export "$E2E_WORK/before.reg"

initial=000000000000000000000000000000000000
initial="$(e2e_flip "$initial" "$(e2e_index 'Explorer\NoRun')")"
flip() { e2e_flip "$1" "$(e2e_index "$2")"; }

# Ticks restriction NAME of Explorer with the keyboard in the window whose tree has the focus and
# every category collapsed; collapses Explorer again.
tick_in_explorer() { # NAME
    local i downs=()
    for ((i = 0; i <= $(e2e_index "$1"); i++)); do downs+=(Down); done
    e2e_key Home Right "${downs[@]}" space Home Left
}

apply_and_answer_no() { # SHOT
    e2e_window "$1"
    e2e_click "$A_X" "$A_Y"
    e2e_wait "the restart question" e2e_has_window Restart '#32770'
    e2e_button Restart No '#32770'
    e2e_click "$B_X" "$B_Y"
    e2e_wait "the restart question to close" e2e_has_no_window Restart '#32770'
    e2e_window "$1"
    [[ "$A_STATE" == disabled ]] || e2e_fail "\"Apply\" is still enabled after Apply and No"
}

e2e_step "first copy: start, move aside, tick Hide Find Menu, Apply"
e2e_start_kestrin
first_pid=$E2E_LAST_PID
e2e_window
start_x=$W_X
e2e_drag_window -320
first_x=$((start_x - 320))
e2e_window "$first_x"
e2e_click $((T_X + 150)) $((T_Y + 150)) # empty space in the collapsed tree: focus, no toggle
tick_in_explorer 'Explorer\NoFind'
first="$(flip "$initial" 'Explorer\NoFind')"
apply_and_answer_no "$first_x"
e2e_export "$E2E_WORK/after-first.reg"
e2e_expect_written "$E2E_WORK/after-first.reg" "$first"

e2e_step "second copy: start, read its tree"
e2e_start_kestrin
second_pid=$E2E_LAST_PID
e2e_window "$start_x"
second_x=$W_X
e2e_click $((T_X + 150)) $((T_Y + 150))
e2e_read_tree second-start
e2e_expect_tree "$E2E_TREE" "$first" "the second copy does not show what the first one applied"

e2e_step "second copy: tick Remove Shutdown Command, Apply"
tick_in_explorer 'Explorer\NoClose'
second="$(flip "$first" 'Explorer\NoClose')"
apply_and_answer_no "$second_x"
e2e_export "$E2E_WORK/after-second.reg"
e2e_expect_written "$E2E_WORK/after-second.reg" "$second"

e2e_step "first copy: still shows its own start, tick Hide Folders in Settings Menu, Apply"
e2e_window "$first_x"
e2e_click $((T_X + 150)) $((T_Y + 150))
e2e_read_tree first-again
e2e_expect_tree "$E2E_TREE" "$first" "the first copy's tree changed while the second one applied"
tick_in_explorer 'Explorer\NoSetFolders'
last="$(flip "$first" 'Explorer\NoSetFolders')"
apply_and_answer_no "$first_x"
e2e_export "$E2E_WORK/after-last.reg"
e2e_expect_written "$E2E_WORK/after-last.reg" "$last" # NoClose, which only the second copy ticked, is gone
e2e_expect_only_policies_changed "$E2E_WORK/before.reg" "$E2E_WORK/after-last.reg"

e2e_step "both still run; leaving both with Exit"
kill -0 "$first_pid" 2>/dev/null || e2e_fail "the first copy ended"
kill -0 "$second_pid" 2>/dev/null || e2e_fail "the second copy ended"
[[ "$(e2e_main_window_count)" == 2 ]] || e2e_fail "there are not two windows"
e2e_window "$second_x"
e2e_click "$E_X" "$E_Y"
e2e_wait_exit "$second_pid"
[[ $E2E_EXIT -eq 0 ]] || e2e_fail "the second copy ended with exit code $E2E_EXIT"
e2e_window "$first_x"
e2e_click "$E_X" "$E_Y"
e2e_wait_exit "$first_pid"
[[ $E2E_EXIT -eq 0 ]] || e2e_fail "the first copy ended with exit code $E2E_EXIT"
if grep -qiE 'unhandled|exception|crash' "$E2E_WORK/kestrin.log"; then
    e2e_fail "Wine reported a crash: $(head -5 "$E2E_WORK/kestrin.log")"
fi
e2e_export "$E2E_WORK/after-exit.reg"
e2e_expect_same_export "$E2E_WORK/after-last.reg" "$E2E_WORK/after-exit.reg" "Exit changed the registry"
e2e_step "passed"
