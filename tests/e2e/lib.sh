# Shared by the end-to-end cases. Each case sources it as
#   source lib.sh CASE KESTRIN_EXE TOOLS_DIR PROBE_EXE
# and gets its own virtual display (Xvfb) and its own Wine prefix, copied from a template made once
# per build tree, so cases can run side by side without their input reaching each other's windows.
# Everything a case leaves behind (screenshots, registry exports, logs) is in BUILD/e2e/CASE.
#
# The tree is read from screenshots: each row of the tree is 16 pixels high at 96 DPI; a row shows
# a folder (a category), a ticked box (dark and bright green tick inside a box with light grey
# edges) or an empty box. Which row shows which node is worked out from where the folders are.

set -Eeuo pipefail

E2E_CASE="$1"
KESTRIN_EXE="$(readlink -f "$2")"
E2E_TOOLS="$(readlink -f "$3")"
E2E_PROBE="$(readlink -f "$4")"
shift 4

# shellcheck source=../../tools/wine-env.sh
source "$E2E_TOOLS/wine-env.sh"

E2E_BUILD="$(kestrin_build_tree "$KESTRIN_EXE")"
E2E_WORK="$E2E_BUILD/e2e/$E2E_CASE"
E2E_TEMPLATE="$E2E_BUILD/wine/e2e-template"
export WINEPREFIX="$E2E_BUILD/wine/e2e-$E2E_CASE"
kestrin_wine_quiet

E2E_POLICIES='HKCU\Software\Microsoft\Windows\CurrentVersion\Policies'
E2E_CAPTION='Windows Kestrin'
E2E_CATEGORIES=(Explorer Network System Dos)
E2E_FIRST=(0 15 21 34) # index of each category's first restriction
E2E_COUNT=(15 6 13 2)
# The 36 restrictions in tree order, as Category\ValueName.
E2E_VALUES=(
    'Explorer\NoRun' 'Explorer\NoFind' 'Explorer\NoSetFolders' 'Explorer\NoSetTaskbar'
    'Explorer\NoRecentDocsHistory' 'Explorer\ClearRecentDocsHistory' 'Explorer\NoDeletePrinter'
    'Explorer\NoAddPrinter' 'Explorer\NoClose' 'Explorer\NoSaveSettings' 'Explorer\NoDesktop'
    'Explorer\NoDrives' 'Explorer\NoNetHood' 'Explorer\NoInternetIcon' 'Explorer\NoPrinterTabs'
    'Network\NoNetSetup' 'Network\NoNetSetupIDPage' 'Network\NoNetSetupSecurityPage'
    'Network\NoFileSharingControl' 'Network\NoFileSharing' 'Network\NoPrintSharing'
    'System\NoDispCPL' 'System\NoDispBackgroundPage' 'System\NoDispScrSavPage' 'System\NoDispApperancePage'
    'System\NoDispSettingPage' 'System\NoConfigPage' 'System\NoDevMgrPage' 'System\NoFileSysPage'
    'System\NoVirtMemPage' 'System\NoAdminPage' 'System\NoProfilePage' 'System\NoPwdPage' 'System\NoSecCPL'
    'Dos\Disabled' 'Dos\NoRealMode'
)

