#pragma once

// A parsed crontab and the two searches over it.
//
// A CCronTab is immutable: seven compiled fields and the normalised text they came from.
// FindNext gives the first matching second at or after a time point, FindPrevious the last
// at or before it. Both work in whatever time base the caller uses (UTC or local), know
// years 1970..2099 only, and answer "no occurrence" with not-a-date-time.
//
//     CCrontabParser parser;
//     std::shared_ptr<CCronTab> tab = parser.Parse("0 30 8 ? * mon-fri");
//     using boost::posix_time::time_from_string;
//     auto next = FindNext(*tab, time_from_string("2026-12-05 12:00:00"));
//     // 2026-12-07 08:30:00 (a Monday)
//
// Many threads may search one CCronTab at once; it holds no mutable state.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

#include "CrontabFieldDayOfMonth.h"
#include "CrontabFieldDayOfWeek.h"
#include "CrontabFields.h"

namespace Zent::Scheduler {

// The end of a count of matches: the last match counted (not-a-date-time when none) and
// how many were counted.
struct CountedMatches {
    boost::posix_time::ptime last;
    std::uint64_t count = 0;
};

class CCronTab {
public:
    // Keeps copies of seven compiled fields; `hasRandomItems` tells that the text holds `R`
    // items, whose values were drawn for this crontab alone. Raises
    // CCrontabValidationException "Both dayOfMonth & dayOfWeek have values." unless exactly
    // one of the two day fields is `?`.
    CCronTab(std::string text, const CCrontabFieldDayOfMonth& dayOfMonth,
             const CCrontabFieldDayOfWeek& dayOfWeek, const CCrontabFieldHour& hour,
             const CCrontabFieldMinute& minute, const CCrontabFieldMonth& month,
             const CCrontabFieldSecond& second, const CCrontabFieldYear& year,
             bool hasRandomItems = false);
    virtual ~CCronTab() = default;

    CCronTab(const CCronTab&) = delete;
    CCronTab& operator=(const CCronTab&) = delete;

    // The normalised text: fields separated by single blanks, no blanks at the ends.
    const std::string& GetText() const { return text_; }
    // True when the text holds `R` items: parsing it again draws other values.
    bool HasRandomItems() const { return hasRandomItems_; }

    const CCrontabFieldDayOfMonth& DayOfMonth() const { return dayOfMonth_; }
    const CCrontabFieldDayOfWeek& DayOfWeek() const { return dayOfWeek_; }
    const CCrontabFieldHour& Hour() const { return hour_; }
    const CCrontabFieldMinute& Minute() const { return minute_; }
    const CCrontabFieldMonth& Month() const { return month_; }
    const CCrontabFieldSecond& Second() const { return second_; }
    const CCrontabFieldYear& Year() const { return year_; }

private:
    friend boost::posix_time::ptime FindNext(const CCronTab&, boost::posix_time::ptime);
    friend boost::posix_time::ptime FindPrevious(const CCronTab&, boost::posix_time::ptime);
    friend CountedMatches FindNth(const CCronTab&, boost::posix_time::ptime,
                                  boost::posix_time::ptime, std::uint64_t);

    // The fields folded into plain masks, bit v for value v (years: bit y - 1970), and the
    // month day set of every month shape, so that a search never rebuilds a day set.
    struct SearchMasks {
        std::uint64_t second = 0;
        std::uint64_t minute = 0;
        std::uint64_t hour = 0;
        std::uint64_t month = 0;              // only months that can have a matching day at all
        std::array<std::uint64_t, 3> year{};  // only years with a matching day
        // the months of `month` with a matching day, by calendar (leap * 7 + weekday of
        // January 1st)
        std::array<std::uint16_t, 14> monthsByCalendar{};
        std::array<std::uint64_t, 28> days{};  // by shape: (length - 28) * 7 + first weekday
        // set when every year and month is allowed and a day matches by its weekday alone
        // (bit w: weekday w), as for `*` and plain weekday lists
        std::uint8_t weekdaysOnly = 0;
        bool hasEmptyField = false;  // only a crontab built by hand can lack values
    };

    // The matching days of one month, bit d for day d.
    std::uint64_t DayMask(int year, int month) const;
    // Whether the day `days` days after 1970-01-01 (up to 2099-12-31) has matching seconds.
    bool DayMatches(std::int64_t days) const;

    CCrontabFieldDayOfMonth dayOfMonth_;
    CCrontabFieldDayOfWeek dayOfWeek_;
    CCrontabFieldHour hour_;
    CCrontabFieldMinute minute_;
    CCrontabFieldMonth month_;
    CCrontabFieldSecond second_;
    CCrontabFieldYear year_;
    std::string text_;
    SearchMasks masks_;
    bool hasRandomItems_;
};

// The first whole second s >= t (t's fraction dropped first) that matches every field, or
// not-a-date-time when there is none up to 2099-12-31 23:59:59. A t before 1970 or after
// 2099, and a special t (not-a-date-time, an infinity), give not-a-date-time.
boost::posix_time::ptime FindNext(const CCronTab& crontab, boost::posix_time::ptime t);

// The last whole second s <= t (fraction dropped) that matches, or not-a-date-time when
// there is none from 1970-01-01 00:00:00 on. A t after 2099 searches from the end of 2099;
// a t before 1970 and a special t give not-a-date-time.
boost::posix_time::ptime FindPrevious(const CCronTab& crontab, boost::posix_time::ptime t);

// Counts the matching seconds strictly after `after` (its fraction dropped) and not later
// than `until`, and stops at the n-th: the same answer as n FindNext steps, each from one
// second past the match before, without stepping. When fewer than n match, `last` is the
// last of them and `count` their number. Starts before 1970 or after 2099 (where FindNext
// finds nothing), a special `after` or `until`, and n = 0 count nothing. Whole months and
// days are counted at once (every matching day has the same matching times of day), so
// the cost is bounded by the months between the two times, whatever n is. Raises
// "No value is set." as FindNext does.
CountedMatches FindNth(const CCronTab& crontab, boost::posix_time::ptime after,
                       boost::posix_time::ptime until, std::uint64_t n);

}  // namespace Zent::Scheduler
