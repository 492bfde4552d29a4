#!/usr/bin/env bash
# Runs the example sessions of a Markdown page and compares what the commands print with
# what the page shows. A session is a fenced block whose lines start with `$ ` for a
# command, followed by its output (standard output and error together); blank lines are
# not compared. Commands run in one shell per block, so `echo $?` sees the command before.
#
#     DocExamplesTest.sh PAGE TOOL_DIR...     (each TOOL_DIR is put on the PATH)

set -u
page=$1
shift
for dir in "$@"; do PATH=$dir:$PATH; done
export TZ=UTC

failures=0
run_block() {
    local commands=$1 expected=$2 actual
    actual=$(
        status=0
        while IFS= read -r command; do
            printf '$ %s\n' "$command"
            (exit $status)
            eval "$command" 2>&1
            status=$?
        done <<<"$commands"
    )
    actual=$(grep -v '^$' <<<"$actual")
    if [[ "$actual" != "$expected" ]]; then
        echo "Example session in $page differs:"
        diff <(echo "$expected") <(echo "$actual")
        failures=$((failures + 1))
    fi
}

in_block=0 commands="" expected=""
while IFS= read -r line; do
    if [[ "$line" == '```'* ]]; then
        if ((in_block)) && [[ -n "$commands" ]]; then
            run_block "${commands%$'\n'}" "${expected%$'\n'}"
        fi
        in_block=$((1 - in_block)) commands="" expected=""
        continue
    fi
    ((in_block)) || continue
    [[ -z "$line" ]] && continue
    expected+="$line"$'\n'
    [[ "$line" == '$ '* ]] && commands+="${line#\$ }"$'\n'
done <"$page"

if ((failures)); then
    echo "$failures example session(s) differ"
    exit 1
fi
