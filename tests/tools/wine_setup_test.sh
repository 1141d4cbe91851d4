#!/bin/sh
# The Wine runner's set-up with stand-ins for wine, wineboot and wineserver on
# PATH: a prefix that cannot be set up ends the runner (and the display
# wrapper) at once with a message, and no set-up wait lasts for ever.
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # description, then a condition to evaluate
  what=$1; shift
  if eval "$@"; then echo "ok   - $what"; else echo "FAIL - $what"; failures=$((failures+1)); fi
}

# The stand-ins: each behaves as FAKE_<TOOL> says (ok, fail, hang) and notes
# its calls in $work/calls.
mkdir -p "$work/bin"
for tool in wine wineboot wineserver; do
  cat >"$work/bin/$tool" <<STUB
#!/bin/sh
echo "$tool \$*" >>"$work/calls"
mode=\${FAKE_$(echo $tool | tr a-z A-Z):-ok}
case "$tool \$1" in
  "wineserver -w") [ "\${FAKE_PERSISTENT:-0}" = 1 ] && exec sleep 600 ;;
  "wine reg") echo '    MS Shell Dlg    REG_SZ    WenQuanYi Micro Hei' ;;
  "wine regedit") ;;
  "wine "*) [ "\$mode" = ok ] && echo "program ran: \$*" ;;
esac
case "\$mode" in
  hang) exec sleep 600 ;;
  fail) echo "$tool: simulated failure" >&2; exit 3 ;;
esac
exit 0
STUB
  chmod +x "$work/bin/$tool"
done

# Runs the runner for a program with a fresh prefix; sets out, err, rc, secs.
run() {
  rm -f "$work/calls"
  start=$(date +%s)
  env PATH="$work/bin:$PATH" VESTREL_WINE_SETUP_SECONDS=3 VESTREL_WINE_FLUSH_SECONDS=1 "$@" >"$work/out" 2>"$work/err"
  rc=$?
  secs=$(( $(date +%s) - start ))
  out=$(cat "$work/out"); err=$(cat "$work/err")
}

# A prefix path that cannot be a directory.
: >"$work/plainfile"
run env VESTREL_WINEPREFIX="$work/plainfile/prefix" sh "$top/tools/wine-run" prog.exe
check "unusable prefix path: status 1" '[ $rc -eq 1 ]'
check "unusable prefix path: says so" 'echo "$err" | grep -q "could not be set up: cannot create"'
check "unusable prefix path: nothing is started" '[ ! -f "$work/calls" ]'

# wineboot fails.
run env VESTREL_WINEPREFIX="$work/p1" FAKE_WINEBOOT=fail sh "$top/tools/wine-run" prog.exe
check "failing wineboot: status 1 at once" '[ $rc -eq 1 ] && [ $secs -le 2 ]'
check "failing wineboot: names the step and shows its output" \
  'echo "$err" | grep -q "wineboot -i failed (status 3)" && echo "$err" | grep -q "simulated failure"'
check "failing wineboot: the program is not run and no marker is left" \
  '! grep -q "^wine prog.exe" "$work/calls" && [ ! -f "$work/p1/.vestrel-setup-2" ]'

# wineboot never ends: bounded.
run env VESTREL_WINEPREFIX="$work/p2" FAKE_WINEBOOT=hang sh "$top/tools/wine-run" prog.exe
check "hanging wineboot: status 1 within the bound" '[ $rc -eq 1 ] && [ $secs -le 10 ]'
check "hanging wineboot: says it timed out" 'echo "$err" | grep -q "did not finish within 3 s"'

# The settings step fails (it used to be ignored).
run env VESTREL_WINEPREFIX="$work/p3" FAKE_WINE=fail sh "$top/tools/wine-run" prog.exe
check "failing settings step: status 1" '[ $rc -eq 1 ] && [ $secs -le 5 ]'
check "failing settings step: says so" 'echo "$err" | grep -q "wine-setup-prefix failed"'
check "failing settings step: no marker" '[ ! -f "$work/p3/.vestrel-setup-2" ]'

# A persistent server: wineserver -w never returns; the set-up still ends
# (its waits are bounded) and succeeds, and the program runs.
run env VESTREL_WINEPREFIX="$work/p4" FAKE_PERSISTENT=1 sh "$top/tools/wine-run" prog.exe
check "persistent server: set-up succeeds and the program runs" \
  '[ $rc -eq 0 ] && echo "$out" | grep -q "program ran: prog.exe" && [ -f "$work/p4/.vestrel-setup-2" ]'
check "persistent server: the bounded waits end the set-up" '[ $secs -le 8 ]'
run env VESTREL_WINEPREFIX="$work/p4" FAKE_PERSISTENT=1 sh "$top/tools/wine-run" prog.exe
check "set-up prefix: no set-up step runs again" \
  '[ $rc -eq 0 ] && ! grep -q "wineboot\|regedit" "$work/calls"'

# The display wrapper stops when the prefix cannot be set up.
if command -v Xvfb >/dev/null 2>&1; then
  run env VESTREL_WINEPREFIX="$work/p5" FAKE_WINEBOOT=fail sh "$top/tools/with-display" touch "$work/ran"
  check "with-display: status 1 and the command is not run" '[ $rc -eq 1 ] && [ ! -f "$work/ran" ]'
  check "with-display: says why" 'echo "$err" | grep -q "Wine prefix is not usable"'
  check "with-display: no persistent server was started" '! grep -q "wineserver -p" "$work/calls"'
fi

[ $failures -eq 0 ] && echo "all wine set-up checks passed" || echo "$failures wine set-up checks FAILED"
[ $failures -eq 0 ]
