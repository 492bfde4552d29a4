#include "CronTab.h"

#include <bit>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace Zent::Scheduler {

namespace {

using boost::posix_time::ptime;

constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2099;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMicrosecondsPerSecond = 1000000;

// Days from 1970-01-01 to a date of 1970..2099 and back. In 1901..2099 every fourth year
// is a leap year, so four-year cycles of years that begin on March 1st (the leap day
// closing the cycle) need only small constant divisions.
constexpr int kCycleOrigin = 671;  // days from 1968-03-01 to 1970-01-01

constexpr int DaysFromCivil(int y, int m, int d) {
    const int years = y - 1968 - (m <= 2);
    const int marchMonth = m > 2 ? m - 3 : m + 9;
    return years * 365 + years / 4 + (153 * marchMonth + 2) / 5 + d - 1 - kCycleOrigin;
}

struct CivilDate {
    int year;
    int month;
    int day;
};

constexpr CivilDate CivilFromDays(std::int64_t days) {
    const auto n = static_cast<std::uint32_t>(days + kCycleOrigin);
    const std::uint32_t cycle = n / 1461, inCycle = n % 1461;
    const std::uint32_t yearInCycle = std::min(inCycle / 365, 3u);  // 4 only on the leap day
    const std::uint32_t dayOfYear = inCycle - 365 * yearInCycle;
    const std::uint32_t marchMonth = (5 * dayOfYear + 2) / 153;
    const int month = static_cast<int>(marchMonth < 10 ? marchMonth + 3 : marchMonth - 9);
    return {static_cast<int>(1968 + 4 * cycle + yearInCycle) + (month <= 2), month,
            static_cast<int>(dayOfYear - (153 * marchMonth + 2) / 5 + 1)};
}

static_assert(DaysFromCivil(1970, 1, 1) == 0 && DaysFromCivil(2000, 3, 1) == 11017);
static_assert(CivilFromDays(11016).month == 2 && CivilFromDays(11016).day == 29);
static_assert(CivilFromDays(DaysFromCivil(2099, 12, 31)).year == 2099);

// The first second of 2100: no search goes past it.
constexpr std::int64_t kEndOfRange = std::int64_t{DaysFromCivil(2099, 12, 31) + 1} * kSecondsPerDay;

// The count of microseconds ptime keeps for 1970-01-01 00:00:00: day number 2440588 of
// the date library's calendar.
constexpr std::int64_t kEpochTicks =
    std::int64_t{2440588} * kSecondsPerDay * kMicrosecondsPerSecond;

static_assert(boost::posix_time::time_duration::ticks_per_second() == kMicrosecondsPerSecond);

ptime TimeOf(std::int64_t seconds) {
    return ptime(ptime::time_rep_type(kEpochTicks + seconds * kMicrosecondsPerSecond));
}

// Whole seconds from 1970-01-01 00:00:00 to a real time point, rounded down.
std::int64_t SecondsOf(const ptime& t) {
    const std::int64_t ticks = (t - TimeOf(0)).ticks();
    return ticks / kMicrosecondsPerSecond - (ticks % kMicrosecondsPerSecond < 0);
}

constexpr bool IsLeapYear(int y) {
    return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

constexpr int DaysInMonth(int y, int m) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// The weekday (0 = Sunday) of the day `days` days after 1970-01-01, a Thursday.
constexpr int WeekdayOf(std::int64_t days) {
    return static_cast<int>((days + 4) % 7);
}

// The smallest set bit >= from, or -1.
int NextBit(std::uint64_t mask, int from) {
    if (from > 63) return -1;
    const std::uint64_t rest = mask & (~std::uint64_t{0} << from);
    return rest ? std::countr_zero(rest) : -1;
}

// The largest set bit <= from, or -1.
int PrevBit(std::uint64_t mask, int from) {
    if (from < 0) return -1;
    const std::uint64_t rest = from >= 63 ? mask : mask & ((std::uint64_t{2} << from) - 1);
    return rest ? 63 - std::countl_zero(rest) : -1;
}

// The set bit with n set bits below it; n is less than the number of set bits.
int NthBit(std::uint64_t mask, std::uint64_t n) {
    for (; n > 0; --n)
        mask &= mask - 1;
    return std::countr_zero(mask);
}

std::uint64_t BitsBelow(int bit) {
    return (std::uint64_t{1} << bit) - 1;
}

using YearMask = std::array<std::uint64_t, 3>;

bool HasYear(const YearMask& years, int y) {
    const auto index = static_cast<unsigned>(y - kFirstYear);
    return (years[index / 64] >> (index % 64)) & 1;
}

// The smallest allowed year >= y, or -1.
int NextYear(const YearMask& years, int y) {
    for (int index = y - kFirstYear; index < 130; index = (index / 64 + 1) * 64) {
        const int bit = NextBit(years[index / 64], index % 64);
        if (bit >= 0) return kFirstYear + index / 64 * 64 + bit;
    }
    return -1;
}

// The largest allowed year <= y, or -1.
int PrevYear(const YearMask& years, int y) {
    for (int index = y - kFirstYear; index >= 0; index = index / 64 * 64 - 1) {
        const int bit = PrevBit(years[index / 64], index % 64);
        if (bit >= 0) return kFirstYear + index / 64 * 64 + bit;
    }
    return -1;
}

// Every year of 1970..2099 has one of 14 calendars: leap or not, and the weekday of its
// January 1st. kYearsByCalendar[leap * 7 + weekday] holds the years of each.
constexpr int CalendarOf(int y) {
    return IsLeapYear(y) * 7 + WeekdayOf(DaysFromCivil(y, 1, 1));
}

constexpr std::array<YearMask, 14> kYearsByCalendar = [] {
    std::array<YearMask, 14> years{};
    for (int y = kFirstYear; y <= kLastYear; ++y) {
        const int index = y - kFirstYear;
        years[CalendarOf(y)][index / 64] |= std::uint64_t{1} << (index % 64);
    }
    return years;
}();

// The shape of every month of every calendar: (length - 28) * 7 + the weekday of its 1st,
// the index of its day set in SearchMasks::days. Month 0 is unused.
constexpr std::array<std::array<std::uint8_t, 13>, 14> kShapes = [] {
    std::array<std::array<std::uint8_t, 13>, 14> shapes{};
    for (int calendar = 0; calendar < 14; ++calendar) {
        int firstWeekday = calendar % 7;
        for (int m = 1; m <= 12; ++m) {
            const int length = m == 2 ? 28 + calendar / 7 : DaysInMonth(2001, m);
            shapes[calendar][m] = static_cast<std::uint8_t>((length - 28) * 7 + firstWeekday);
            firstWeekday = (firstWeekday + length) % 7;
        }
    }
    return shapes;
}();

// The months of each calendar that have a given shape: kMonthsByShape[shape][calendar].
constexpr std::array<std::array<std::uint16_t, 14>, 28> kMonthsByShape = [] {
    std::array<std::array<std::uint16_t, 14>, 28> months{};
    for (int calendar = 0; calendar < 14; ++calendar) {
        for (int m = 1; m <= 12; ++m)
            months[kShapes[calendar][m]][calendar] |= static_cast<std::uint16_t>(1u << m);
    }
    return months;
}();

constexpr std::array<std::uint8_t, 130> kCalendars = [] {
    std::array<std::uint8_t, 130> calendars{};
    for (int y = kFirstYear; y <= kLastYear; ++y)
        calendars[y - kFirstYear] = static_cast<std::uint8_t>(CalendarOf(y));
    return calendars;
}();

constexpr int ShapeOf(int year, int month) {
    return kShapes[kCalendars[year - kFirstYear]][month];
}

std::uint64_t ShiftedDays(std::uint32_t days) {
    return std::uint64_t{days} << 1;
}

}  // namespace

CCronTab::CCronTab(std::string text, const CCrontabFieldDayOfMonth& dayOfMonth,
                   const CCrontabFieldDayOfWeek& dayOfWeek, const CCrontabFieldHour& hour,
                   const CCrontabFieldMinute& minute, const CCrontabFieldMonth& month,
                   const CCrontabFieldSecond& second, const CCrontabFieldYear& year,
                   bool hasRandomItems)
    : dayOfMonth_(dayOfMonth),
      dayOfWeek_(dayOfWeek),
      hour_(hour),
      minute_(minute),
      month_(month),
      second_(second),
      year_(year),
      text_(std::move(text)),
      hasRandomItems_(hasRandomItems) {
    if (dayOfMonth_.IsAnyValue() == dayOfWeek_.IsAnyValue()) {
        // Fixed text (matched by other modules and operators): keep verbatim, typos too.
        throw CCrontabValidationException("Both dayOfMonth & dayOfWeek have values.");
    }

    masks_.second = second_.Values().to_ullong();
    masks_.minute = minute_.Values().to_ullong();
    masks_.hour = hour_.Values().to_ullong();
    masks_.hasEmptyField =
        masks_.second == 0 || masks_.minute == 0 || masks_.hour == 0 || month_.Values().none();

    const CCrontabFieldYear::Bits word(~std::uint64_t{0});
    const CCrontabFieldYear::Bits& years = year_.Values();
    masks_.year = {(years & word).to_ullong(), ((years >> 64) & word).to_ullong(),
                   (years >> 128).to_ullong()};

    // Plain days and last-day offsets do not depend on the weekday a month starts with;
    // plain weekdays repeat one week pattern.
    const std::uint64_t weekdays = dayOfWeek_.Values().to_ulong();
    const bool byDayOfMonth = !dayOfMonth_.IsAnyValue();
    const bool nearestWeekdays =
        dayOfMonth_.HasNearestWeekdays() || dayOfMonth_.IsLastWeekdayOfMonth();
    const bool plainWeekdays = !byDayOfMonth && !dayOfWeek_.HasSuffixedWeekdays();
    const bool lastWeekdays = !byDayOfMonth && dayOfWeek_.HasLastWeekdays();
    // Plain and n-th weekdays of the longest month of each first weekday; shorter months
    // cut them.
    std::array<std::uint32_t, 7> weekdayDays{};
    if (!byDayOfMonth) {
        for (unsigned weekday = 0; weekday < 7; ++weekday) {
            weekdayDays[weekday] = CCrontabFieldDayOfMonth::WeekdayDays(weekdays, 31, weekday) |
                                   CCrontabFieldDayOfMonth::NthWeekdayDays(dayOfWeek_, weekday);
        }
    }
    for (unsigned length = 28; length <= 31; ++length) {
        const std::uint32_t fixed =
            byDayOfMonth ? CCrontabFieldDayOfMonth::FixedDays(dayOfMonth_, length) : 0;
        const std::array<std::uint32_t, 7> nearest =
            nearestWeekdays ? CCrontabFieldDayOfMonth::NearestDays(dayOfMonth_, length)
                            : std::array<std::uint32_t, 7>{};
        for (unsigned weekday = 0; weekday < 7; ++weekday) {
            std::uint32_t days = fixed;
            if (byDayOfMonth) {
                days |= nearest[weekday];
            } else {
                days = weekdayDays[weekday] & ((std::uint32_t{2} << (length - 1)) - 1);
                if (lastWeekdays) {
                    days |= CCrontabFieldDayOfMonth::LastWeekdayDays(dayOfWeek_, length, weekday);
                }
            }
            masks_.days[(length - 28) * 7 + weekday] = ShiftedDays(days);
        }
    }

    // A month enters the search only when some month of its shape can have a matching day,
    // so that a day rule no month satisfies (the 30th of February) costs nothing.
    std::uint32_t shapesWithDays = 0;
    for (int shape = 0; shape < 28; ++shape) {
        if (masks_.days[shape] != 0) shapesWithDays |= std::uint32_t{1} << shape;
    }
    auto anyDay = [shapesWithDays](unsigned length) {
        return (shapesWithDays >> ((length - 28) * 7) & 0x7F) != 0;
    };
    constexpr std::uint64_t kLongMonths = 0b1'0101'1010'1010;   // bit m: 31 days
    constexpr std::uint64_t kShortMonths = 0b0'1010'0101'0000;  // bit m: 30 days
    const std::uint64_t possible = (anyDay(31) ? kLongMonths : 0) |
                                   (anyDay(30) ? kShortMonths : 0) |
                                   (anyDay(28) || anyDay(29) ? 0b100 : 0);
    masks_.month = month_.Values().to_ullong() << 1 & possible;

    // The months with a matching day in each of the 14 calendars, and the years whose
    // calendar has none dropped, so that a search never walks such months or years one by
    // one (the fifth Friday of February in a list of years). Only needed when some month
    // shape has no matching day.
    // Every day of every month and year allowed, or a plain set of weekdays: a day matches
    // by its weekday alone.
    const bool everyYear = masks_.year[0] == ~std::uint64_t{0} &&
                           masks_.year[1] == ~std::uint64_t{0} && masks_.year[2] == 0b11;
    if (everyYear && masks_.month == 0b1'1111'1111'1110) {
        bool everyDay = true;
        for (unsigned length = 28; length <= 31; ++length) {
            for (unsigned weekday = 0; weekday < 7; ++weekday) {
                everyDay = everyDay && masks_.days[(length - 28) * 7 + weekday] ==
                                           ((std::uint64_t{1} << length) - 1) << 1;
            }
        }
        if (everyDay) {
            masks_.weekdaysOnly = 0x7F;
        } else if (plainWeekdays) {
            masks_.weekdaysOnly = static_cast<std::uint8_t>(weekdays);
        }
    }
    masks_.monthsByCalendar.fill(masks_.month);
    if (shapesWithDays != (std::uint32_t{1} << 28) - 1) {
        std::array<std::uint16_t, 14> months{};
        for (std::uint32_t rest = shapesWithDays; rest != 0; rest &= rest - 1) {
            const auto& byCalendar = kMonthsByShape[std::countr_zero(rest)];
            for (int calendar = 0; calendar < 14; ++calendar)
                months[calendar] |= byCalendar[calendar];
        }
        YearMask kept{};
        for (int calendar = 0; calendar < 14; ++calendar) {
            masks_.monthsByCalendar[calendar] =
                static_cast<std::uint16_t>(months[calendar] & masks_.month);
            if (masks_.monthsByCalendar[calendar] == 0) continue;
            for (int word = 0; word < 3; ++word)
                kept[word] |= kYearsByCalendar[calendar][word];
        }
        for (int word = 0; word < 3; ++word)
            masks_.year[word] &= kept[word];
    }
}

std::uint64_t CCronTab::DayMask(int year, int month) const {
    return masks_.days[ShapeOf(year, month)];
}

bool CCronTab::DayMatches(std::int64_t days) const {
    const CivilDate c = CivilFromDays(days);
    return HasYear(masks_.year, c.year) && (masks_.month >> c.month & 1) &&
           (DayMask(c.year, c.month) >> c.day & 1);
}

namespace {

// The time of day split into its fields.
struct Clock {
    int hour;
    int minute;
    int second;
};

Clock ClockOf(int secondOfDay) {
    return {secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60};
}

// The first matching second of a matching day at or after `from`, as seconds of the
// day, or -1: the answer when it lies on the start's own day, with no calendar work.
template <typename Masks>
int NextInDay(const Masks& k, Clock from) {
    if (k.hour >> from.hour & 1) {
        if (k.minute >> from.minute & 1) {
            const int second = NextBit(k.second, from.second);
            if (second >= 0) return from.hour * 3600 + from.minute * 60 + second;
        }
        const int minute = NextBit(k.minute, from.minute + 1);
        if (minute >= 0) return from.hour * 3600 + minute * 60 + std::countr_zero(k.second);
    }
    const int hour = NextBit(k.hour, from.hour + 1);
    if (hour < 0) return -1;
    return hour * 3600 + std::countr_zero(k.minute) * 60 + std::countr_zero(k.second);
}

// The last matching second of a matching day at or before `to`, or -1.
template <typename Masks>
int PreviousInDay(const Masks& k, Clock to) {
    if (k.hour >> to.hour & 1) {
        if (k.minute >> to.minute & 1) {
            const int second = PrevBit(k.second, to.second);
            if (second >= 0) return to.hour * 3600 + to.minute * 60 + second;
        }
        const int minute = PrevBit(k.minute, to.minute - 1);
        if (minute >= 0) return to.hour * 3600 + minute * 60 + 63 - std::countl_zero(k.second);
    }
    const int hour = PrevBit(k.hour, to.hour - 1);
    if (hour < 0) return -1;
    return hour * 3600 + (63 - std::countl_zero(k.minute)) * 60 + 63 - std::countl_zero(k.second);
}

// The matching days of the month of `c`, when its year and month are allowed.
template <typename Masks>
std::uint64_t DaysAround(const Masks& k, const CivilDate& c) {
    if (!HasYear(k.year, c.year) || !(k.month >> c.month & 1)) return 0;
    return k.days[ShapeOf(c.year, c.month)];
}

}  // namespace

boost::posix_time::ptime FindNext(const CCronTab& crontab, boost::posix_time::ptime t) {
    if (t.is_special()) return {};
    const CCronTab::SearchMasks& k = crontab.masks_;
    // Fixed text (matched by other modules and operators): keep verbatim, typos too.
    if (k.hasEmptyField) throw CCrontabValidationException("No value is set.");
    const std::int64_t seconds = SecondsOf(t);
    if (seconds < 0 || seconds >= kEndOfRange) return {};
    const std::int64_t today = seconds / kSecondsPerDay;
    const Clock clock = ClockOf(static_cast<int>(seconds % kSecondsPerDay));
    // The civil date only when the day rule needs it, or the search goes on past today.
    const bool byWeekday = k.weekdaysOnly != 0;
    CivilDate start{};
    if (!byWeekday) start = CivilFromDays(today);
    if (byWeekday ? k.weekdaysOnly >> WeekdayOf(today) & 1
                  : DaysAround(k, start) >> start.day & 1) {
        const int second = NextInDay(k, clock);
        if (second >= 0) return TimeOf(today * kSecondsPerDay + second);
    }
    if (byWeekday) start = CivilFromDays(today);
    if (k.month == 0) return {};  // no month ever has a matching day

    // From the day after: the first second of the first matching day.
    int y = start.year, mo = start.month, d = start.day + 1;
    for (;;) {
        const int year = NextYear(k.year, y);
        if (year < 0) return {};
        if (year != y) {
            y = year;
            mo = d = 1;
        }
        const std::uint64_t months = k.monthsByCalendar[kCalendars[y - kFirstYear]];
        for (int month; (month = NextBit(months, mo)) >= 0; ++mo, d = 1) {
            if (month != mo) {
                mo = month;
                d = 1;
            }
            const int day = NextBit(crontab.DayMask(y, mo), d);
            if (day >= 0) {
                return TimeOf(DaysFromCivil(y, mo, day) * kSecondsPerDay +
                              std::countr_zero(k.hour) * 3600 + std::countr_zero(k.minute) * 60 +
                              std::countr_zero(k.second));
            }
        }
        if (++y > kLastYear) return {};
        mo = d = 1;
    }
}

boost::posix_time::ptime FindPrevious(const CCronTab& crontab, boost::posix_time::ptime t) {
    if (t.is_special()) return {};
    const CCronTab::SearchMasks& k = crontab.masks_;
    // Fixed text (matched by other modules and operators): keep verbatim, typos too.
    if (k.hasEmptyField) throw CCrontabValidationException("No value is set.");
    const std::int64_t seconds = std::min(SecondsOf(t), kEndOfRange - 1);
    if (seconds < 0) return {};
    const std::int64_t today = seconds / kSecondsPerDay;
    const Clock clock = ClockOf(static_cast<int>(seconds % kSecondsPerDay));
    // The civil date only when the day rule needs it, or the search goes on past today.
    const bool byWeekday = k.weekdaysOnly != 0;
    CivilDate start{};
    if (!byWeekday) start = CivilFromDays(today);
    if (byWeekday ? k.weekdaysOnly >> WeekdayOf(today) & 1
                  : DaysAround(k, start) >> start.day & 1) {
        const int second = PreviousInDay(k, clock);
        if (second >= 0) return TimeOf(today * kSecondsPerDay + second);
    }
    if (byWeekday) start = CivilFromDays(today);
    if (k.month == 0) return {};

    // From the day before: the last second of the last matching day.
    int y = start.year, mo = start.month, d = start.day - 1;
    for (;;) {
        const int year = PrevYear(k.year, y);
        if (year < 0) return {};
        if (year != y) {
            y = year;
            mo = 12;
            d = 31;
        }
        const std::uint64_t months = k.monthsByCalendar[kCalendars[y - kFirstYear]];
        for (int month; (month = PrevBit(months, mo)) >= 0; --mo, d = 31) {
            if (month != mo) {
                mo = month;
                d = 31;
            }
            const int day = PrevBit(crontab.DayMask(y, mo), d);
            if (day > 0) {
                return TimeOf(DaysFromCivil(y, mo, day) * kSecondsPerDay +
                              (63 - std::countl_zero(k.hour)) * 3600 +
                              (63 - std::countl_zero(k.minute)) * 60 + 63 -
                              std::countl_zero(k.second));
            }
        }
        if (--y < kFirstYear) return {};
        mo = 12;
        d = 31;
    }
}

namespace {

// Matches of one matching day: the time-of-day fields alone decide, so every matching day
// has the same ones, ranked 0, 1, ... in time order.
template <typename Masks>
struct DayRanks {
    explicit DayRanks(const Masks& masks)
        : k(masks),
          perMinute(static_cast<std::uint64_t>(std::popcount(k.second))),
          perHour(perMinute * static_cast<std::uint64_t>(std::popcount(k.minute))),
          perDay(perHour * static_cast<std::uint64_t>(std::popcount(k.hour))),
          lastOfDay((63 - std::countl_zero(k.hour)) * 3600 +
                    (63 - std::countl_zero(k.minute)) * 60 + 63 - std::countl_zero(k.second)) {}

