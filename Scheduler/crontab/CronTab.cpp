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

const ptime& Epoch() {
    static const ptime epoch(boost::gregorian::date(1970, 1, 1));
    return epoch;
}

// The calendar fields of one second; plain ints, so that a carry may step one past a
// field's range (second 60, day 32, month 13) and simply find nothing there.
struct Civil {
    int year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (Hinnant's algorithms).
constexpr std::int64_t DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Civil ToCivil(const ptime& t) {
    const std::int64_t seconds =
        FloorDiv((t - Epoch()).ticks(), boost::posix_time::time_duration::ticks_per_second());
    std::int64_t z = FloorDiv(seconds, kSecondsPerDay);
    const std::int64_t secondOfDay = seconds - z * kSecondsPerDay;
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yoe + era * 400 + (month <= 2));
    return {year,
            month,
            day,
            static_cast<int>(secondOfDay / 3600),
            static_cast<int>(secondOfDay / 60 % 60),
            static_cast<int>(secondOfDay % 60)};
}

ptime FromCivil(int y, int mo, int d, int h, int mi, int s) {
    const std::int64_t seconds = DaysFromCivil(y, mo, d) * kSecondsPerDay + h * 3600 + mi * 60 + s;
    return Epoch() + boost::posix_time::microseconds(seconds * kMicrosecondsPerSecond);
}

constexpr bool IsLeapYear(int y) {
    return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

constexpr int DaysInMonth(int y, int m) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
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

using YearMask = std::array<std::uint64_t, 3>;

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

std::uint64_t ShiftedDays(std::uint32_t days) {
    return std::uint64_t{days} << 1;
}

}  // namespace

CCronTab::CCronTab(std::string text, std::shared_ptr<CCrontabFieldDayOfMonth> dayOfMonth,
                   std::shared_ptr<CCrontabFieldDayOfWeek> dayOfWeek,
                   std::shared_ptr<CCrontabFieldHour> hour,
                   std::shared_ptr<CCrontabFieldMinute> minute,
                   std::shared_ptr<CCrontabFieldMonth> month,
                   std::shared_ptr<CCrontabFieldSecond> second,
                   std::shared_ptr<CCrontabFieldYear> year)
    : dayOfMonth_(std::move(dayOfMonth)),
      dayOfWeek_(std::move(dayOfWeek)),
      hour_(std::move(hour)),
      minute_(std::move(minute)),
      month_(std::move(month)),
      second_(std::move(second)),
      year_(std::move(year)),
      text_(std::move(text)) {
    if (dayOfMonth_->IsAnyValue() == dayOfWeek_->IsAnyValue()) {
        throw CCrontabValidationException("Both dayOfMonth & dayOfWeek have values.");
    }

    masks_.second = second_->Values().to_ullong();
    masks_.minute = minute_->Values().to_ullong();
    masks_.hour = hour_->Values().to_ullong();
    masks_.hasEmptyField =
        masks_.second == 0 || masks_.minute == 0 || masks_.hour == 0 || month_->Values().none();

    const CCrontabFieldYear::Bits word(~std::uint64_t{0});
    const CCrontabFieldYear::Bits& years = year_->Values();
    masks_.year = {(years & word).to_ullong(), ((years >> 64) & word).to_ullong(),
                   (years >> 128).to_ullong()};

    // Plain days and last-day offsets do not depend on the weekday a month starts with;
    // plain weekdays repeat one week pattern.
    const bool byLengthOnly = !dayOfMonth_->IsAnyValue() &&
                              dayOfMonth_->NearestWeekdayDays().empty() &&
                              !dayOfMonth_->IsLastWeekdayOfMonth();
    const bool plainWeekdays = dayOfMonth_->IsAnyValue() && dayOfWeek_->LastWeekdays().empty() &&
                               dayOfWeek_->NthWeekdays().empty();
    const std::uint64_t weekdays = dayOfWeek_->Values().to_ulong();
    for (unsigned length = 28; length <= 31; ++length) {
        auto& shapes = masks_.days[length - 28];
        for (unsigned weekday = 0; weekday < 7; ++weekday) {
            if (byLengthOnly && weekday > 0) {
                shapes[weekday] = shapes[0];
            } else if (plainWeekdays) {
                shapes[weekday] =
                    ShiftedDays(CCrontabFieldDayOfMonth::WeekdayDays(weekdays, length, weekday));
            } else {
                shapes[weekday] = ShiftedDays(
                    CCrontabFieldDayOfMonth::MonthDays(*dayOfMonth_, *dayOfWeek_, length, weekday));
            }
        }
    }

    // A month enters the search only when some month of its shape can have a matching day,
    // so that a day rule no month satisfies (the 30th of February) costs nothing.
    auto anyDay = [this](unsigned length) {
        for (std::uint64_t days : masks_.days[length - 28]) {
            if (days != 0) return true;
        }
        return false;
    };
    for (int m = 1; m <= 12; ++m) {
        const bool possible = m == 2 ? anyDay(28) || anyDay(29) : anyDay(DaysInMonth(2001, m));
        if (possible && month_->Contains(m)) masks_.month |= std::uint64_t{1} << m;
    }
}

std::uint64_t CCronTab::DayMask(int year, int month) const {
    const int firstWeekday = static_cast<int>((DaysFromCivil(year, month, 1) + 4) % 7);
    return masks_.days[DaysInMonth(year, month) - 28][firstWeekday];
}

boost::posix_time::ptime FindNext(const CCronTab& crontab, boost::posix_time::ptime t) {
    if (t.is_special()) return {};
    const CCronTab::SearchMasks& k = crontab.masks_;
    if (k.hasEmptyField) throw CCrontabValidationException("No value is set.");
    if (k.month == 0) return {};  // no month ever has a matching day
    const Civil start = ToCivil(t);
    if (start.year < kFirstYear || start.year > kLastYear) return {};

    int y = start.year, mo = start.month, d = start.day;
    int h = start.hour, mi = start.minute, s = start.second;
    for (;;) {
        const int year = NextYear(k.year, y);
        if (year < 0) return {};
        if (year != y) {
            y = year;
            mo = d = 1;
            h = mi = s = 0;
        }
        for (int month; (month = NextBit(k.month, mo)) >= 0; ++mo, d = 1, h = mi = s = 0) {
            if (month != mo) {
                mo = month;
                d = 1;
                h = mi = s = 0;
            }
            const std::uint64_t days = crontab.DayMask(y, mo);
            for (int day; (day = NextBit(days, d)) >= 0; ++d, h = mi = s = 0) {
                if (day != d) {
                    d = day;
                    h = mi = s = 0;
                }
                for (int hour; (hour = NextBit(k.hour, h)) >= 0; ++h, mi = s = 0) {
                    if (hour != h) {
                        h = hour;
                        mi = s = 0;
                    }
                    for (int minute; (minute = NextBit(k.minute, mi)) >= 0; ++mi, s = 0) {
                        if (minute != mi) {
                            mi = minute;
                            s = 0;
                        }
                        const int second = NextBit(k.second, s);
                        if (second >= 0) return FromCivil(y, mo, d, h, mi, second);
                    }
                }
            }
        }
        if (++y > kLastYear) return {};
        mo = d = 1;
        h = mi = s = 0;
    }
}

boost::posix_time::ptime FindPrevious(const CCronTab& crontab, boost::posix_time::ptime t) {
    if (t.is_special()) return {};
    const CCronTab::SearchMasks& k = crontab.masks_;
    if (k.hasEmptyField) throw CCrontabValidationException("No value is set.");
    if (k.month == 0) return {};
    Civil start = ToCivil(t);
    if (start.year < kFirstYear) return {};
    if (start.year > kLastYear) start = {kLastYear, 12, 31, 23, 59, 59};

    int y = start.year, mo = start.month, d = start.day;
    int h = start.hour, mi = start.minute, s = start.second;
    for (;;) {
        const int year = PrevYear(k.year, y);
        if (year < 0) return {};
        if (year != y) {
            y = year;
            mo = 12;
            d = 31;
            h = 23;
            mi = s = 59;
        }
        for (int month; (month = PrevBit(k.month, mo)) >= 0; --mo, d = 31, h = 23, mi = s = 59) {
            if (month != mo) {
                mo = month;
                d = 31;
                h = 23;
                mi = s = 59;
            }
            const std::uint64_t days = crontab.DayMask(y, mo);
            for (int day; (day = PrevBit(days, d)) >= 0; --d, h = 23, mi = s = 59) {
                if (day != d) {
                    d = day;
                    h = 23;
                    mi = s = 59;
                }
                for (int hour; (hour = PrevBit(k.hour, h)) >= 0; --h, mi = s = 59) {
                    if (hour != h) {
                        h = hour;
                        mi = s = 59;
                    }
                    for (int minute; (minute = PrevBit(k.minute, mi)) >= 0; --mi, s = 59) {
                        if (minute != mi) {
                            mi = minute;
                            s = 59;
                        }
                        const int second = PrevBit(k.second, s);
                        if (second >= 0) return FromCivil(y, mo, d, h, mi, second);
                    }
                }
            }
        }
        if (--y < kFirstYear) return {};
        mo = 12;
        d = 31;
        h = 23;
        mi = s = 59;
    }
}

}  // namespace Zent::Scheduler
