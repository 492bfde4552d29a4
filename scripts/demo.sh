#!/usr/bin/env bash
# A short tour of the crontab engine through its command-line tool.
set -euo pipefail
tool=${1:?usage: demo.sh path/to/scheduler-cron}
from="2026-12-05 12:00:00"

show() {
    printf '\n$ scheduler-cron %s\n' "$*"
    "$tool" "$@" || printf '(exit status %d)\n' "$?"
}

echo "Crontab engine demo (times are UTC unless a zone is named, counted from $from)"
show check "0   30 8 ?  * MON-FRI"
show explain "0 0 12 ? * FRI#3" --from "$from" --count 3
show next "0 30 8 ? * mon-fri" --from "$from" --count 3
show next "0 0 9 LW * ?" --from "$from" --count 3 --json
show prev "0 0 0 29 2 ?" --from "$from" --count 2
show --tz Europe/Berlin next "0 30 2 * * ?" --from 2027-03-27 --count 2
show --tz Australia/Sydney next "0 30 2 * * ?" --from 2027-04-03 --count 3
show calendar "0 0 18 ? * FRIL" --from "$from" --months 2
show last "0 0 0 1 1 ? 2030"
show last "0 0 0 1 1 ?"
TZ=UTC show range --from "$from" "utc:3600:0 0 8 ? * mon-fri" "utc:1800:0 0 18 * * ?"
show check "0 0 12 * *"
show check "0 0 12 ? * 5#6"
