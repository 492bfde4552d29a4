#!/usr/bin/env bash
# A short tour of the crontab engine through its command-line tool.
set -euo pipefail
tool=${1:?usage: demo.sh path/to/scheduler-cron}
from="2026-12-05 12:00:00"

show() {
    printf '\n$ scheduler-cron %s\n' "$*"
    "$tool" "$@" || true
}

echo "Crontab engine demo (times are UTC, counted from $from)"
show check "0   30 8 ?  * MON-FRI"
show next "0 30 8 ? * mon-fri" --from "$from" --count 3
show next "0 0 12 ? * FRI#3" --from "$from" --count 3
show next "0 0 9 LW * ?" --from "$from" --count 3
show prev "0 0 0 29 2 ?" --from "$from" --count 2
show last "0 0 0 1 1 ? 2030"
show last "0 0 0 1 1 ?"
TZ=UTC show range --from "$from" "utc:3600:0 0 8 ? * mon-fri" "utc:1800:0 0 18 * * ?"
show check "0 0 12 * *"