E2E_TIMEOUT=30 # seconds for any single wait
E2E_PIDS=()
E2E_XVFB_PID=""
mkdir -p "$E2E_WORK"
rm -f "$E2E_WORK"/*

# ---------------------------------------------------------------------------------------------
# Reporting

e2e_step() { printf '[%s %3d s] %s\n' "$E2E_CASE" "$SECONDS" "$*"; }

e2e_fail() {
    trap - ERR
    set +e
    printf '[%s] FAIL: %s\n' "$E2E_CASE" "$*" >&2
    if [[ -n "${DISPLAY:-}" ]]; then
        import -window root "$E2E_WORK/failure.png" 2>/dev/null &&
            printf '[%s] screen at the failure: %s\n' "$E2E_CASE" "$E2E_WORK/failure.png" >&2
        {
            printf '[%s] windows at the failure:\n' "$E2E_CASE"
            e2e_probe windows "$E2E_CAPTION" 2>/dev/null
            e2e_probe windows Restart 2>/dev/null
        } >&2 || true
    fi
    exit 1
}

# ---------------------------------------------------------------------------------------------
# Display, prefix, cleanup

e2e_cleanup() {
    local status=$?
    trap - ERR
    set +e
    # Ends every Wine process of this case's prefix, then the display.
    if [[ -d "$WINEPREFIX" ]]; then wineserver -k 2>/dev/null; fi
    for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${E2E_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    if [[ -n "$E2E_XVFB_PID" ]]; then
        kill "$E2E_XVFB_PID" 2>/dev/null
        wait "$E2E_XVFB_PID" 2>/dev/null
    fi
    rm -f "$E2E_BUILD/wine/e2e-$E2E_CASE.xvfb" "$E2E_WORK"/*.ppm
    [[ "${KESTRIN_E2E_KEEP:-0}" == 1 ]] || rm -rf "$WINEPREFIX"
    exit "$status"
}
trap e2e_cleanup EXIT
trap 'exit 143' TERM INT # stopped by ctest's timeout: clean up all the same
trap 'e2e_fail "unexpected failure of \"$BASH_COMMAND\" (line $LINENO)"' ERR

e2e_start_display() {
    kestrin_private_display || e2e_fail "Xvfb did not start"
    E2E_XVFB_PID=$KESTRIN_XVFB_PID
    # tools/test stops what a killed case leaves behind.
    echo "$E2E_XVFB_PID $DISPLAY" >"$E2E_BUILD/wine/e2e-$E2E_CASE.xvfb"
}

# A fresh prefix for this case: a copy of the template, made the first time (about 20 s).
e2e_fresh_prefix() {
    if [[ -d "$WINEPREFIX" ]]; then wineserver -k 2>/dev/null || true; fi
    rm -rf "$WINEPREFIX"
    (WINEPREFIX="$E2E_TEMPLATE" kestrin_make_prefix 96)
    cp -a "$E2E_TEMPLATE" "$WINEPREFIX"
}

e2e_setup() {
    mkdir -p "$E2E_BUILD/wine"
    e2e_start_display
    e2e_fresh_prefix
    e2e_step "display $DISPLAY, prefix $WINEPREFIX"
}

# ---------------------------------------------------------------------------------------------
# Registry

e2e_reg() { wine reg "$@" 2> >(kestrin_wine_noise_filter >&2); }

e2e_reg_add() { # KEY VALUE TYPE DATA
    e2e_reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null || e2e_fail "could not preset $1\\$2"
}

e2e_key_exists() { e2e_reg query "$1" >/dev/null 2>&1; }

# Exports HKCU into FILE as sorted lines "KEY<TAB>VALUE-LINE" (a key alone: "KEY<TAB>"), so that two
# exports compare line by line. Wine's own run-time key "Software\Wine\Temporary System Parameters"
# (it appears when Wine first sees the mouse) is left out.
e2e_export() {
    local raw="$E2E_WORK/export.tmp"
    e2e_reg export HKCU "$raw" /y >/dev/null || e2e_fail "wine reg export HKCU failed"
    iconv -f UTF-16LE -t UTF-8 "$raw" | tr -d '\r' | sed '1s/^\xEF\xBB\xBF//' | awk '
        /^\[/ { key = substr($0, 2, length($0) - 2); print key "\t"; next }
        /^[ \t]*$/ { next }
        NR == 1 { next }
        {
            line = $0
            while (line ~ /\\$/ && (getline more) > 0) { sub(/\\$/, "", line); sub(/^ +/, "", more); line = line more }
            print key "\t" line
        }' | grep -v -i '^HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters' | LC_ALL=C sort >"$1"
    rm -f "$raw"
}

# The data of one restriction in an export, "absent" if the value is not there.
e2e_policy_data() { # EXPORT CATEGORY\NAME
    local key="HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\${2%%\\*}"
    local name="${2#*\\}" line
    line="$(awk -F'\t' -v k="$key" -v n="\"$name\"=" 'tolower($1) == tolower(k) && index($2, n) == 1 { print substr($2, length(n) + 1) }' "$1")"
    printf '%s\n' "${line:-absent}"
}

# Checks that the 36 values in EXPORT are exactly what STATE (36 characters, 1 on, 0 off) says:
# on is the value as it was in BEFORE when it was on there already, else REG_DWORD 1; off is no value.
e2e_expect_written() { # EXPORT STATE [BEFORE]
    local i data old want bad=0
    for ((i = 0; i < 36; i++)); do
        data="$(e2e_policy_data "$1" "${E2E_VALUES[i]}")"
        old=absent
        [[ -n "${3:-}" ]] && old="$(e2e_policy_data "$3" "${E2E_VALUES[i]}")"
        if [[ "${2:i:1}" == 1 ]]; then
            want='dword:00000001'
            [[ "$old" != absent && "$old" != 'dword:00000000' ]] && want="$old"
        else
            want=absent
        fi
        if [[ "$data" != "$want" ]]; then
            printf '[%s]   %s is %s, expected %s\n' "$E2E_CASE" "${E2E_VALUES[i]}" "$data" "$want" >&2
            bad=1
        fi
    done
    [[ $bad -eq 0 ]] || e2e_fail "the registry does not hold what the tree showed when Apply was pressed"
}

# Checks that two exports differ only in restriction values (the 36 value names under the four
# category keys) and in the category keys named in ALLOWED_KEYS (e.g. "Network" that Apply created).
e2e_expect_only_policies_changed() { # BEFORE AFTER [ALLOWED_KEYS...]
    local before="$1" after="$2" line key rest name ok
    shift 2
    local diff_lines
    diff_lines="$(LC_ALL=C comm -3 "$before" "$after" | sed 's/^\t//')"
    [[ -z "$diff_lines" ]] && return 0
    local bad=0
    while IFS= read -r line; do
        key="${line%%$'\t'*}"
        rest="${line#*$'\t'}"
        ok=0
        case "${key,,}" in
        'hkey_current_user\software\microsoft\windows\currentversion\policies\'*)
            local category="${key##*\\}"
            if [[ -z "$rest" ]]; then
                for allowed in "$@"; do [[ "${category,,}" == "${allowed,,}" ]] && ok=1; done
            else
                name="${rest#\"}"
                name="${name%%\"=*}"
                for v in "${E2E_VALUES[@]}"; do [[ "${v,,}" == "${category,,}\\${name,,}" ]] && ok=1; done
            fi
            ;;
        esac
        if [[ $ok -eq 0 ]]; then
            printf '[%s]   unexpected change: %s\n' "$E2E_CASE" "$line" >&2
            bad=1
        fi
    done <<<"$diff_lines"
    [[ $bad -eq 0 ]] || e2e_fail "the registry changed outside the restriction values"
}

e2e_expect_same_export() { # BEFORE AFTER WHAT
    if ! cmp -s "$1" "$2"; then
        LC_ALL=C comm -3 "$1" "$2" | head -20 | sed "s/^/[$E2E_CASE]   /" >&2
        e2e_fail "$3"
    fi
}

# ---------------------------------------------------------------------------------------------
# Windows

e2e_probe() { wine "$E2E_PROBE" "$@" 2> >(kestrin_wine_noise_filter >&2); }

# Waits until COMMAND succeeds, at most E2E_TIMEOUT seconds.
e2e_wait() { # DESCRIPTION COMMAND...
    local what="$1" deadline=$((SECONDS + E2E_TIMEOUT))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || e2e_fail "timed out after ${E2E_TIMEOUT} s waiting for $what"
        sleep 0.1
    done
}

e2e_main_window_count() {
    e2e_probe windows "$E2E_CAPTION" 2>/dev/null | grep -c '^window class=KestrinMainWindow ' || true
}
e2e_has_main_windows() { [[ "$(e2e_main_window_count)" -ge "$1" ]]; }
e2e_has_no_main_window() { [[ "$(e2e_main_window_count)" -eq 0 ]]; }
e2e_has_window() { e2e_probe windows "$1" 2>/dev/null | grep -q "^window class=$2 "; }
e2e_has_no_window() { ! e2e_has_window "$@"; }

# Starts kestrin.exe and waits for one more main window; its process id is E2E_LAST_PID.
e2e_start_kestrin() { # [SHOW]   SHOW: /max or /min, as `start` gives it (a shortcut's "Run" setting)
    local before
    local -a command=(wine "$KESTRIN_EXE")
    [[ -n "${1:-}" ]] && command=(wine start "$1" /wait /unix "$KESTRIN_EXE") # /unix takes the next word as the path
    before="$(e2e_main_window_count)"
    "${command[@]}" >>"$E2E_WORK/kestrin.log" 2> >(kestrin_wine_noise_filter >>"$E2E_WORK/kestrin.log") &
    E2E_LAST_PID=$!
    E2E_PIDS+=("$E2E_LAST_PID")
    e2e_wait "the window \"$E2E_CAPTION\"" e2e_has_main_windows $((before + 1))
}

# Reads the main window (the topmost one, or the one whose frame starts at X) into:
#   W_X W_Y W_W W_H   frame          C_X C_Y   client origin
#   T_X T_Y           tree           A_X A_Y A_STATE   "Apply" centre and enabled/disabled
#   E_X E_Y           "Exit" centre  W_FOCUS   text of the focused control ("tree" for the tree)
e2e_window() { # [X]
    local out block
    out="$(e2e_probe windows "$E2E_CAPTION")" || e2e_fail "no window \"$E2E_CAPTION\""
    block="$(awk -v x="${1:-}" '
        /^window / { take = 0 }
        /^window class=KestrinMainWindow / {
            split($3, f, /[=,x]/)
            if (!done && (x == "" || f[2] == x)) { take = 1; done = 1 }
        }
        take' <<<"$out")"
    [[ -n "$block" ]] || e2e_fail "no main window${1:+ at x=$1}: $out"
    local f c
    W_X="" C_X="" T_X="" A_X="" E_X=""
    read -r W_X W_Y W_W W_H < <(sed -nE '1s/.* frame=([-0-9]+),([-0-9]+),([0-9]+)x([0-9]+).*/\1 \2 \3 \4/p' <<<"$block") || true
    read -r C_X C_Y < <(sed -nE '1s/.* client=([-0-9]+),([-0-9]+),.*/\1 \2/p' <<<"$block") || true
    f="$(grep ' class=SysTreeView32 ' <<<"$block" || true)"
    read -r T_X T_Y < <(sed -nE 's/.* rect=([-0-9]+),([-0-9]+),.*/\1 \2/p' <<<"$f") || true
    c="$(grep ' text=Apply$' <<<"$block" || true)"
    read -r A_X A_Y < <(sed -nE 's/.* rect=([-0-9]+),([-0-9]+),([0-9]+)x([0-9]+).*/\1 \2/p' <<<"$c") || true
    [[ -n "$W_X" && -n "$C_X" && -n "$T_X" && -n "$A_X" ]] || e2e_fail "could not read the window: $block"
    A_X=$((A_X + 50))
    A_Y=$((A_Y + 12))
    if grep -q ' enabled' <<<"$c"; then A_STATE=enabled; else A_STATE=disabled; fi
    c="$(grep ' text=Exit$' <<<"$block" || true)"
    read -r E_X E_Y < <(sed -nE 's/.* rect=([-0-9]+),([-0-9]+),.*/\1 \2/p' <<<"$c") || true
    [[ -n "$E_X" ]] || e2e_fail "could not find \"Exit\": $block"
    E_X=$((E_X + 50))
    E_Y=$((E_Y + 12))
    c="$(grep ' focus text=' <<<"$block" || true)"
    if [[ -z "$c" ]]; then
        W_FOCUS=""
    elif grep -q 'class=SysTreeView32' <<<"$c"; then
        W_FOCUS=tree
    else
        W_FOCUS="${c##* text=}"
    fi
}

