#!/usr/bin/env bash
# Ctrl-C in the terminal that started firmora-gui is Stop: the run in the
# window winds down through its closing steps, the program says so and exits
# 130, rather than dying at once with a modem half-written.
# Usage: ctrl_c_stops.sh FIRMORA_GUI WORK_DIR
set -u
gui=$1
work=$2
rm -rf "$work"
mkdir -p "$work/home" "$work/run" "$work/tmp"
chmod 700 "$work/run"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp" QT_QPA_PLATFORM=offscreen

"$gui" --simulate --unattended --backup-root "$work/backup" >"$work/out" 2>"$work/err" &
pid=$!
# Interrupted once the update runs: the modem's backup folder is there.
for _ in $(seq 1 600); do
  [ -n "$(find "$work/backup" -name '*SN\[*' 2>/dev/null | head -n 1)" ] && break
  sleep 0.1
done
[ -n "$(find "$work/backup" -name '*SN\[*' 2>/dev/null | head -n 1)" ] || { echo "the update never began"; cat "$work/err"; kill -9 $pid; exit 1; }
kill -INT $pid
wait $pid
status=$?
if ! grep -q "^firmora-gui: stopped$" "$work/err" || [ $status -ne 130 ]; then
  echo "exit $status; standard error:"
  cat "$work/err"
  exit 1
fi
