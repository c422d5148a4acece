#!/usr/bin/env bash
# Leaving without "Apply" writes nothing: after toggling, "Exit" and the caption's close box both
# end the program with the registry as it was. Enter and Escape do nothing, whether "Exit", "Apply" or
# the tree has the focus, also after Tab and Shift+Tab: the window stays, nothing is written. Started
# maximized or minimized, the window opens normal, where and as large as it always does.
source "$(dirname "$0")/lib.sh" no_write "$@"

e2e_setup

e2e_step "presetting the registry"
e2e_reg_add "$E2E_POLICIES\\Explorer" NoRun REG_DWORD 1
e2e_reg_add "$E2E_POLICIES\\Explorer" NoClose REG_DWORD 0
e2e_reg_add "$E2E_POLICIES\\Dos" Disabled REG_DWORD 1
e2e_export "$E2E_WORK/before.reg"

state=000000000000000000000000000000000000
for ticked in 'Explorer\NoRun' 'Dos\Disabled'; do state="$(e2e_flip "$state" "$(e2e_index "$ticked")")"; done

# Presses Enter and Escape, then checks that the window is still there, alone, unchanged.
press_enter_and_escape() { # FOCUS-EXPECTED APPLY-EXPECTED
    e2e_key Return
    e2e_key Escape
    sleep 1 # a reaction, if any, would be a window closing or opening: give it time to show
    local count
    count="$(e2e_probe windows "$E2E_CAPTION" | grep -c '^window ' || true)"
    [[ "$count" == 1 ]] || e2e_fail "after Enter and Escape there are $count windows \"$E2E_CAPTION\", expected 1"
    e2e_has_no_window Restart '#32770' || e2e_fail "Enter or Escape brought up the restart question"
    e2e_window
    [[ "$W_FOCUS" == "$1" ]] || e2e_fail "after Enter and Escape the focus is on \"$W_FOCUS\", expected \"$1\""
    [[ "$A_STATE" == "$2" ]] || e2e_fail "after Enter and Escape \"Apply\" is $A_STATE, expected $2"
    kill -0 "$pid" 2>/dev/null || e2e_fail "Enter or Escape ended the program"
}

e2e_step "Enter and Escape while \"Exit\" has the focus"
e2e_start_kestrin
pid=$E2E_LAST_PID
e2e_window
[[ "$W_FOCUS" == Exit ]] || e2e_fail "the focus at start is on \"$W_FOCUS\", expected \"Exit\""
# A click on the window's own background gives it the keyboard without moving the focus.
e2e_click $((C_X + 10)) $((C_Y + 240))
e2e_window
[[ "$W_FOCUS" == Exit ]] || e2e_fail "a click on the window's background moved the focus to \"$W_FOCUS\""
press_enter_and_escape Exit disabled
# The keys did reach the window: Tab moves the focus on ("Apply" is disabled, so to the tree).
e2e_key Tab
e2e_wait_window "Tab to move the focus from \"Exit\" to the tree" '[[ $W_FOCUS == tree ]]'

e2e_step "toggling, then Enter and Escape while the tree has the focus"
e2e_view start
e2e_double_click_category 0
e2e_view explorer
e2e_click_label "$(e2e_index 'Explorer\NoRun')"
state_shown="$(e2e_flip "$state" "$(e2e_index 'Explorer\NoRun')")"
e2e_click_image "$(e2e_index 'Explorer\NoClose')"
state_shown="$(e2e_flip "$state_shown" "$(e2e_index 'Explorer\NoClose')")"
e2e_check_view explorer-clicked "$state_shown"
press_enter_and_escape tree enabled
# Tab onto a button makes it the dialog manager's default; Enter must press it all the same.
e2e_key shift+Tab
e2e_wait_window "Shift+Tab to move the focus from the tree to \"Apply\"" '[[ $W_FOCUS == Apply ]]'
press_enter_and_escape Apply enabled
e2e_key shift+Tab
e2e_wait_window "Shift+Tab to move the focus to \"Exit\"" '[[ $W_FOCUS == Exit ]]'
press_enter_and_escape Exit enabled
e2e_key Tab Tab
e2e_wait_window "Tab to move the focus back to the tree" '[[ $W_FOCUS == tree ]]'
# The keys did reach the tree: Space toggles the selected entry (the last one clicked) back.
e2e_key space
state_shown="$(e2e_flip "$state_shown" "$(e2e_index 'Explorer\NoClose')")"
e2e_check_view explorer-space "$state_shown"
e2e_export "$E2E_WORK/after-keys.reg"
e2e_expect_same_export "$E2E_WORK/before.reg" "$E2E_WORK/after-keys.reg" "toggling, Enter or Escape changed the registry"

normal_frame="$W_X,$W_Y ${W_W}x$W_H"

e2e_step "leaving with Exit"
e2e_click "$E_X" "$E_Y"
e2e_wait_exit "$pid"
[[ $E2E_EXIT -eq 0 ]] || e2e_fail "kestrin.exe ended with exit code $E2E_EXIT after Exit"
e2e_export "$E2E_WORK/after-exit.reg"
e2e_expect_same_export "$E2E_WORK/before.reg" "$E2E_WORK/after-exit.reg" "Exit after toggling changed the registry"

e2e_step "toggling, then leaving with the close box"
E2E_EXPANDED=(0 0 0 0)
e2e_start_kestrin
pid=$E2E_LAST_PID
e2e_window
e2e_view start2
e2e_double_click_category 3
e2e_view dos
e2e_click_label "$(e2e_index 'Dos\Disabled')"
e2e_click_image "$(e2e_index 'Dos\NoRealMode')"
e2e_wait_window "toggling to enable \"Apply\"" '[[ $A_STATE == enabled ]]'
e2e_click_close_box
e2e_wait_exit "$pid"
[[ $E2E_EXIT -eq 0 ]] || e2e_fail "kestrin.exe ended with exit code $E2E_EXIT after the close box"
e2e_has_no_main_window || e2e_fail "the window is still there after the close box"
e2e_export "$E2E_WORK/after-close.reg"
e2e_expect_same_export "$E2E_WORK/before.reg" "$E2E_WORK/after-close.reg" "the close box after toggling changed the registry"
for show in /max /min; do
    e2e_step "started with start $show: opens normal, centred, at its own size"
    e2e_start_kestrin "$show"
    pid=$E2E_LAST_PID
    e2e_window
    [[ "$W_X,$W_Y ${W_W}x$W_H" == "$normal_frame" ]] ||
        e2e_fail "started with $show the frame is $W_X,$W_Y ${W_W}x$W_H, expected $normal_frame"
    e2e_shot "start${show#/}"
    e2e_click "$E_X" "$E_Y"
    e2e_wait_exit "$pid"
done
e2e_export "$E2E_WORK/after-show.reg"
e2e_expect_same_export "$E2E_WORK/before.reg" "$E2E_WORK/after-show.reg" "starting and leaving changed the registry"
e2e_step "passed"