# Waits until CONDITION, a shell test over what e2e_window reads (A_STATE, W_FOCUS, ...), holds for
# the main window (the topmost, or the one at X): for changes that follow input, which Wine handles
# a moment later.
e2e_wait_window() { # WHAT CONDITION [X]
    local deadline=$((SECONDS + E2E_TIMEOUT))
    while :; do
        e2e_window "${3:-}"
        eval "$2" && return 0
        ((SECONDS < deadline)) ||
            e2e_fail "timed out waiting for $1 (\"Apply\" is $A_STATE, the focus is on \"$W_FOCUS\")"
        sleep 0.1
    done
}

# The centre of the button TEXT (without its "&" mnemonic mark) in the topmost window titled TITLE
# (and of class CLASS, if given): sets B_X B_Y.
e2e_button() { # TITLE TEXT [CLASS]
    local line
    line="$(e2e_probe windows "$1" | awk -v c="${3:-}" '
        /^window / { n++; want = (!found && (c == "" || index($0, "class=" c " ") > 0)); if (want) found = 1 }
        want' | sed 's/&//g' | grep " class=Button .* text=$2\$" | head -1 || true)"
    [[ -n "$line" ]] || e2e_fail "no button \"$2\" in a window \"$1\""
    read -r B_X B_Y < <(sed -nE 's/.* rect=([-0-9]+),([-0-9]+),([0-9]+)x([0-9]+).*/\1 \2 \3 \4/p' <<<"$line" |
        awk '{ print $1 + int($3 / 2), $2 + int($4 / 2) }')
}

