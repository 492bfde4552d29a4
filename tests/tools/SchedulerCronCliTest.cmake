# Runs the scheduler-cron tool as a user would and checks its standard output, standard
# error and exit status exactly.
#
#     cmake -DTOOL=<path to scheduler-cron> -P SchedulerCronCliTest.cmake
#
# Every case runs with TZ=UTC unless it names another zone; all start times are fixed.

if(NOT TOOL)
    message(FATAL_ERROR "Pass the tool to test: -DTOOL=<path to scheduler-cron>")
endif()

set(usage " (see scheduler-cron --help)\n")
set(failures "")

# expect(NAME ARGS arg... [TZ zone]
#        [STDOUT text | STDOUT_MATCHES regex | FIRST_LINE text] [STDERR text] [STATUS code])
# Runs the tool with ARGS; an output not given is expected empty, the status 0.
function(expect name)
    cmake_parse_arguments(PARSE_ARGV 1 RUN "" "TZ;STDOUT;STDOUT_MATCHES;FIRST_LINE;STDERR;STATUS"
                          "ARGS")
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
    if(DEFINED RUN_FIRST_LINE)
        string(FIND "${out}" "\n" newline)
        string(SUBSTRING "${out}" 0 ${newline} first)
        if(NOT first STREQUAL RUN_FIRST_LINE)
            string(APPEND problems "\n  first line expected:\n${RUN_FIRST_LINE}\n  got:\n${first}")
        endif()
    elseif(DEFINED RUN_STDOUT_MATCHES)
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

