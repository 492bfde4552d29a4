# Runs the scheduler-cron tool as a user would and checks its standard output, standard
# error and exit status exactly.
#
#     cmake -DTOOL=<path to scheduler-cron> -P SchedulerCronCliTest.cmake
#
# Every case runs with TZ=UTC unless it names another zone; all start times are fixed.

if(NOT TOOL)
    message(FATAL_ERROR "Pass the tool to test: -DTOOL=<path to scheduler-cron>")
endif()

set(usage "usage: scheduler-cron next TEXT [--from TIME] [--count N]
       scheduler-cron prev TEXT [--from TIME] [--count N]
       scheduler-cron check TEXT
       scheduler-cron last TEXT
       scheduler-cron range [--from TIME] DEF...
       scheduler-cron --help
")
set(failures "")

# expect(NAME ARGS arg... [TZ zone] [STDOUT text | STDOUT_MATCHES regex] [STDERR text]
#        [STATUS code])
# Runs the tool with ARGS; an output not given is expected empty, the status 0.
function(expect name)
    cmake_parse_arguments(PARSE_ARGV 1 RUN "" "TZ;STDOUT;STDOUT_MATCHES;STDERR;STATUS" "ARGS")
    if(NOT DEFINED RUN_TZ)
        set(RUN_TZ UTC)
    endif()
    if(NOT DEFINED RUN_STDOUT)
        set(RUN_STDOUT "")
    endif()
    if(NOT DEFINED RUN_STDERR)
        set(RUN_STDERR "")
    endif()
    if(NOT DEFINED RUN_STATUS)
        set(RUN_STATUS 0)
    endif()
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env TZ=${RUN_TZ} ${TOOL} ${RUN_ARGS}
        OUTPUT_VARIABLE out
        ERROR_VARIABLE err
        RESULT_VARIABLE status)
    set(problems "")
    if(DEFINED RUN_STDOUT_MATCHES)
        if(NOT out MATCHES "${RUN_STDOUT_MATCHES}")
            string(APPEND problems "\n  stdout should match: ${RUN_STDOUT_MATCHES}\n  got:\n${out}")
        endif()
    elseif(NOT out STREQUAL RUN_STDOUT)
        string(APPEND problems "\n  stdout expected:\n${RUN_STDOUT}  got:\n${out}")
    endif()
    if(NOT err STREQUAL RUN_STDERR)
        string(APPEND problems "\n  stderr expected:\n${RUN_STDERR}  got:\n${err}")
    endif()
    if(NOT status STREQUAL RUN_STATUS)
        string(APPEND problems "\n  exit status expected ${RUN_STATUS}, got ${status}")
    endif()
    if(problems)
        list(JOIN RUN_ARGS "' '" shown)
        set(failures "${failures}\n${name}: scheduler-cron '${shown}'${problems}\n"
            PARENT_SCOPE)
    endif()
endfunction()

# next: the first match at or after --from, then strictly later ones.
expect(next_counts_matches
    ARGS next "0 30 8 ? * mon-fri" --from "2026-12-05 12:00:00" --count 3
    STDOUT "2026-12-07 08:30:00\n2026-12-08 08:30:00\n2026-12-09 08:30:00\n")
expect(next_prints_five_by_default
    ARGS next "0 0 0 29 2 ?" --from "2025-03-01 00:00:00"
    STDOUT "2028-02-29 00:00:00\n2032-02-29 00:00:00\n2036-02-29 00:00:00\n2040-02-29 00:00:00\n2044-02-29 00:00:00\n")
expect(next_drops_the_fraction
    ARGS next "* * * * * ?" "--from=2030-01-01 12:00:00.5" --count=2
    STDOUT "2030-01-01 12:00:00\n2030-01-01 12:00:01\n")
expect(next_stops_when_matches_run_out
    ARGS next "0 0 0 1 1 ? 2098,2099" --count 5 --from "2097-06-01 00:00:00"
    STDOUT "2098-01-01 00:00:00\n2099-01-01 00:00:00\n")
expect(next_of_a_text_that_never_matches
    ARGS next "0 0 0 30 2 ?" --from "2030-01-01 00:00:00")
expect(next_last_weekday
    ARGS next "0 0 9 LW * ?" --from "2030-03-01 00:00:00" --count 2
    STDOUT "2030-03-29 09:00:00\n2030-04-30 09:00:00\n")

# prev: the last match at or before --from, then strictly earlier ones.
expect(prev_carries_across_midnight
    ARGS prev "0 30 * * * ?" --from "2030-06-01 00:00:00" --count 2
    STDOUT "2030-05-31 23:30:00\n2030-05-31 22:30:00\n")
expect(prev_includes_a_matching_start
    ARGS prev "0 0 12 ? * 5#5" --from "2029-11-30 12:00:00.75" --count 2
    STDOUT "2029-11-30 12:00:00\n2029-08-31 12:00:00\n")