# The texts of the static controls of the topmost window titled TITLE and of class CLASS, line by
# line.
e2e_dialog_text() { # TITLE CLASS
    e2e_probe windows "$1" | awk -v c="$2" '
        /^window / { want = (!found && index($0, "class=" c " ") > 0); if (want) found = 1; static = 0; next }
        !want { next }
        /^  control / { static = (index($0, " class=Static ") > 0); if (static) print substr($0, index($0, " text=") + 6); next }
        /^    \| / { if (static) print substr($0, 7) }'
}

# ---------------------------------------------------------------------------------------------
# Input. Without a window manager the keyboard follows the pointer or the last click, so the
# pointer is parked on the main window's own background (left of "Apply") after each click.

e2e_park() { xdotool mousemove $((C_X + 10)) $((C_Y + 240)); }
e2e_click() { xdotool mousemove "$1" "$2" click 1; e2e_park; }
e2e_key() { xdotool key --delay 60 "$@"; }

# Moves the main window by DX pixels, dragging its caption (Wine moves it as it would on Windows).
e2e_drag_window() { # DX
    xdotool mousemove $((W_X + 100)) $((W_Y + 10)) mousedown 1 sleep 0.2 \
        mousemove $((W_X + 100 + $1 / 2)) $((W_Y + 10)) sleep 0.2 \
        mousemove $((W_X + 100 + $1)) $((W_Y + 10)) sleep 0.2 mouseup 1
}

