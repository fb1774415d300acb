#!/bin/sh
# Short fuzz run for the test suite: smoke.sh TARGET SECONDS WORKDIR [SEEDDIR]
set -eu
target=$1 seconds=$2 work=$3 seeds=${4:-}
mkdir -p "$work"
if [ -n "$seeds" ] && [ -d "$seeds" ]; then
    exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work" "$seeds"
fi
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$work"