# A text that does not parse: the engine's reason first (scripts read that line), then
# where the fault lies and hints; exit status 1.
expect(parse_error_names_the_minute_field
    ARGS check "0 70 12 * * ?"
    STDERR "Invalid range. Hour: start=70 end=70
minute field (0..59), item '70':
  0 70 12 * * ?
    ^^
" STATUS 1)
expect(parse_error_points_at_the_item_in_a_list
    ARGS next "0 0 5,30 1 * ?" --from "2030-01-01 00:00:00"
    STDERR "Invalid range. Hour: start=30 end=30
hour field (0..23), item '30':
  0 0 5,30 1 * ?
        ^^
" STATUS 1)
expect(parse_error_empty_item
    ARGS last "5, * * * * ?"
    STDERR "Cannot parse the SECONDs field.
second field (0..59), an empty item:
  5, * * * * ?
   ^
" STATUS 1)
expect(parse_error_five_fields
    ARGS check "0 12 * * 1-5"
    STDERR "Invalid crontab string
5 fields given; a text has six or seven fields: second minute hour day-of-month month day-of-week [year]
hint: five fields look like a crontab without seconds; with a second field in front and ? in one day field: \"0 0 12 ? * 1-5\"
" STATUS 1)
expect(parse_error_nickname
    ARGS check "@weekly"
    STDERR "Invalid crontab string
hint: nicknames such as @daily are not crontab texts; for @weekly write \"0 0 0 ? * sun\"
" STATUS 1)
expect(parse_error_both_day_fields
    ARGS check "0 0 12 * * *"
    STDERR "Both dayOfMonth & dayOfWeek have values.
day of month '*' and day of week '*':
  0 0 12 * * *
         ^   ^
hint: exactly one day field decides; use ? in one of them
" STATUS 1)
expect(parse_error_in_a_later_definition
    ARGS range --from "2030-01-07 07:00:00" "utc:60:0 0 8 * * ?" "local:60:0 0 12 ? * 6-1"
    STDERR "Invalid range. DayOfWeek: start=6 end=1
day of week field (0..6 or sun..sat (0 and 7 are Sunday), ?, dL, d#n), item '6-1':
  0 0 12 ? * 6-1
             ^^^
" STATUS 1)

# A text that parses but never fires: check says so and exits with 3; next and prev
# print nothing (an empty list in JSON) and succeed.
expect(check_never_fires
    ARGS check "0 0 12 ? * 1#0"
    STDOUT "0 0 12 ? * 1#0\n" STDERR "never fires\n" STATUS 3)
expect(json_of_no_matches_is_an_empty_list
    ARGS prev "0 0 0 1 1 ? 2031" --from "2030-01-01" --json
    STDOUT "[]\n")

# Time zones: the text is read in the zone, each occurrence placed by the rules of its
# own date. A wall time the clocks skip never fires; one they repeat fires once.
expect(zone_berlin_spring_gap_is_skipped
    ARGS next "0 30 2 * * ?" --tz Europe/Berlin --from "2027-03-27" --count 2
    STDOUT "2027-03-27 02:30:00 Sat +01:00\n2027-03-29 02:30:00 Mon +02:00\n")
expect(zone_berlin_autumn_hour_fires_once
    ARGS next "0 */30 2 * * ?" --tz Europe/Berlin --from "2027-10-31" --count 3
    STDOUT "2027-10-31 02:00:00 Sun +02:00\n2027-10-31 02:30:00 Sun +02:00\n2027-11-01 02:00:00 Mon +01:00\n")
expect(zone_berlin_backwards_from_inside_the_repeat
    ARGS prev "0 45 2 * * ?" --tz Europe/Berlin --from "2027-10-31T02:30:00+01:00" --count 2
    STDOUT "2027-10-31 02:45:00 Sun +02:00\n2027-10-30 02:45:00 Sat +02:00\n")
expect(zone_sydney_autumn_hour_fires_once
    ARGS next "0 30 2 * * ?" --tz Australia/Sydney --from "2027-04-03" --count 3
    STDOUT "2027-04-03 02:30:00 Sat +11:00\n2027-04-04 02:30:00 Sun +11:00\n2027-04-05 02:30:00 Mon +10:00\n")
expect(zone_sydney_spring_gap_in_json
    ARGS --json --tz Australia/Sydney next "0 30 2 * * ?" --from "2027-10-02" --count 2
    STDOUT [=[[
  {"time":"2027-10-02T02:30:00+10:00","epoch":1822408200,"weekday":"Sat"},
  {"time":"2027-10-04T02:30:00+11:00","epoch":1822577400,"weekday":"Mon"}
]
]=])
expect(zone_local_follows_tz
    TZ "Europe/Berlin"
    ARGS next "0 0 8 ? * mon" --local --from "2030-07-08T00:00:00Z" --count 1
    STDOUT "2030-07-08 08:00:00 Mon +02:00\n")
expect(zone_last_of_a_skipped_time_is_none
    ARGS last "0 30 2 28 3 ? 2027" --tz Europe/Berlin
    STDOUT "none\n")
expect(zone_names_the_range_zone
    ARGS range --tz Europe/Berlin --from "2030-07-08 05:00:00" "local:3600:0 0 8 ? * mon-fri"
    STDOUT "2030-07-08 06:00:00 2030-07-08 07:00:00\n")

# --from forms: ISO 8601 with T, Z and offsets, and a date alone (its midnight).
foreach(from "2030-01-07T08:30:00Z" "2030-01-07T09:30:00+01:00" "2030-01-07 03:30-0500"
             "2030-01-07T08:30")
    expect(from_${from}
        ARGS next "0 */30 * * * ?" --from "${from}" --count 1
        STDOUT "2030-01-07 08:30:00\n")
endforeach()
expect(from_a_date_in_the_zone
    ARGS next "0 0 * * * ?" --tz Asia/Tokyo --from "2030-01-07" --count 1
    STDOUT "2030-01-07 00:00:00 Mon +09:00\n")

# JSON of last and range.
expect(json_last
    ARGS last "0 0 0 L * ? 2030" --json
    STDOUT [=[{"time":"2030-12-31T00:00:00Z","epoch":1924905600,"weekday":"Tue"}
]=])
expect(json_range
    ARGS range --json --from "2030-01-07 08:30:00" "utc:3600:0 0 8 ? * mon-fri"
    STDOUT [=[{"start":{"time":"2030-01-07T08:00:00Z","epoch":1894003200,"weekday":"Mon"},"end":{"time":"2030-01-07T09:00:00Z","epoch":1894006800,"weekday":"Mon"}}
]=])

# calendar: month grids from the month of --from, firing days marked.
expect(calendar_marks_the_fifth_friday
    ARGS calendar "0 0 12 ? * 5#5" --from "2030-03-10" --months 2
    STDOUT "Days marked * are days on which the text fires (UTC).

        March 2030
Su  Mo  Tu  We  Th  Fr  Sa
                     1   2
 3   4   5   6   7   8   9
10  11  12  13  14  15  16
17  18  19  20  21  22  23
24  25  26  27  28  29* 30
31

        April 2030
Su  Mo  Tu  We  Th  Fr  Sa
     1   2   3   4   5   6
 7   8   9  10  11  12  13
14  15  16  17  18  19  20
21  22  23  24  25  26  27
28  29  30
")
expect(calendar_json_leaves_out_the_skipped_day
    ARGS calendar "0 30 2 ? * sun" --tz Europe/Berlin --from "2027-03-01" --months 1 --json
    STDOUT [=[{"zone":"Europe/Berlin","months":[
  {"year":2027,"month":3,"days":[7,14,21]}
]}
]=])

# explain: one sentence, then the next times.
expect(explain_then_next_times
    ARGS explain "0 30 8 ? * mon-fri" --from "2026-12-05 12:00:00" --count 2
    STDOUT "At 08:30:00, Monday through Friday
Next times (UTC):
  2026-12-07 08:30:00 Mon +00:00
  2026-12-08 08:30:00 Tue +00:00
")
set(explanations
    "0 30 8 ? * mon-fri" "At 08:30:00, Monday through Friday"
    "0 0 12 ? * 5#5" "At 12:00:00, on the fifth Friday of the month"
    "* * * * * ?" "Every second"
    "*/10 * * * * ?" "Every 10 seconds"
    "5/15 * * * * ?" "Every 15 seconds starting at second 5"
    "10-20 * * * * ?" "At seconds 10 through 20"
    "10-50/20 * * * * ?" "Every 20 seconds from second 10 through 50"
    "0 */5 * * * ?" "At second 0, every 5 minutes"
    "0 * 8 * * ?" "At second 0, every minute, between 08:00 and 08:59"
    "0 0,30 * * * ?" "At second 0, at minutes 0 and 30"
    "0 0 * * * ?" "On the hour"
    "0 30 * * * ?" "At 30 minutes past the hour"
    "15 30 * * * ?" "At 30:15 past the hour"
    "0 0 9-17 * * ?" "On the hour, between 09:00 and 17:59"
    "0 0 */6 * * ?" "On the hour, every 6 hours"
    "0 0 8/4 * * ?" "On the hour, every 4 hours starting at 08:00"
    "0 0 1-10/3 * * ?" "On the hour, every 3 hours from 01:00 through 10:00"
    "0 0 8,12,18 * * ?" "At 08:00:00, 12:00:00 and 18:00:00"
    "0 0 12 1,15 * ?" "At 12:00:00, on days 1 and 15 of the month"
    "0 0 12 10-20 * ?" "At 12:00:00, on days 10 through 20 of the month"
    "0 0 0 */2 * ?" "At 00:00:00, every 2 days of the month from the 1st"
    "0 0 0 5/10 * ?" "At 00:00:00, on every tenth day from day 5 of the month"
    "0 0 0 L * ? 2030" "At 00:00:00, on the last day of the month, in 2030"
    "0 0 0 L-3 * ?" "At 00:00:00, on the day 3 days before the last day of the month"
    "0 0 9 LW * ?" "At 09:00:00, on the last weekday of the month"
    "0 15 10 15W * ?" "At 10:15:00, on the weekday nearest day 15 of the month"
    "0 0 0 1-5W * ?" "At 00:00:00, on the weekday nearest each of days 1 through 5 of the month"
    "0 0 0 1,L * ?" "At 00:00:00, on day 1 of the month and on the last day of the month"
    "0 0 18 ? * FRIL" "At 18:00:00, on the last Friday of the month"
    "0 0 12 ? * mon-wedL" "At 12:00:00, on the last Monday, Tuesday and Wednesday of the month"
    "0 0 12 ? * MON#2,fri#1" "At 12:00:00, on the second Monday of the month and on the first Friday of the month"
    "0 0 12 ? * mon,wed,fri" "At 12:00:00, on Monday, Wednesday and Friday"
    "0 0 0 ? * */2" "At 00:00:00, on Sunday, Tuesday, Thursday and Saturday"
    "0 0 0 ? * 7-1" "At 00:00:00, on Sunday and Monday"
    "0 0 0 ? * SUNDAY" "At 00:00:00, on Sunday"
    "0 0 0 1 */3 ?" "At 00:00:00, on day 1 of the month, in January, April, July and October"
    "0 0/15 8-17 ? JAN-MAR,oct sat,sun" "At second 0, every 15 minutes starting at minute 0, between 08:00 and 17:59, on Saturday and Sunday, in January through March and October"
    "0 0 0 29 2 ?" "At 00:00:00, on day 29 of the month, in February"
    "0 0 0 1 1 ? 2030-2040/2" "At 00:00:00, on day 1 of the month, in January, every 2 years from 2030 through 2040"
    "0 0 0 1 1 ? */5" "At 00:00:00, on day 1 of the month, in January, every 5 years from 1970"
    "0 0 0 1 1 ? 2030,2035" "At 00:00:00, on day 1 of the month, in January, in 2030 and 2035"
    "R 0 3 * * ?" "At a random second (drawn when the text is read), at minute 0, between 03:00 and 03:59"
    "0 0 12 ? * R" "At 12:00:00, on a random day of the week (drawn when the text is read)"
    "0 0 0 1 R/2 ?" "At 00:00:00, on day 1 of the month, in every 2 months from a random start (drawn when the text is read)"
)
list(LENGTH explanations size)
math(EXPR last "${size} - 1")
foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET explanations ${i} text)
    list(GET explanations ${j} sentence)
    expect("explain_${i}" ARGS explain "${text}" --from "2030-01-01" FIRST_LINE "${sentence}")
endforeach()

# Wrong usage: a reason and the short usage text, exit status 2.
expect(usage_no_command
    STDERR "scheduler-cron: no command${usage}" STATUS 2)
expect(usage_unknown_command
    ARGS nxt "* * * * * ?"
    STDERR "scheduler-cron: unknown command 'nxt'${usage}" STATUS 2)
expect(usage_missing_text
    ARGS next --count 2
    STDERR "scheduler-cron: expected one TEXT${usage}" STATUS 2)
expect(usage_bad_time
    ARGS next "* * * * * ?" --from "2030-02-30 00:00:00"
    STDERR "scheduler-cron: bad --from time '2030-02-30 00:00:00'${usage}" STATUS 2)
expect(usage_bad_count
    ARGS prev "* * * * * ?" --count 0
    STDERR "scheduler-cron: bad --count '0'${usage}" STATUS 2)
expect(usage_option_of_another_command
    ARGS last "* * * * * ?" --count 2
    STDERR "scheduler-cron: --count is not for last${usage}" STATUS 2)
expect(usage_bad_definition
    ARGS range "utc:an hour:0 0 8 * * ?"
    STDERR "scheduler-cron: bad range definition 'utc:an hour:0 0 8 * * ?'${usage}" STATUS 2)

# Options before the command, `--` before a TEXT, --help after the command.
expect(usage_options_before_the_command
    ARGS --count 1 --from "2030-01-01 00:00:00" next -- "0 0 12 * * ?"
    STDOUT "2030-01-01 12:00:00\n")
expect(usage_unknown_option
    ARGS next "* * * * * ?" --every 2
    STDERR "scheduler-cron: unknown option --every${usage}" STATUS 2)
expect(usage_option_without_value
    ARGS next "* * * * * ?" --from
    STDERR "scheduler-cron: option --from needs a value${usage}" STATUS 2)
expect(usage_two_zones
    ARGS next "* * * * * ?" --utc --tz Europe/Berlin
    STDERR "scheduler-cron: give one of --tz, --local and --utc${usage}" STATUS 2)
expect(usage_unknown_zone
    ARGS next "* * * * * ?" --tz Europe/Atlantis
    STDERR "scheduler-cron: unknown time zone 'Europe/Atlantis'${usage}" STATUS 2)
expect(help
    ARGS next --help
    STDOUT_MATCHES "^Usage: .*next TEXT.*prev TEXT.*check TEXT.*last TEXT.*explain TEXT.*calendar TEXT.*range DEF.*--utc .*the default.*Exit status")
expect(version ARGS --version STDOUT_MATCHES "^scheduler-cron [0-9]+\\.[0-9]+\\.[0-9]+\n$")

if(failures)
    message(NOTICE "${failures}")
    message(FATAL_ERROR "scheduler-cron answered wrongly; the cases are listed above")
endif()
