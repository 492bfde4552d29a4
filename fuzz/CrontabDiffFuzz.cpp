// Differential libFuzzer target for the crontab searches: for every text the parser
// accepts, FindNext and FindPrevious from a few start times taken from the input are
// compared with a deliberately naive reference that walks the calendar one day at a time
// and then through the hours, minutes and seconds of a matching day. The reference reads
// only the compiled fields' public accessors and does its own calendar work with
// boost::gregorian. It walks at most two years of days; when it gives up, the engine must
// at least have found nothing inside the days it walked. A disagreement aborts with the
// text, the start, what the reference expected and what the engine gave.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/crontab/CronTab.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabValidationException.h"
#include "fuzz/FuzzInput.h"

namespace {

using boost::gregorian::date;
using boost::gregorian::days;
using boost::posix_time::ptime;
using boost::posix_time::seconds;
using Zent::Scheduler::CCronTab;
using Zent::Scheduler::CCrontabFieldDayOfMonth;
using Zent::Scheduler::CCrontabFieldDayOfWeek;
using Zent::Scheduler::CCrontabParser;

const date kFirstDay(1970, 1, 1);
const date kLastDay(2099, 12, 31);
const ptime kFirstSecond(kFirstDay);
const ptime kLastSecond(kLastDay, seconds(86399));
// How many days the reference walks before it gives up: two years.
constexpr int kScanDays = 731;

ptime WholeSecond(ptime t) {
    return t - boost::posix_time::microseconds(t.time_of_day().fractional_seconds());
}

bool IsWeekend(date day) {
    const int weekday = day.day_of_week().as_number();
    return weekday == boost::date_time::Saturday || weekday == boost::date_time::Sunday;
}

// The weekday nearest to `day` in its month: a Saturday moves to the Friday before unless
// that leaves the month (then the Monday after), a Sunday to the Monday after unless that
// leaves the month (then the Friday before).
date NearestWeekday(date day) {
    if (!IsWeekend(day)) return day;
    if (day.day_of_week().as_number() == boost::date_time::Saturday) {
        return day.day() == 1 ? day + days(2) : day - days(1);
    }
    return day == day.end_of_month() ? day - days(2) : day + days(1);
}

// The day-of-month rules: plain days, `L`/`L-n`, `dW` and `LW`.
bool MonthDayMatches(const CCrontabFieldDayOfMonth& field, date day) {
    const date last = day.end_of_month();
    if (field.Contains(day.day())) return true;
    for (const std::uint16_t offset : field.LastDayOffsets()) {
        if ((last - day).days() == offset) return true;
    }
    for (const std::uint16_t target : field.NearestWeekdayDays()) {
        if (target <= last.day() && NearestWeekday(date(day.year(), day.month(), target)) == day) {
            return true;
        }
    }
    return field.IsLastWeekdayOfMonth() && NearestWeekday(last) == day;
}

// The day-of-week rules: plain weekdays, `dL` and `d#n`.
bool WeekdayMatches(const CCrontabFieldDayOfWeek& field, date day) {
    const int weekday = day.day_of_week().as_number();
    if (field.Contains(weekday)) return true;
    if (field.LastWeekdays().count(weekday) != 0 && (day + days(7)).month() != day.month()) {
        return true;
    }
    const int occurrence = (day.day() - 1) / 7 + 1;
    for (const auto& [target, n] : field.NthWeekdays()) {
        if (target == weekday && n == occurrence) return true;
    }
    return false;
}

bool DayMatches(const CCronTab& tab, date day) {
    if (!tab.Year().Contains(day.year()) || !tab.Month().Contains(day.month())) return false;
    return tab.DayOfMonth().IsAnyValue() ? WeekdayMatches(tab.DayOfWeek(), day)
                                         : MonthDayMatches(tab.DayOfMonth(), day);
}

// The first matching second of the day at or after `from` (seconds since midnight).
std::optional<int> FirstSecondOfDay(const CCronTab& tab, int from) {
    for (int hour = from / 3600; hour < 24; ++hour) {
        if (!tab.Hour().Contains(hour)) continue;
        for (int minute = hour == from / 3600 ? from / 60 % 60 : 0; minute < 60; ++minute) {
            if (!tab.Minute().Contains(minute)) continue;
            const bool startMinute = hour == from / 3600 && minute == from / 60 % 60;
            for (int second = startMinute ? from % 60 : 0; second < 60; ++second) {
                if (tab.Second().Contains(second)) return hour * 3600 + minute * 60 + second;
            }
        }
    }
    return std::nullopt;
}

// The last matching second of the day at or before `to` (seconds since midnight).
std::optional<int> LastSecondOfDay(const CCronTab& tab, int to) {
    for (int hour = to / 3600; hour >= 0; --hour) {
        if (!tab.Hour().Contains(hour)) continue;
        for (int minute = hour == to / 3600 ? to / 60 % 60 : 59; minute >= 0; --minute) {
            if (!tab.Minute().Contains(minute)) continue;
            const bool startMinute = hour == to / 3600 && minute == to / 60 % 60;
            for (int second = startMinute ? to % 60 : 59; second >= 0; --second) {
                if (tab.Second().Contains(second)) return hour * 3600 + minute * 60 + second;
            }
        }
    }
    return std::nullopt;
}

// What the reference makes of one search: a time point (not-a-date-time for "none"), or
// no verdict, with the last day it walked.
struct Verdict {
    std::optional<ptime> expected;
    date walkedTo;
};

Verdict ReferenceNext(const CCronTab& tab, ptime t) {
    const ptime start = WholeSecond(t);
    if (start < kFirstSecond || start > kLastSecond) {
        return {ptime(boost::posix_time::not_a_date_time), kLastDay};
    }
    const date stop = std::min(kLastDay, start.date() + days(kScanDays));
    for (date day = start.date(); day <= stop; day += days(1)) {
        if (!DayMatches(tab, day)) continue;
        const int from = day == start.date() ? start.time_of_day().total_seconds() : 0;
        if (const std::optional<int> second = FirstSecondOfDay(tab, from)) {
            return {ptime(day, seconds(*second)), stop};
        }
    }
    if (stop == kLastDay) return {ptime(boost::posix_time::not_a_date_time), stop};
    return {std::nullopt, stop};
}

Verdict ReferencePrevious(const CCronTab& tab, ptime t) {
    const ptime start = std::min(WholeSecond(t), kLastSecond);
    if (start < kFirstSecond) {
        return {ptime(boost::posix_time::not_a_date_time), kFirstDay};
    }
    const date stop = std::max(kFirstDay, start.date() - days(kScanDays));
    for (date day = start.date(); day >= stop; day -= days(1)) {
        if (!DayMatches(tab, day)) continue;
        const int to = day == start.date() ? start.time_of_day().total_seconds() : 86399;
        if (const std::optional<int> second = LastSecondOfDay(tab, to)) {
            return {ptime(day, seconds(*second)), stop};
        }
    }
    if (stop == kFirstDay) return {ptime(boost::posix_time::not_a_date_time), stop};
    return {std::nullopt, stop};
}

void Mismatch(const CCronTab& tab, const char* search, ptime start, const std::string& expected,
              ptime got) {
    std::cerr << "crontab search disagrees with the reference: " << search << "\n  text:     \""
              << tab.GetText() << "\"\n  start:    " << start << "\n  expected: " << expected
              << "\n  got:      " << got << std::endl;
    std::abort();
}

void CompareNext(const CCronTab& tab, ptime t) {
    const ptime got = FindNext(tab, t);
    const Verdict verdict = ReferenceNext(tab, t);
    if (verdict.expected) {
        if (got != *verdict.expected) {
            Mismatch(tab, "FindNext", t, boost::posix_time::to_simple_string(*verdict.expected),
                     got);
        }
    } else if (!got.is_not_a_date_time() && got.date() <= verdict.walkedTo) {
        Mismatch(tab, "FindNext", t,
                 "no match up to " + boost::gregorian::to_simple_string(verdict.walkedTo), got);
    }
}

void ComparePrevious(const CCronTab& tab, ptime t) {
    const ptime got = FindPrevious(tab, t);
    const Verdict verdict = ReferencePrevious(tab, t);
    if (verdict.expected) {
        if (got != *verdict.expected) {
            Mismatch(tab, "FindPrevious", t, boost::posix_time::to_simple_string(*verdict.expected),
                     got);
        }
    } else if (!got.is_not_a_date_time() && got.date() >= verdict.walkedTo) {
        Mismatch(tab, "FindPrevious", t,
                 "no match back to " + boost::gregorian::to_simple_string(verdict.walkedTo), got);
    }
}

// The ends of the supported years; a time anywhere in 1965..2104 with a fraction; a time
// in one of the crontab's own years; and the last second of a month of that year and the
// first second after it, where the month-end rules turn.
std::vector<ptime> StartTimes(const CCronTab& tab, std::uint64_t hash) {
    const ptime from(date(1965, 1, 1));
    const std::uint64_t span = 140ull * 366 * 86400;
    const ptime anywhere =
        from + seconds(static_cast<long>(hash % span)) +
        boost::posix_time::microseconds(static_cast<long>((hash >> 44) % 1000000));

    std::vector<int> years;
    for (int year = kFirstDay.year(); year <= kLastDay.year(); ++year) {
        if (tab.Year().Contains(year)) years.push_back(year);
    }
    const int year = years.empty() ? 2030 : years[(hash >> 16) % years.size()];
    const ptime inYear(date(year, 1, 1) + days(static_cast<long>((hash >> 24) % 365)),
                       seconds(static_cast<long>((hash >> 33) % 86400)));
    const date monthEnd =
        date(year, static_cast<unsigned short>(1 + (hash >> 52) % 12), 1).end_of_month();
    const ptime lastOfMonth(monthEnd, seconds(86399));

    return {kFirstSecond, kLastSecond, anywhere, inYear, lastOfMonth, lastOfMonth + seconds(1)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CCrontabParser parser(Zent::Fuzz::NextRandom);
    const std::uint64_t hash = Zent::Fuzz::InputHash(data, size);
    Zent::Fuzz::ReseedRandom(hash);
    std::shared_ptr<CCronTab> tab;
    try {
        tab = parser.Parse(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const Zent::Scheduler::CCrontabValidationException&) {
        return 0;
    }
    for (const ptime& t : StartTimes(*tab, hash)) {
        CompareNext(*tab, t);
        ComparePrevious(*tab, t);
    }
    return 0;
}
