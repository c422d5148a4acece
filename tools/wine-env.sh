# Shared by the scripts that run Windows programs under Wine for this project (tools/wine-run and
# the end-to-end tests). Source it; it defines functions and changes nothing by itself.

# The build tree of a program: the nearest directory above it that holds a CMakeCache.txt, else
# the program's own directory.
kestrin_build_tree() {
    local dir build
    dir="$(cd "$(dirname "$1")" && pwd)"
    build="$dir"
    while [[ "$build" != / && ! -f "$build/CMakeCache.txt" ]]; do build="$(dirname "$build")"; done
    [[ -f "$build/CMakeCache.txt" ]] || build="$dir"
    printf '%s\n' "$build"
}

# Quiet Wine, and no offer to download Mono or Gecko.
kestrin_wine_quiet() {
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
}

# Sets DISPLAY to the virtual display (Xvfb) shared by everything run from the build tree BUILD,
# starting it if it is not running. Its "pid :N" is kept in BUILD/wine/xvfb; tools/test stops it.
kestrin_shared_display() {
    local build="$1" state="$1/wine/xvfb" pid display
    mkdir -p "$build/wine"
    exec 8>"$state.lock"
    flock 8
    if [[ -f "$state" ]]; then
        read -r pid display <"$state" || true
        if [[ -n "${pid:-}" ]] && kill -0 "$pid" 2>/dev/null; then
            export DISPLAY="$display"
            flock -u 8
            exec 8>&-
            return
        fi
    fi
    kestrin_private_display
    echo "$KESTRIN_XVFB_PID $DISPLAY" >"$state"
    flock -u 8
    exec 8>&-
}

# Starts a virtual display (Xvfb) of this caller's own on a free display number and sets DISPLAY to
# it, and KESTRIN_XVFB_PID to the process to stop afterwards. Fails if the display does not come up.
kestrin_private_display() {
    local number_file
    number_file="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    KESTRIN_XVFB_PID=$!
    for _ in $(seq 200); do
        [[ -s "$number_file" ]] && break
        kill -0 "$KESTRIN_XVFB_PID" 2>/dev/null || break
        sleep 0.05
    done
    if [[ ! -s "$number_file" ]]; then
        rm -f "$number_file"
        echo "error: Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$(tr -dc 0-9 <"$number_file")"
    rm -f "$number_file"
}

# Makes the Wine prefix WINEPREFIX once, for a display of DPI dots per inch (default 96), with Wine
# drawing window captions and close boxes itself (there is no window manager on Xvfb). Parallel
# callers wait for whichever of them got there first. Needs DISPLAY.
kestrin_make_prefix() {
    local dpi="${1:-96}"
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [[ ! -f "$WINEPREFIX/.kestrin-ready" ]]; then
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
        # Debian keeps Wine's own fonts where Wine 8 does not look for them; without them "Tahoma"
        # falls back to another face and the caption's close box shows a letter instead of a cross.
        if compgen -G "/usr/share/wine/fonts/*.ttf" >/dev/null; then
            cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
        fi
        wineserver -w
        touch "$WINEPREFIX/.kestrin-ready"
    fi
    flock -u 9
    exec 9>&-
}

# Keeps the prefix's Wine session alive for a while between programs, so a run of short test
# programs does not start it afresh each time. The session's own background processes are started
# here, away from the caller's output: ctest waits for every process that holds a test's output.
kestrin_keep_session() {
    wineserver -p30 </dev/null >/dev/null 2>&1 || true
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Drops the lines Wine prints about its missing 32-bit half: harmless for 64-bit programs.
kestrin_wine_noise_filter() {
    grep -v -e 'wine32 is missing' -e 'multiarch' -e 'dpkg --add-architecture' -e 'apt-get install wine32' || true
}
