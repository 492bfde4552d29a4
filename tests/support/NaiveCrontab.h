#pragma once

// A deliberately slow crontab reference for differential tests and fuzzers: only the
// compiled fields' public accessors, boost::gregorian for every calendar fact, one day and
// then one hour, minute and second at a time.
//
//     const NaiveVerdict v = NaiveSearch(tab, from, Direction::kNext, 4000);
//     if (v.found) EXPECT_EQ(FindNext(tab, from), *v.found);  // not-a-date-time: none

#include <algorithm>
#include <optional>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/crontab/CronTab.h"

namespace Zent::Testing {

enum class Direction { kNext, kPrevious };

// The Monday-to-Friday day nearest to `day` without leaving its month: Saturday to the
// Friday before (the 1st to Monday the 3rd), Sunday to the Monday after (the last day to
// the Friday before).
inline boost::gregorian::date NearestWeekday(boost::gregorian::date day) {
    using boost::gregorian::days;
    const int weekday = day.day_of_week().as_number();
    if (weekday == 6) return day.day() == 1 ? day + days(2) : day - days(1);
    if (weekday == 0) return day == day.end_of_month() ? day - days(2) : day + days(1);
    return day;
}

// Whether `day` matches the day-of-month or day-of-week field (years and months aside).
inline bool NaiveDayMatches(const Scheduler::CCronTab& tab, boost::gregorian::date day) {
    using boost::gregorian::date;
    const date last = day.end_of_month();
    const int weekday = day.day_of_week().as_number();
    if (tab.DayOfMonth().IsAnyValue()) {
        const auto& field = tab.DayOfWeek();
        if (field.Contains(weekday)) return true;
        if (field.LastWeekdays().count(weekday) && (last - day).days() < 7) return true;
        return field.NthWeekdays().count({weekday, (day.day() - 1) / 7 + 1}) > 0;
    }
    const auto& field = tab.DayOfMonth();
    if (field.Contains(day.day())) return true;
    for (const auto offset : field.LastDayOffsets()) {
        if ((last - day).days() == offset) return true;
    }
    for (const auto target : field.NearestWeekdayDays()) {
        if (target <= last.day() && NearestWeekday(date(day.year(), day.month(), target)) == day) {
            return true;
        }
    }
    return field.IsLastWeekdayOfMonth() && NearestWeekday(last) == day;
}

// The first (kNext) or last (kPrevious) matching second of a matching day, starting at
// `from` seconds after midnight and walking in the search's direction.
inline std::optional<int> NaiveSecondOfDay(const Scheduler::CCronTab& tab, int from,
                                           Direction direction) {
    const bool next = direction == Direction::kNext;
    for (int s = from; s >= 0 && s < 86400;) {
        const int hour = s / 3600 * 3600, minute = s / 60 * 60;  // their first seconds
        if (!tab.Hour().Contains(s / 3600))
            s = next ? hour + 3600 : hour - 1;
        else if (!tab.Minute().Contains(s / 60 % 60))
            s = next ? minute + 60 : minute - 1;
        else if (tab.Second().Contains(s % 60))
            return s;
        else
            s += next ? 1 : -1;
    }
    return std::nullopt;
}

// A search's outcome: `found` is the match (not-a-date-time: none up to the year bound),
// or empty when the walk gave up; then nothing matches from the start through `walkedTo`.
struct NaiveVerdict {
    std::optional<boost::posix_time::ptime> found;
    boost::gregorian::date walkedTo;
};

// FindNext / FindPrevious the slow way (fractions dropped, years 1970..2099; a later start
// searches back from the end of 2099). Gives up after `maxDays` steps, each a day of an
// allowed month or a whole month or year skipped.
inline NaiveVerdict NaiveSearch(const Scheduler::CCronTab& tab, boost::posix_time::ptime t,
                                Direction direction, int maxDays) {
    using namespace boost::gregorian;
    using namespace boost::posix_time;
    const bool next = direction == Direction::kNext;
    const date first(1970, 1, 1), last(2099, 12, 31), bound = next ? last : first;
    if (t.is_special()) return {ptime(), bound};
    ptime start = t - microseconds(t.time_of_day().fractional_seconds());
    if (!next) start = std::min(start, ptime(last, seconds(86399)));
    if (start < ptime(first) || start.date() > last) return {ptime(), bound};
    date day = start.date();
    int from = static_cast<int>(start.time_of_day().total_seconds());
    for (int walked = 0;; from = next ? 0 : 86399) {
        if (!tab.Year().Contains(day.year())) {
            day = next ? date(day.year(), 12, 31) : date(day.year(), 1, 1);
        } else if (!tab.Month().Contains(day.month())) {
            day = next ? day.end_of_month() : date(day.year(), day.month(), 1);
        } else if (NaiveDayMatches(tab, day)) {
            if (const auto s = NaiveSecondOfDay(tab, from, direction)) {
                return {ptime(day, seconds(*s)), day};
            }
        }
        if (day == bound) return {ptime(), day};
        if (++walked > maxDays) return {std::nullopt, day};
        day += days(next ? 1 : -1);
    }
}

}  // namespace Zent::Testing