# The close box at the right end of the caption that Wine draws.
e2e_click_close_box() { e2e_click $((W_X + W_W - 14)) $((W_Y + 12)); }

# ---------------------------------------------------------------------------------------------
# Screenshots

# Takes a screenshot of the main window (its frame) once it has stopped changing (three equal
# captures in a row):
# E2E_WORK/NAME.ppm for the checks (removed at the end), E2E_WORK/NAME.png for people.
e2e_shot() { # NAME
    local out="$E2E_WORK/$1.ppm" tmp="$E2E_WORK/$1.next.ppm" i area="${W_W}x${W_H}+${W_X}+${W_Y}"
    local same=0
    import -window root -crop "$area" -depth 8 "$out"
    for ((i = 0; i < 50 && same < 2; i++)); do
        sleep 0.08
        import -window root -crop "$area" -depth 8 "$tmp"
        if cmp -s "$out" "$tmp"; then
            same=$((same + 1))
        else
            same=0
            mv "$tmp" "$out"
        fi
    done
    rm -f "$tmp"
    convert "$out" "$E2E_WORK/$1.png"
}

# Counts black pixels on the "Apply" button: its caption is black when enabled, grey when not.
e2e_apply_looks() { # SHOT
    local black
    black="$(convert "$E2E_WORK/$1.ppm" -crop "80x14+$((A_X - 40 - W_X))+$((A_Y - 7 - W_Y))" -depth 8 txt:- |
        awk 'NR > 1 && $3 == "#000000" { n++ } END { print n + 0 }')"
    if ((black >= 20)); then echo enabled; else echo disabled; fi
}

