#!/usr/bin/env bash
# Runs a command and prints its peak private (anonymous) memory, sampled
# from RssAnon in /proc/PID/status every 5 ms, as "peak RssAnon: N KiB".
#   bench/scan/peak-rss-anon.sh COMMAND [ARGS...]
# The command's own output goes to /dev/null; its exit code is kept.
set -uo pipefail
"$@" >/dev/null 2>&1 &
pid=$!
peak=0
while kill -0 "$pid" 2>/dev/null; do
  value=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
  [ -n "$value" ] && [ "$value" -gt "$peak" ] && peak=$value
  sleep 0.005
done
wait "$pid"
status=$?
echo "peak RssAnon: $peak KiB"
exit $status