    // How many matches lie before second `secondOfDay` (0..86400) of the day.
    std::uint64_t Before(int secondOfDay) const {
        if (secondOfDay >= kSecondsPerDay) return perDay;
        const Clock c = ClockOf(secondOfDay);
        std::uint64_t rank = std::popcount(k.hour & BitsBelow(c.hour)) * perHour;
        if (k.hour >> c.hour & 1) {
            rank += std::popcount(k.minute & BitsBelow(c.minute)) * perMinute;
            if (k.minute >> c.minute & 1) rank += std::popcount(k.second & BitsBelow(c.second));
        }
        return rank;
    }

    // The second of the day of the match ranked `rank` (< perDay).
    int At(std::uint64_t rank) const {
        if (rank + 1 == perDay) return lastOfDay;
        const int hour = NthBit(k.hour, rank / perHour);
        const int minute = NthBit(k.minute, rank % perHour / perMinute);
        const int second = NthBit(k.second, rank % perMinute);
        return hour * 3600 + minute * 60 + second;
    }

    const Masks& k;
    std::uint64_t perMinute;
    std::uint64_t perHour;
    std::uint64_t perDay;
    int lastOfDay;  // the second of the day of the last match
};

}  // namespace

CountedMatches FindNth(const CCronTab& crontab, boost::posix_time::ptime after,
                       boost::posix_time::ptime until, std::uint64_t n) {
    if (n == 0 || after.is_special() || until.is_special()) return {};
    const CCronTab::SearchMasks& k = crontab.masks_;
    // Fixed text (matched by other modules and operators): keep verbatim, typos too.
    if (k.hasEmptyField) throw CCrontabValidationException("No value is set.");
    const std::int64_t first = SecondsOf(after) + 1;
    const std::int64_t last = std::min(SecondsOf(until), kEndOfRange - 1);
    if (first < 0 || first >= kEndOfRange || last < first || k.month == 0) return {};

    const DayRanks<CCronTab::SearchMasks> ranks(k);
    std::uint64_t counted = 0;
    std::int64_t lastMatch = -1;
    // Counts the matches of one day of seconds fromSecond..toSecond; true at the n-th.
    auto countDay = [&](std::int64_t day, int fromSecond, int toSecond) {
        if (!crontab.DayMatches(day)) return false;
        const std::uint64_t below = ranks.Before(fromSecond);
        const std::uint64_t through = ranks.Before(toSecond + 1);
        if (through == below) return false;
        const std::uint64_t wanted = n - counted;
        if (through - below >= wanted) {
            lastMatch = day * kSecondsPerDay + ranks.At(below + wanted - 1);
            counted = n;
            return true;
        }
        counted += through - below;
        lastMatch = day * kSecondsPerDay + ranks.At(through - 1);
        return false;
    };

    const std::int64_t firstDay = first / kSecondsPerDay, lastDay = last / kSecondsPerDay;
    const int firstSecond = static_cast<int>(first % kSecondsPerDay);
    const int lastSecond = static_cast<int>(last % kSecondsPerDay);
    if (firstDay == lastDay) {
        countDay(firstDay, firstSecond, lastSecond);
    } else if (!countDay(firstDay, firstSecond, kSecondsPerDay - 1)) {
        // The whole days in between, a month (or a year without matches) at a time.
        bool found = false;
        const std::int64_t firstWhole = firstDay + 1;
        const CivilDate c = CivilFromDays(firstWhole);
        int y = c.year, m = c.month, fromDay = c.day;
        std::int64_t monthStart = firstWhole - (c.day - 1);
        while (monthStart + fromDay - 1 < lastDay) {
            if (!HasYear(k.year, y)) {
                y = NextYear(k.year, y + 1);
                if (y < 0) break;
                m = fromDay = 1;
                monthStart = DaysFromCivil(y, 1, 1);
                continue;
            }
            const int length = DaysInMonth(y, m);
            const int toDay =
                static_cast<int>(std::min<std::int64_t>(length, lastDay - 1 - monthStart + 1));
            const std::uint64_t days =
                (k.month >> m & 1)
                    ? crontab.DayMask(y, m) & ~BitsBelow(fromDay) & BitsBelow(toDay + 1)
                    : 0;
            const std::uint64_t matches = std::popcount(days) * ranks.perDay;
            const std::uint64_t wanted = n - counted;
            if (matches >= wanted) {
                const int matchDay = NthBit(days, (wanted - 1) / ranks.perDay);
                lastMatch = (monthStart + matchDay - 1) * kSecondsPerDay +
                            ranks.At((wanted - 1) % ranks.perDay);
                counted = n;
                found = true;
                break;
            }
            if (days != 0) {
                counted += matches;
                lastMatch =
                    (monthStart + 62 - std::countl_zero(days)) * kSecondsPerDay + ranks.lastOfDay;
            }
            monthStart += length;
            fromDay = 1;
            if (++m > 12) {
                m = 1;
                ++y;
                if (y > kLastYear) break;
            }
        }
        if (!found) countDay(lastDay, 0, lastSecond);
    }
    if (lastMatch < 0) return {};
    return {TimeOf(lastMatch), counted};
}

}  // namespace Zent::Scheduler
