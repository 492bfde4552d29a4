#include "CrontabFieldDayOfMonth.h"

#include <bit>

#include <boost/date_time/gregorian/gregorian_types.hpp>

namespace Zent::Scheduler {

namespace {

constexpr std::uint32_t DayBit(unsigned day) {
    return std::uint32_t{1} << (day - 1);
}

unsigned WeekdayOf(unsigned day, unsigned firstWeekday) {
    return (firstWeekday + day - 1) % 7;
}

// The weekday nearest to `day`, which falls on `weekday`, without leaving the month: a
// Saturday moves to the Friday before (to the Monday after when it is the 1st), a Sunday to
// the Monday after (to the Friday before when it is the last day).
unsigned NearestWeekday(unsigned day, unsigned length, unsigned weekday) {
    switch (weekday) {
        case 6:
            return day == 1 ? day + 2 : day - 1;
        case 0:
            return day == length ? day - 2 : day + 1;
        default:
            return day;
    }
}

// The set bits of `mask`, each plus `base`, in ascending order.
std::set<std::uint16_t> BitsOf(std::uint64_t mask, unsigned base) {
    std::set<std::uint16_t> values;
    for (; mask != 0; mask &= mask - 1)
        values.insert(static_cast<std::uint16_t>(std::countr_zero(mask) + base));
    return values;
}

}  // namespace

CCrontabFieldDayOfMonth::CCrontabFieldDayOfMonth(const CCrontabFieldDayOfMonth& dayOfMonth,
                                                 const CCrontabFieldDayOfWeek& dayOfWeek, int year,
                                                 int month) {
    const boost::gregorian::date first(year, month, 1);
    const unsigned length = first.end_of_month().day();
    const std::uint32_t days = MonthDays(dayOfMonth, dayOfWeek, length, first.day_of_week());
    values_ = Bits(days);
}

std::uint32_t CCrontabFieldDayOfMonth::FixedDays(const CCrontabFieldDayOfMonth& dayOfMonth,
                                                 unsigned length) {
    const std::uint32_t month = DayBit(length) | (DayBit(length) - 1);
    std::uint32_t days = static_cast<std::uint32_t>(dayOfMonth.values_.to_ulong()) & month;
    // Offset k names day length - k; offsets of length or more name no day.
    const std::uint64_t offsets = dayOfMonth.lastDayOffsets_ & ((std::uint64_t{1} << length) - 1);
    for (std::uint64_t rest = offsets; rest != 0; rest &= rest - 1)
        days |= DayBit(length - std::countr_zero(rest));
    return days;
}

std::array<std::uint32_t, 7> CCrontabFieldDayOfMonth::NearestDays(
    const CCrontabFieldDayOfMonth& dayOfMonth, unsigned length) {
    std::uint32_t nearest = dayOfMonth.nearestWeekdayDays_;
    if (dayOfMonth.lastWeekdayOfMonth_) nearest |= DayBit(length);
    nearest &= DayBit(length) | (DayBit(length) - 1);
    std::array<std::uint32_t, 7> days{};
    for (; nearest != 0; nearest &= nearest - 1) {
        const unsigned day = std::countr_zero(nearest) + 1;
        // The weekday of `day` in a month that starts on a Sunday, then one later for
        // each later first weekday.
        unsigned weekday = (day - 1) % 7;
        for (std::uint32_t& shape : days) {
            shape |= DayBit(NearestWeekday(day, length, weekday));
            weekday = weekday == 6 ? 0 : weekday + 1;
        }
    }
    return days;
}

std::uint32_t CCrontabFieldDayOfMonth::MonthDays(const CCrontabFieldDayOfMonth& dayOfMonth,
                                                 const CCrontabFieldDayOfWeek& dayOfWeek,
                                                 unsigned length, unsigned firstWeekday) {
    if (!dayOfMonth.anyValue_) {
        return FixedDays(dayOfMonth, length) | NearestDays(dayOfMonth, length)[firstWeekday];
    }

    const std::uint32_t monthDays = DayBit(length) | (DayBit(length) - 1);
    return (WeekdayDays(dayOfWeek.Values().to_ulong(), length, firstWeekday) |
            (NthWeekdayDays(dayOfWeek, firstWeekday) & monthDays) |
            LastWeekdayDays(dayOfWeek, length, firstWeekday));
}

std::uint32_t CCrontabFieldDayOfMonth::NthWeekdayDays(const CCrontabFieldDayOfWeek& dayOfWeek,
                                                      unsigned firstWeekday) {
    std::uint32_t days = 0;
    for (std::uint64_t nth = dayOfWeek.nthWeekdays_; nth != 0; nth &= nth - 1) {
        const unsigned bit = std::countr_zero(nth);
        const unsigned weekday = bit / 8, n = bit % 8;
        if (n < 1) continue;
        const unsigned firstSuch = 1 + (weekday + 7 - firstWeekday) % 7;
        const unsigned day = firstSuch + 7u * (n - 1u);
        if (day <= 31) days |= DayBit(day);
    }
    return days;
}

std::uint32_t CCrontabFieldDayOfMonth::LastWeekdayDays(const CCrontabFieldDayOfWeek& dayOfWeek,
                                                       unsigned length, unsigned firstWeekday) {
    std::uint32_t days = 0;
    const unsigned lastWeekday = WeekdayOf(length, firstWeekday);
    for (unsigned weekdays = dayOfWeek.lastWeekdays_; weekdays != 0; weekdays &= weekdays - 1) {
        const unsigned weekday = std::countr_zero(weekdays);
        days |= DayBit(length - (lastWeekday + 7 - weekday) % 7);
    }
    return days;
}

void CCrontabFieldDayOfMonth::Apply(const RangeSpec& r) {
    if (!(r.hasSuffix && r.suffix.nearestWeekday)) {
        CCrontabFieldBase::Apply(r);
        return;
    }
    for (std::uint32_t v = r.start; v <= r.end; v += r.step)
        nearestWeekdayDays_ |= DayBit(v);
}

void CCrontabFieldDayOfMonth::Compile() {
    if (anyValue_) {
        values_.set();
        nearestWeekdayDays_ = 0;
        DropRecords();
        return;
    }
    // Fixed text (matched by other modules and operators): keep verbatim, typos too.
    CheckRecords("Invalid range. DayOfMonth: start=", "Invalid range. DayOfMonth step <= 0");
}

std::set<std::uint16_t> CCrontabFieldDayOfMonth::LastDayOffsets() const {
    return BitsOf(lastDayOffsets_, 0);
}

std::set<std::uint16_t> CCrontabFieldDayOfMonth::NearestWeekdayDays() const {
    return BitsOf(nearestWeekdayDays_, 1);
}

}  // namespace Zent::Scheduler