# ---------------------------------------------------------------------------------------------
# The tree

E2E_EXPANDED=(0 0 0 0) # which categories the test has expanded
E2E_SEEN=()            # per restriction: 1 ticked, 0 empty, as last seen on screen
E2E_ROW_KIND=()        # per visible row of the last view: F folder, T ticked, U empty, - nothing, ? unclear
E2E_ROW_X0=()          # per row: left edge of the box (or folder), tree client x
E2E_ROW_X1=()          # per row: right edge
E2E_TOP=0              # position in the layout of the first visible row
E2E_ROWS=11            # rows that are whole on screen: 11, or 10 above a horizontal scroll bar

# The rows of the whole tree for the current expansion: "F c" for category c, "E i" for restriction i.
e2e_layout() {
    local c i
    E2E_LAYOUT=()
    for c in 0 1 2 3; do
        E2E_LAYOUT+=("F $c")
        if [[ "${E2E_EXPANDED[c]}" == 1 ]]; then
            for ((i = E2E_FIRST[c]; i < E2E_FIRST[c] + E2E_COUNT[c]; i++)); do E2E_LAYOUT+=("E $i"); done
        fi
    done
}

# Classifies the rows of the tree that are whole on screen in screenshot NAME. A horizontal scroll
# bar (then only 10 rows are whole) shows as the solid grey top edge of its left arrow button.
e2e_read_rows() { # NAME
    local analysis
    analysis="$(convert "$E2E_WORK/$1.ppm" -crop "278x176+$((T_X + 1 - W_X))+$((T_Y + 2 - W_Y))" -depth 8 txt:- | awk '
        NR == 1 { next }
        {
            split($1, p, /[,:]/); x = p[1] + 1; y = p[2]; r = int(y / 16); c = $3
            if (y == 172 && x >= 6 && x <= 13 && c != "#AEAEAE") notbar++
            if (c == "#008000" || c == "#00FF00") green[r]++
            else if (c == "#3096FA") selected[r]++
            else if (c == "#C0C0C0") { box[r]++; if (!(r in bx0) || x < bx0[r]) bx0[r] = x; if (x > bx1[r]) bx1[r] = x }
            else if (c == "#7A540C" || c == "#C88C1C" || c == "#E2A828" || c == "#ECB838" || c == "#FAD250" || c == "#FFF2AA") {
                folder[r]++; if (!(r in fx0) || x < fx0[r]) fx0[r] = x; if (x > fx1[r]) fx1[r] = x
            }
        }
        END {
            rows = notbar ? 11 : 10
            for (r = 0; r < rows; r++) {
                g = green[r] + 0; b = box[r] + 0; f = folder[r] + 0; s = (selected[r] >= 20)
                if (f >= 60 && b == 0 && g == 0) print r, "F", fx0[r], fx1[r], s
                else if (f == 0 && b >= 20 && g >= 20) print r, "T", bx0[r], bx1[r], s
                else if (f == 0 && b >= 20 && g == 0) print r, "U", bx0[r], bx1[r], s
                else if (f == 0 && b == 0 && g == 0) print r, "-", -1, -1, s
                else print r, "?", -1, -1, s
            }
        }')"
    E2E_ROW_KIND=()
    E2E_ROW_X0=()
    E2E_ROW_X1=()
    E2E_ROW_SELECTED=()
    local r k x0 x1 selected
    while read -r r k x0 x1 selected; do
        E2E_ROW_KIND[r]="$k"
        E2E_ROW_X0[r]="$x0"
        E2E_ROW_X1[r]="$x1"
        E2E_ROW_SELECTED[r]="$selected"
    done <<<"$analysis"
    E2E_ROWS=${#E2E_ROW_KIND[@]}
}

# Screenshot NAME, read its rows and place them in the layout; records what each visible
# restriction shows in E2E_SEEN. Where only restrictions are in view, folders cannot tell where the
# rows are: then SELECTED, the node the test knows to be selected ("E I" or "F C"), must be the one
# row drawn selected.
e2e_view() { # NAME [SELECTED]
    local selected="${2:-}"
    e2e_shot "$1"
    e2e_read_rows "$1"
    e2e_layout
    local n=${#E2E_LAYOUT[@]} t r item matches=0 found=-1 seen=""
    for r in $(seq 0 $((E2E_ROWS - 1))); do seen+="${E2E_ROW_KIND[r]}"; done
    for ((t = 0; t < n; t++)); do
        local ok=1
        for ((r = 0; r < E2E_ROWS; r++)); do
            item="${E2E_LAYOUT[t + r]:-}"
            case "${item%% *}:${E2E_ROW_KIND[r]}" in
            F:F | E:T | E:U | :-) ;;
            *) ok=0 && break ;;
            esac
            if [[ -n "$selected" ]]; then
                if [[ "$item" == "$selected" ]]; then
                    [[ "${E2E_ROW_SELECTED[r]}" == 1 ]] || { ok=0 && break; }
                else
                    [[ "${E2E_ROW_SELECTED[r]}" == 0 ]] || { ok=0 && break; }
                fi
            fi
        done
        if [[ $ok -eq 1 ]]; then
            matches=$((matches + 1))
            found=$t
        fi
    done
    [[ $matches -eq 1 ]] || e2e_fail "screenshot $1: the rows ($seen) do not fit the tree as expanded (${E2E_EXPANDED[*]})${selected:+ with \"$selected\" selected} in exactly one place ($matches)"
    E2E_TOP=$found
    for ((r = 0; r < E2E_ROWS; r++)); do
        item="${E2E_LAYOUT[found + r]:-}"
        if [[ "$item" == E* ]]; then
            if [[ "${E2E_ROW_KIND[r]}" == T ]]; then E2E_SEEN[${item#E }]=1; else E2E_SEEN[${item#E }]=0; fi
        fi
    done
}

# Takes view NAME and checks that every restriction in it shows what STATE says.
e2e_check_view() { # NAME STATE [SELECTED]
    local i bad=0
    E2E_SEEN=()
    e2e_view "$1" "${3:-}"
    for i in "${!E2E_SEEN[@]}"; do
        if [[ "${E2E_SEEN[i]}" != "${2:i:1}" ]]; then
            printf '[%s]   %s shows %s, expected %s\n' "$E2E_CASE" "${E2E_VALUES[i]}" \
                "$([[ ${E2E_SEEN[i]} == 1 ]] && echo ticked || echo empty)" \
                "$([[ ${2:i:1} == 1 ]] && echo ticked || echo empty)" >&2
            bad=1
        fi
    done
    [[ $bad -eq 0 ]] || e2e_fail "the tree in $1.png does not show what was expected"
}

# The visible row of restriction I (or category C with "F C") in the last view.
e2e_row_of() { # "E I" | "F C"
    local r
    for ((r = 0; r < E2E_ROWS; r++)); do
        if [[ "${E2E_LAYOUT[E2E_TOP + r]:-}" == "$1" ]]; then
            echo "$r"
            return
        fi
    done
    e2e_fail "\"$1\" is not on screen in the last view"
}

# Mouse actions on the last view. Rows are 16 pixels high; the tree's client area starts 2 pixels
# inside its border.
e2e_click_image() { # I
    local r
    r="$(e2e_row_of "E $1")"
    e2e_click $((T_X + 2 + (E2E_ROW_X0[r] + E2E_ROW_X1[r]) / 2 - 1)) $((T_Y + 2 + 16 * r + 8))
}
e2e_click_label() { # I
    local r
    r="$(e2e_row_of "E $1")"
    e2e_click $((T_X + 2 + E2E_ROW_X1[r] + 25)) $((T_Y + 2 + 16 * r + 8))
}
# Categories have no expand button (the tree draws no lines at its root): a double click on a category's
# folder expands or collapses it.
e2e_double_click_category() { # C
    local r
    r="$(e2e_row_of "F $1")"
    xdotool mousemove $((T_X + 2 + (E2E_ROW_X0[r] + E2E_ROW_X1[r]) / 2)) $((T_Y + 2 + 16 * r + 8)) \
        click --repeat 2 --delay 120 1
    e2e_park
    if [[ "${E2E_EXPANDED[$1]}" == 1 ]]; then E2E_EXPANDED[$1]=0; else E2E_EXPANDED[$1]=1; fi
}

# Reads what the whole tree shows into E2E_TREE (36 characters, 1 ticked, 0 empty), with the
# keyboard only: Home, Down, Right and Left expand and collapse one category at a time, End scrolls
# to the rest of a long one. Needs the keyboard focus in the tree and every category collapsed;
# leaves them so.
e2e_read_tree() { # NAME
    local c i downs
    E2E_SEEN=()
    for c in 0 1 2 3; do
        downs=()
        for ((i = 0; i < c; i++)); do downs+=(Down); done
        e2e_key Home "${downs[@]}" Right
        E2E_EXPANDED[c]=1
        e2e_view "$1-${E2E_CATEGORIES[c]}"
        for ((i = E2E_FIRST[c]; i < E2E_FIRST[c] + E2E_COUNT[c]; i++)); do
            if [[ -z "${E2E_SEEN[i]:-}" ]]; then
                # Not all in view: the end of the tree shows the rest.
                e2e_key End
                e2e_view "$1-${E2E_CATEGORIES[c]}-end"
                break
            fi
        done
        e2e_key Home "${downs[@]}" Left
        E2E_EXPANDED[c]=0
    done
    E2E_TREE=""
    for ((i = 0; i < 36; i++)); do
        [[ -n "${E2E_SEEN[i]:-}" ]] || e2e_fail "${E2E_VALUES[i]} never came into view"
        E2E_TREE+="${E2E_SEEN[i]}"
    done
}

# Compares a tree state with the expected one, naming each difference.
e2e_expect_tree() { # STATE EXPECTED WHAT
    [[ "$1" == "$2" ]] && return 0
    local i
    for ((i = 0; i < 36; i++)); do
        [[ "${1:i:1}" == "${2:i:1}" ]] ||
            printf '[%s]   %s shows %s, expected %s\n' "$E2E_CASE" "${E2E_VALUES[i]}" \
                "$([[ ${1:i:1} == 1 ]] && echo ticked || echo empty)" \
                "$([[ ${2:i:1} == 1 ]] && echo ticked || echo empty)" >&2
    done
    e2e_fail "$3"
}

# Flips position I of a 36-character state.
e2e_flip() { # STATE I
    local s="$1" i="$2"
    if [[ "${s:i:1}" == 1 ]]; then echo "${s:0:i}0${s:i+1}"; else echo "${s:0:i}1${s:i+1}"; fi
}

# The index of Category\ValueName in tree order.
e2e_index() {
    local i
    for ((i = 0; i < 36; i++)); do
        [[ "${E2E_VALUES[i]}" == "$1" ]] && echo "$i" && return
    done
    e2e_fail "no restriction $1"
}

# ---------------------------------------------------------------------------------------------
# Processes

# Waits for the Wine process PID (a kestrin.exe started here) to end; its exit code is E2E_EXIT.
e2e_wait_exit() { # PID
    local deadline=$((SECONDS + E2E_TIMEOUT))
    while kill -0 "$1" 2>/dev/null; do
        ((SECONDS < deadline)) || e2e_fail "kestrin.exe (pid $1) still runs after ${E2E_TIMEOUT} s"
        sleep 0.1
    done
    E2E_EXIT=0
    wait "$1" || E2E_EXIT=$?
}

# Whether a wineserver for this case's prefix is running (found by its working directory, which
# is named after the prefix's device and inode).
e2e_wineserver_running() {
    local dir pid
    dir="server-$(printf '%x' "$(stat -c %d "$WINEPREFIX")")-$(printf '%x' "$(stat -c %i "$WINEPREFIX")")"
    for pid in /proc/[0-9]*; do
        [[ "$(cat "$pid/comm" 2>/dev/null)" == wineserver* ]] || continue
        [[ "$(readlink "$pid/cwd" 2>/dev/null)" == */"$dir" ]] && return 0
    done
    return 1
}