expect(prev_stops_at_1970
    ARGS prev "0 0 0 1 1 ?" --from "1972-06-01 00:00:00"
    STDOUT "1972-01-01 00:00:00\n1971-01-01 00:00:00\n1970-01-01 00:00:00\n")

# check: the normalised text.
expect(check_normalises_white_space
    ARGS check "  0\t30   8 ? *\n MON-FRI  "
    STDOUT "0 30 8 ? * MON-FRI\n")

# last: the very last occurrence, or none.
expect(last_of_a_bounded_year
    ARGS last "0 0 0 L * ? 2030"
    STDOUT "2030-12-31 00:00:00\n")
expect(last_of_six_fields_is_none
    ARGS last "0 0 0 1 1 ?"
    STDOUT "none\n")
expect(last_of_an_open_year_list_is_none
    ARGS last "0 0 0 1 1 ? 2030,*/5"
    STDOUT "none\n")

# range: the earliest range that has not ended, in UTC.
expect(range_that_has_begun
    ARGS range --from "2030-01-07 08:30:00" "utc:3600:0 0 8 ? * mon-fri"
    STDOUT "2030-01-07 08:00:00 2030-01-07 09:00:00\n")
expect(range_that_has_just_ended
    ARGS range --from "2030-01-07 09:00:00" "utc:3600:0 0 8 ? * mon-fri"
    STDOUT "2030-01-08 08:00:00 2030-01-08 09:00:00\n")
expect(range_equal_starts_take_the_first
    ARGS range --from "2030-01-07 07:00:00" "utc:60:0 0 8 ? * *" "utc:3600:0 0 8 ? * mon-fri"
    STDOUT "2030-01-07 08:00:00 2030-01-07 08:01:00\n")
expect(range_earliest_start_wins
    ARGS range --from "2030-01-07 07:00:00" "utc:60:0 0 12 * * ?" "utc:60:0 0 9 * * ?"
    STDOUT "2030-01-07 09:00:00 2030-01-07 09:01:00\n")
expect(range_none
    ARGS range --from "2030-01-07 07:00:00" "utc:60:0 0 0 1 1 ? 2029"
    STDOUT "none\n")
expect(range_local_two_hours_east
    TZ "EET-2"
    ARGS range --from "2030-01-07 06:30:00" "local:3600:0 0 8 ? * mon-fri"
    STDOUT "2030-01-07 06:00:00 2030-01-07 07:00:00\n")

# A text that does not parse: the engine's reason, exit status 1.
expect(parse_error_too_few_fields
    ARGS next "0 0 12 * *" --from "2030-01-01 00:00:00"
    STDERR "Invalid crontab string\n" STATUS 1)
expect(parse_error_both_day_fields
    ARGS check "0 0 12 * * *"
    STDERR "Both dayOfMonth & dayOfWeek have values.\n" STATUS 1)
expect(parse_error_bad_field
    ARGS last "5, * * * * ?"
    STDERR "Cannot parse the SECONDs field.\n" STATUS 1)
expect(parse_error_in_a_later_definition
    ARGS range --from "2030-01-07 07:00:00" "utc:60:0 0 8 * * ?" "local:60:0 0 12 * * *"
    STDERR "Both dayOfMonth & dayOfWeek have values.\n" STATUS 1)

# Wrong usage: a reason and the short usage text, exit status 2.
expect(usage_no_command
    STDERR "scheduler-cron: no command\n${usage}" STATUS 2)
expect(usage_unknown_command
    ARGS nxt "* * * * * ?"
    STDERR "scheduler-cron: unknown command 'nxt'\n${usage}" STATUS 2)
expect(usage_missing_text
    ARGS next --count 2
    STDERR "scheduler-cron: expected one TEXT\n${usage}" STATUS 2)
expect(usage_bad_time
    ARGS next "* * * * * ?" --from "2030-02-30 00:00:00"
    STDERR "scheduler-cron: bad --from time '2030-02-30 00:00:00'\n${usage}" STATUS 2)
expect(usage_bad_count
    ARGS prev "* * * * * ?" --count 0
    STDERR "scheduler-cron: bad --count '0'\n${usage}" STATUS 2)
expect(usage_option_of_another_command
    ARGS last "* * * * * ?" --count 2
    STDERR "scheduler-cron: --count is not for last\n${usage}" STATUS 2)
expect(usage_bad_definition
    ARGS range "utc:an hour:0 0 8 * * ?"
    STDERR "scheduler-cron: bad range definition 'utc:an hour:0 0 8 * * ?'\n${usage}" STATUS 2)

# --help documents every command on standard output.
expect(help
    ARGS next --help
    STDOUT_MATCHES "next TEXT.*prev TEXT.*check TEXT.*last TEXT.*range \\[--from TIME\\] DEF.*Exit status")

if(failures)
    message(NOTICE "${failures}")
    message(FATAL_ERROR "scheduler-cron answered wrongly; the cases are listed above")
endif()
